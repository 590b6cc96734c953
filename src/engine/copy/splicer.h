// The copy layer, the top of the engine, on the list layer: the copy pass
// and what lies below it, and the check that stands in for it.
// The copy pass: frame runs from the sources to the output, with a live
// progress line, walked as a plain loop of reads, writes and prints.
#pragma once

#include <span>

#include "engine/copy/copy_plan.h"
#include "engine/copy/frame_checksums.h"
#include "engine/copy/frame_reference.h"
#include "engine/copy/progress_lines.h"
#include "engine/list/edit_list.h"
#include "engine/source/frame_source.h"
#include "engine/system/console.h"
#include "engine/system/file.h"

namespace tsa {

/// Copies, for every instruction of the list (read again from its first
/// line), `numFr` whole frames from frame `seekFr` of the source to the end
/// of `pOutFile`, through `frameBuf` (frameBufBytes(plan.format, slotCount(
/// plan.format, checksums != nullptr, ...)), see frame_buffer.h). A Y4M output
/// starts with a stream header (F, I, A and C from the first Y4M source)
/// and has a marker before every frame. Prints a progress line per frame
/// once the output holds the whole frame, and a closing line per splice; a
/// splice's source is opened only once every frame before it is in the
/// output and its lines are printed; where the next line reads the same
/// source again, it is kept open for it, and a server's bytes for it may
/// come while this splice's do. Returns Success, or after printing the
/// reason: SourceDisappeared (5), SourceTooShort (6: also a Y4M frame
/// without its marker, or a compressed member's damage),
/// WriteOrMemoryError (7). A stop signal (see stop.h) ends the pass between
/// two frames with Interrupted, after a line that says how many frames the
/// output keeps. After a failure or a stop the output holds exactly the
/// frames whose progress lines were printed, whole. An output of
/// `plan.uncachedFrom` bytes or more goes past the page cache where it can.
/// Every frame the output receives is handed to `checksums`, where there
/// are any, and so is the count of frames the output keeps. Where a
/// `reference` is given, every frame is compared with its line there before
/// the output receives it, and the first that differs ends the pass with
/// DiffersFromReference (11), the output keeping the frames before it.
[[nodiscard]] ExitStatus runAssembly(EditListReader& pEditListFile, OutputFile& pOutFile,
                                     std::span<unsigned char> frameBuf, const CopyPlan& plan,
                                     Console& console, FrameChecksums* checksums = nullptr,
                                     const FrameReference* reference = nullptr);

}  // namespace tsa
