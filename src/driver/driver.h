// Run control: the command line, the overwrite question and the order of a
// run's steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "engine/console.h"
#include "engine/frame.h"

namespace tsa {

/// Runs the tool on `argc`/`argv`: prints the usage text or the banner,
/// opens the edit list, asks (reading one line of `answers`) before an
/// existing output is replaced, pre-scans the list, copies the frames and
/// reports the elapsed time on `console`. Returns the run's exit status.
[[nodiscard]] ExitStatus runDriver(int argc, const char* const* argv, std::FILE* answers,
                                   Console& console);

/// True when the answer to the overwrite question consents: its first
/// character is y or Y.
[[nodiscard]] bool isConsent(std::string_view answer);

/// Prints the closing report for a run of `elapsedSeconds` whole seconds.
void printDoneLine(Console& console, std::int64_t elapsedSeconds);

/// The one buffer every frame passes through, aligned to a memory page: the
/// kernel copies into and out of an aligned buffer faster.
inline constexpr std::align_val_t frameBufAlignment{4096};
struct FrameBufferFree {
  void operator()(unsigned char* memory) const { ::operator delete[](memory, frameBufAlignment); }
};
using FrameBuffer = std::unique_ptr<unsigned char[], FrameBufferFree>;

/// Allocates the frame buffer of `bytes` bytes; on failure prints why and
/// returns null.
[[nodiscard]] FrameBuffer allocateFrameBuffer(std::size_t bytes, Console& console);

}  // namespace tsa
