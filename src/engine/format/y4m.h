// YUV4MPEG2 (.y4m): a text header line, then each frame behind a FRAME
// marker line. What the tool reads of such files, what it writes, and where
// their frames lie; a raw file is the same with no header and no markers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/format/frame_format.h"

namespace tsa {

/// Where the frames of a video file lie: after a header, each frame behind
/// a marker of the same length (neither in a raw file).
struct FrameLayout {
  std::int64_t headerBytes = 0;
  std::int64_t markerBytes = 0;
  std::int64_t pictureBytes = FrameFormat{}.frameBytes();

  /// Where frame `frame` (counted from 0) starts: its marker, then its
  /// picture of pictureBytes.
  [[nodiscard]] std::int64_t offsetOf(std::int64_t frame) const {
    return headerBytes + frame * (markerBytes + pictureBytes);
  }
};

namespace y4m {

/// The first bytes of every Y4M file: a file that starts with them is one.
inline constexpr std::string_view signature = "YUV4MPEG2 ";

/// The longest header or frame-marker line read, its line feed included.
inline constexpr std::size_t maxLineBytes = 4096;

/// The marker the tool writes before every frame.
inline constexpr std::string_view frameMarker = "FRAME\n";

/// What a stream header says: the frames' size, and the fields an output
/// copies, as written (empty where the header has none).
struct StreamHeader {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::string frameRate;    // F
  std::string interlacing;  // I
  std::string aspect;       // A
  std::string colourSpace;  // C
  std::string extensions;   // every X field, each after a blank
};

/// Reads the header line at the start of `bytes` into `header` and its
/// length, line feed included, into `headerBytes`. False when the header
/// is broken: no signature, no line feed within maxLineBytes, or no W and
/// H that are whole numbers above 0.
[[nodiscard]] bool readStreamHeader(std::string_view bytes, StreamHeader& header,
                                    std::size_t& headerBytes);

/// The format of the frames a stream with `header` holds; nothing when its
/// C value is one the tool does not know or its frames are too large.
[[nodiscard]] std::optional<FrameFormat> formatOf(const StreamHeader& header);

/// True when a stream with `header` holds frames of `format`: of its size,
/// and of its bytes (a 420jpeg stream holds yuvj420p frames too).
[[nodiscard]] bool holdsFramesOf(const StreamHeader& header, const FrameFormat& format);

/// The stream's format as people read it: "1280x720 yuv420p", or the C
/// value as written where the tool does not know it ("1280x720 444alpha").
[[nodiscard]] std::string describe(const StreamHeader& header);

/// The stream header of an output of `format`, which a Y4M file can hold
/// (see PixelFormat::y4mColourSpace): its W and H, then F as `frameRate`
/// ("30000:1001") or `model` gives it, I and A as `model` gives them
/// (F25:1 Ip A1:1 where nothing does), C as `model` gives it or else as
/// ffmpeg writes it for the format, and `model`'s X fields as written but
/// XLENGTH (the model's own length, not the output's); full-range frames
/// add XCOLORRANGE=FULL where the model has no range.
[[nodiscard]] std::string outputHeader(const FrameFormat& format, const StreamHeader& model,
                                       std::string_view frameRate = {});

/// Two values of one field, as two outputs would write them.
struct FieldDifference {
  std::string model;  // "C420jpeg"
  std::string other;  // "C420mpeg2"
};

/// The first of F (unless `frameRate` gives it), I, A, C (its chroma
/// siting: C420 is C420jpeg) and XCOLORRANGE in which an output of
/// `format` modelled on `other` would say something else than one modelled
/// on `model`; nothing where they agree.
[[nodiscard]] std::optional<FieldDifference> firstDifference(const FrameFormat& format,
                                                             const StreamHeader& model,
                                                             const StreamHeader& other,
                                                             std::string_view frameRate = {});

/// The length of the line at the start of `bytes`, its line feed included,
/// or 0 when no line feed comes within maxLineBytes.
[[nodiscard]] std::size_t lineLength(std::string_view bytes);

/// True when `marker` is a frame marker: FRAME, then nothing or a blank and
/// fields, ended by its only line feed.
[[nodiscard]] bool isFrameMarker(std::span<const unsigned char> marker);

/// True when an output called `name` is written as Y4M: the name ends in
/// .y4m, in any case.
[[nodiscard]] bool namesY4m(std::string_view name);

}  // namespace y4m
}  // namespace tsa
