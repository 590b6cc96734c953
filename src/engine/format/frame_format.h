// The format layer, on no other: what a frame is and how a container
// lays frames out.
// The format of a run's frames: their size and pixel format, the names
// people give pixel formats (ffmpeg's, and Y4M's C values), and the bytes
// of one frame. The copy never looks inside a frame; only its size comes
// from here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/frame.h"

namespace tsa {

/// A pixel format, one of the rows of the tool's table of the raw formats
/// ffmpeg names: per plane the bytes of a step across it, which planes
/// hold chroma and how far chroma shrinks across and down.
class PixelFormat {
 public:
  /// yuv420p.
  constexpr PixelFormat() = default;

  /// The name as ffmpeg spells it: yuv420p, nv12, p010le, rgb24.
  [[nodiscard]] std::string name() const;

  /// The bytes of one frame of `width` x `height` pixels, as ffmpeg's
  /// rawvideo reads and writes it: each plane's rows back to back, with no
  /// padding, chroma rounded up where the size is odd.
  [[nodiscard]] std::int64_t frameBytes(std::int64_t width, std::int64_t height) const;

  /// The C value a Y4M file gives these frames, as ffmpeg writes it
  /// (420jpeg, 422p10, mono, 444alpha), or empty where a Y4M file cannot
  /// hold them.
  [[nodiscard]] std::string_view y4mColourSpace() const;

  /// True for the full-range twins of planar YUV (yuvj420p): the same
  /// bytes, which a Y4M file marks XCOLORRANGE=FULL.
  [[nodiscard]] bool fullRange() const;

  /// True when frames of `other` take the same bytes laid out the same way
  /// (yuvj420p and yuv420p).
  [[nodiscard]] bool sameBytesAs(const PixelFormat& other) const;

  [[nodiscard]] bool bigEndian() const { return bigEndian_; }
  [[nodiscard]] bool hasAlpha() const;

  friend bool operator==(const PixelFormat&, const PixelFormat&) = default;

 private:
  friend std::optional<PixelFormat> parsePixelFormat(std::string_view name);
  friend std::vector<PixelFormat> everyPixelFormat();
  constexpr PixelFormat(int row, bool bigEndian) : row_(row), bigEndian_(bigEndian) {}

  int row_ = 0;
  bool bigEndian_ = false;
};

/// Finds the pixel format ffmpeg calls `name`: every raw format of fixed
/// bytes, and as ffmpeg does on little-endian machines, a name without its
/// le or be for the little-endian form (p010 is p010le) and rgb32 and bgr32
/// for bgra and rgba. Nothing for any other name.
[[nodiscard]] std::optional<PixelFormat> parsePixelFormat(std::string_view name);

/// Why the tool does not take `name`, a pixel format ffmpeg has whose
/// frames are not raw bytes of a fixed layout (paletted, bit-packed, Bayer,
/// floating point, hardware surfaces); empty for any other name.
[[nodiscard]] std::string_view whyNotTaken(std::string_view name);

/// Every pixel format the tool takes, in the table's order.
[[nodiscard]] std::vector<PixelFormat> everyPixelFormat();

/// Reads a Y4M C value: 420jpeg (also 420, 420mpeg2, 420paldv, or none at
/// all), 411, 422, 444, 444alpha and the pNN forms (420p10), mono and
/// monoNN. Nothing for a value the tool does not know.
[[nodiscard]] std::optional<PixelFormat> parseY4mColourSpace(std::string_view value);

/// The largest frame the tool takes: two of them, and the room around them,
/// make the frame buffer, and frame offsets stay far inside 64 bits.
inline constexpr std::int64_t maxFrameBytes = std::int64_t{1} << 30;

/// The frames of a run: 1920x1080 yuv420p until told otherwise. The frames
/// a run takes when nothing names a format are each tool's own, and reach
/// the engine as a value (see ScanRules).
struct FrameFormat {
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  PixelFormat pixels;
  friend bool operator==(const FrameFormat&, const FrameFormat&) = default;

  /// The bytes of one frame.
  [[nodiscard]] std::int64_t frameBytes() const { return pixels.frameBytes(width, height); }

  /// True when a frame has at least one byte and at most maxFrameBytes.
  [[nodiscard]] bool fits() const;

  /// The format as people read it: "1920x1080 yuv420p".
  [[nodiscard]] std::string describe() const;

  /// True when frames of `other` are these frames: the same size and
  /// bytes (a Y4M file's 420jpeg frames are a run's yuvj420p frames).
  [[nodiscard]] bool sameFramesAs(const FrameFormat& other) const {
    return width == other.width && height == other.height && pixels.sameBytesAs(other.pixels);
  }
};

/// Reads a size written WxH: two whole numbers above 0. Nothing when it is
/// malformed; whether the frame fits is the caller's to check.
[[nodiscard]] bool parseSize(std::string_view text, std::int64_t& width, std::int64_t& height);

/// Reads a frame rate written N or N/D: whole numbers above 0, into
/// `numerator` and `denominator` (1 where there is no D).
[[nodiscard]] bool parseFrameRate(std::string_view text, std::int64_t& numerator,
                                  std::int64_t& denominator);

}  // namespace tsa
