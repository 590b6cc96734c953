// Run control: the command line, the overwrite question and the order of a
// run's steps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/format/frame_format.h"
#include "engine/frame.h"
#include "engine/system/console.h"

namespace tsa {

/// Runs the tool on `argc`/`argv`, taking frames of `defaultFormat` where
/// nothing names a format: prints the usage text or the banner, opens the
/// edit list, asks (reading one line of `answers`) before an existing
/// output is replaced, pre-scans the list, copies the frames and reports
/// the elapsed time on `console`. Returns the run's exit status.
[[nodiscard]] ExitStatus runDriver(int argc, const char* const* argv, std::FILE* answers,
                                   Console& console, const FrameFormat& defaultFormat);

/// The stream every message of a run with `arguments` (the program name
/// first) goes to: standard error when the frames go to standard output,
/// or a command line that names - as its output cannot be run; else
/// standard output.
[[nodiscard]] std::FILE* messageStream(const std::vector<std::string>& arguments,
                                       const FrameFormat& defaultFormat);

/// True when the answer to the overwrite question consents: its first
/// character is y or Y.
[[nodiscard]] bool isConsent(std::string_view answer);

/// Prints the closing report for a run of `elapsedSeconds` whole seconds.
void printDoneLine(Console& console, std::int64_t elapsedSeconds);

}  // namespace tsa
