// A tool's whole process: the standard streams set up, the run, and the
// end by the run's status (or by the stop signal that ended it).
#pragma once

#include "engine/format/frame_format.h"

namespace tsa {

/// Runs the tool on the process's arguments with `defaultFormat` as the
/// frames it takes when nothing names a format, and returns the status the
/// process ends with. Called by each tool's main, which names the format.
[[nodiscard]] int runTool(int argc, char** argv, const FrameFormat& defaultFormat);

}  // namespace tsa
