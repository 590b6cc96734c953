// The pre-scan: a whole list checked before any frame is copied, and the
// format of the run's frames decided from what the options and the sources
// state.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/format/frame_format.h"
#include "engine/format/media_names.h"
#include "engine/frame.h"
#include "engine/list/edit_list.h"
#include "engine/source/frame_source.h"
#include "engine/system/console.h"

namespace tsa {

/// The pre-scan's result: a status, and on Success the sum of all frame
/// counts, every distinct source as found, in order of first appearance,
/// and the format of the run's frames.
struct ScanResult {
  ExitStatus status = ExitStatus::Success;
  std::int64_t totalFrames = 0;
  std::vector<SourceForm> sources;
  FrameFormat format;
  bool formatFromY4m = false;     // every file is Y4M, and the format the first's
  std::optional<FrameRate> rate;  // the rate the options or the names give
};

/// What a run asks of its pre-scan.
struct ScanRules {
  FrameFormat defaultFormat;        // the tool's, where nothing names one
  FormatStatement format;           // what the options say of the frames
  int maxSources = maxSourceFiles;  // distinct source names allowed
  bool strict = false;              // every doubt is a refusal (--strict)
};

/// Reads the whole list, adds up the frame counts, allows at most
/// `rules.maxSources` distinct source names (compared byte for byte) and
/// checks, in order of first appearance, that every distinct source is
/// there to be read. Decides the run's format part by part (see
/// decideRunFormat): what `rules.format` gives, the first Y4M header's,
/// what the raw sources' names state, `rules.defaultFormat`; checks that
/// every Y4M source holds frames of that format and that no raw source's
/// name states another size or pixel format than a header or an earlier
/// name. Where a part comes from names, prints a line that says the
/// format; then a warning for each name the options overrule, where any
/// part was chosen, for each raw file that is not a whole number of
/// frames, and for each frame count read only in part ("1e2" as 1).
/// Under `rules.strict` the last two are refusals: a count read in part
/// is a malformed line, a raw file of part frames cannot be used, whether
/// or not a part was chosen. Leaves the list rewound for the copy pass. A
/// malformed line (4), a name too many (8) or a source that cannot be read
/// or used (9) is reported on `console`; the first problem met ends the
/// scan.
[[nodiscard]] ScanResult scanEditList(EditListReader& pEditListFile, Console& console,
                                      const ScanRules& rules = {});

}  // namespace tsa
