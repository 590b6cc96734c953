// A list checked without writing anything (--check): every splice against
// the frames its source holds, and what the output would be.
#pragma once

#include "engine/copy/copy_plan.h"
#include "engine/frame.h"
#include "engine/list/edit_list.h"
#include "engine/system/console.h"

namespace tsa {

/// Walks the list (from its first line, as the pre-scan leaves it) and
/// checks every splice whose source is a regular file against the frames
/// the file holds: a raw file its length over the frame's bytes, a Y4M file
/// what follows its header over marker and picture, where every marker the
/// splice reads is like the first frame's. Pipes and devices, and Y4M files
/// whose markers differ, are not checked. Returns SourceTooShort after
/// printing the first splice that runs past its source's end (its line,
/// the source, the frames it holds and those asked for); else Success after
/// a summary line (splices, frames, format, the output's form and bytes,
/// the sources not checked), which a quiet console keeps to itself.
[[nodiscard]] ExitStatus checkList(EditListReader& pEditListFile, const CopyPlan& plan,
                                   Console& console);

/// The same check of every splice, without the summary, before a copy
/// (--strict): SourceTooShort after printing the first splice that runs
/// past its source's end; else Success, printing nothing. Leaves the list
/// rewound for the copy pass.
[[nodiscard]] ExitStatus checkRanges(EditListReader& pEditListFile, const CopyPlan& plan,
                                     Console& console);

}  // namespace tsa
