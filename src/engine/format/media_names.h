// What the names of test media say of their frames: ffmpeg's names of
// frame sizes, and the conventions raw clips are named by
// (BasketballDrive_1920x1080_50, Tango2_3840x2160_60fps_10bit_420,
// foreman_cif, crowd_run_1080p50).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/format/frame_format.h"

namespace tsa {

/// A frame's width and height in pixels.
struct FrameSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

/// Frames a second, as a fraction: 30000/1001.
struct FrameRate {
  std::int64_t numerator = 0;
  std::int64_t denominator = 1;
  friend bool operator==(const FrameRate&, const FrameRate&) = default;

  /// As a Y4M F value: "30000:1001".
  [[nodiscard]] std::string y4mValue() const;

  /// As people read it: "30", or "30000/1001".
  [[nodiscard]] std::string describe() const;
};

/// What one source, or the options, say of a run's frames, part by part;
/// a part that goes unsaid is empty.
struct FormatStatement {
  std::optional<FrameSize> size;
  std::optional<PixelFormat> pixels;
  std::optional<FrameRate> rate;

  [[nodiscard]] bool statesAnything() const { return size || pixels || rate; }
};

/// The size ffmpeg's -video_size calls `name` (cif, 4cif, hd1080,
/// uhd2160, ...: its whole table), and sif for 352x240; exact, in lower
/// case. Nothing for any other name.
[[nodiscard]] std::optional<FrameSize> sizeNamed(std::string_view name);

/// What the name of the source `path` states: its last path component,
/// without its extension, is split into tokens at _ . - and blanks (a dot
/// between two digits stays: 29.97fps) and read without regard to case:
///   size: WxH (or W*H, also with a rate: 1920x1080p50), 360p, 540p,
///     720p, 1080p, 1440p, 2160p, 4320p (also with a rate, 1080p50), or a
///     size name (see sizeNamed);
///   pixel format: a name ffmpeg gives one (yuv420p10le, nv12), or a depth
///     (8bit, 10bit, 10b, 10-bit) and/or a chroma (420, 422, 444, 400,
///     yuv420, ...): a depth alone is 4:2:0, a chroma alone 8-bit, and a
///     chroma counts only where the name states a size or a depth too; a
///     name that states a size and nothing of its samples states yuv420p;
///   rate: NNfps, NNHz, the number right after the size (_1920x1080_50,
///     _1080x1920_30p), or 1080p50's; 2398, 2997, 5994, 11988 and 23.976,
///     29.97, 59.94 are the NTSC rates (24000/1001, ...).
/// Where a name states a part twice, the first statement counts.
[[nodiscard]] FormatStatement whatNameStates(std::string_view path);

}  // namespace tsa
