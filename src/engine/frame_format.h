// The format of a run's frames: size, chroma subsampling and bit depth, the
// names people give them (ffmpeg's pixel formats, Y4M's C values), and the
// bytes of one frame. The copy never looks inside a frame; only its size
// comes from here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/frame.h"

namespace tsa {

/// How the chroma planes are subsampled; Gray has none (luma only).
enum class Chroma { Yuv420, Yuv422, Yuv444, Yuv411, Gray };

/// What a sample is: the chroma planes it comes with and its bit depth (8
/// to 16; above 8 a sample takes two bytes, little-endian).
struct SampleFormat {
  Chroma chroma = Chroma::Yuv420;
  int bitDepth = 8;
  friend bool operator==(const SampleFormat&, const SampleFormat&) = default;
};

/// The largest frame the tool takes: two of them, and the room around them,
/// make the frame buffer, and frame offsets stay far inside 64 bits.
inline constexpr std::int64_t maxFrameBytes = std::int64_t{1} << 30;

/// The frames of a run. Planes lie as planar formats lay them: luma
/// width x height, then each chroma plane rounded up where the size is odd.
struct FrameFormat {
  std::int64_t width = frameWidth;
  std::int64_t height = frameHeight;
  SampleFormat samples;
  friend bool operator==(const FrameFormat&, const FrameFormat&) = default;

  /// The bytes of one frame.
  [[nodiscard]] std::int64_t frameBytes() const;

  /// True when a frame has at least one byte and at most maxFrameBytes.
  [[nodiscard]] bool fits() const;

  /// The format as people read it: "1920x1080 yuv420p".
  [[nodiscard]] std::string describe() const;
};

/// The build's format, which a run takes when nothing else names one.
inline constexpr FrameFormat defaultFrameFormat{};

/// The pixel format's name as ffmpeg spells it: yuv420p, yuv422p10le, gray,
/// gray16le; depths ffmpeg has no name for are spelled the same way.
[[nodiscard]] std::string pixelFormatName(const SampleFormat& samples);

/// Reads a pixel format name that ffmpeg has: yuv420p, yuv422p, yuv444p,
/// yuv411p, gray, and their 9-, 10-, 12-, 14- and 16-bit little-endian
/// forms. Nothing for any other name.
[[nodiscard]] std::optional<SampleFormat> parsePixelFormat(std::string_view name);

/// Reads a size written WxH: two whole numbers above 0. Nothing when it is
/// malformed; whether the frame fits is the caller's to check.
[[nodiscard]] bool parseSize(std::string_view text, std::int64_t& width, std::int64_t& height);

/// Reads a Y4M C value: 420, 420jpeg, 420mpeg2, 420paldv, 411, 422, 444 and
/// their pNN forms (420p10), mono and monoNN. Nothing for a value the tool
/// does not know (444alpha, a typo). An absent C is 420jpeg.
[[nodiscard]] std::optional<SampleFormat> parseY4mColourSpace(std::string_view value);

/// The C value ffmpeg writes for `samples`: 420jpeg, 420p10, 422, mono,
/// mono16, ...
[[nodiscard]] std::string y4mColourSpace(const SampleFormat& samples);

}  // namespace tsa
