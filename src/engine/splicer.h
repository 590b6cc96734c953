// The copy pass: frame runs from the sources to the output, with a live
// progress line, walked as a plain loop of reads, writes and prints.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/console.h"
#include "engine/edit_list.h"
#include "engine/file.h"
#include "engine/frame_source.h"
#include "engine/progress_lines.h"

namespace tsa {

/// Outputs of this size and more are written past the page cache (where
/// the file system allows it), and their sources read past it: such a
/// test set will not stay in memory anyway, and the copy then costs the
/// processor next to nothing and leaves the machine's cached data alone.
inline constexpr std::int64_t uncachedOutputBytes = std::int64_t{2} << 30;

/// What the copy pass needs to know besides the list.
struct CopyPlan {
  std::int64_t totalFrames = 0;     // the sum of the list's frame counts
  std::vector<SourceForm> sources;  // every distinct source, as the pre-scan found it
  bool y4mOutput = false;           // the output is written as Y4M
  std::int64_t uncachedFrom = uncachedOutputBytes;
  FrameFormat format;       // the run's frames
  bool shareBlocks = true;  // frames may share the sources' blocks
  std::string frameRate;    // a Y4M output's F, when given ("30000:1001")
};

/// The stream header a Y4M output of `plan` starts with (F, I, A and C from
/// the first Y4M source; see y4m::outputHeader), or nothing for a raw one.
[[nodiscard]] std::string outputHeaderOf(const CopyPlan& plan);

/// Copies, for every instruction of the list (read again from its first
/// line), `numFr` whole frames from frame `seekFr` of the source to the end
/// of `pOutFile`, through `frameBuf` (frameBufBytes(plan.format), see
/// frame_buffer.h). A Y4M output starts with a stream header (F, I, A and C
/// from the first Y4M source) and has a marker before every frame. Prints a
/// progress line per frame once the output holds the whole frame, and a
/// closing line per splice; a splice's source is opened only once every
/// frame before it is in the output and its lines are printed. Returns
/// Success, or after printing the reason: SourceDisappeared (5),
/// SourceTooShort (6: also a Y4M frame without its marker),
/// WriteOrMemoryError (7). A stop signal (see stop.h) ends the pass between
/// two frames with Interrupted, after a line that says how many frames the
/// output keeps. After a failure or a stop the output holds exactly the
/// frames whose progress lines were printed, whole. An output of
/// `plan.uncachedFrom` bytes or more goes past the page cache where it can.
[[nodiscard]] ExitStatus runAssembly(EditListReader& pEditListFile, OutputFile& pOutFile,
                                     std::span<unsigned char> frameBuf, const CopyPlan& plan,
                                     Console& console);

}  // namespace tsa
