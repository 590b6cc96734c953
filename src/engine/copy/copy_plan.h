// What the copy pass needs to know besides the list: the pre-scan's
// findings and the run's choices, shared by the copy and by the check that
// stands in for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/format/frame_format.h"
#include "engine/source/frame_source.h"
#include "engine/system/console.h"

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
  FrameFormat format;                   // the run's frames
  bool shareBlocks = true;              // frames may share the sources' blocks
  std::string frameRate;                // a Y4M output's F, when given ("30000:1001")
  ConnectionUse connections{4, false};  // a large splice from a server may take at once
};

/// The stream header a Y4M output of `plan` starts with, or would, were the
/// output Y4M: its fields give the output's frame rate and aspect.
[[nodiscard]] std::string y4mHeaderOf(const CopyPlan& plan);

/// The stream header a Y4M output of `plan` starts with (F, I, A and C from
/// the first Y4M source; see y4m::outputHeader), or nothing for a raw one.
[[nodiscard]] std::string outputHeaderOf(const CopyPlan& plan);

/// For a Y4M output, whose header takes F, I, A, C and the colour range
/// from the first Y4M source: prints a warning that names the first field
/// in which a later Y4M source says otherwise, both sources and what the
/// output says. Nothing for a raw output or sources that agree. Under
/// `strict` such a difference is a refusal instead: false after saying so.
[[nodiscard]] bool reportHeaderDifferences(const CopyPlan& plan, bool strict, Console& console);

}  // namespace tsa
