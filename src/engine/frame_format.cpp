#include "engine/frame_format.h"

#include <array>

namespace tsa {
namespace {

// A pixel format as a row of numbers: how each chroma plane's width and
// height shrink (log2), and its names.
struct ChromaRow {
  Chroma chroma;
  int widthShift;
  int heightShift;
  bool hasChroma;
  std::string_view pixelName;  // ffmpeg's, before the depth
  std::string_view y4mName;    // Y4M's C, before the depth
};

constexpr std::array<ChromaRow, 5> chromaRows = {{
    {Chroma::Yuv420, 1, 1, true, "yuv420p", "420"},
    {Chroma::Yuv422, 1, 0, true, "yuv422p", "422"},
    {Chroma::Yuv444, 0, 0, true, "yuv444p", "444"},
    {Chroma::Yuv411, 2, 0, true, "yuv411p", "411"},
    {Chroma::Gray, 0, 0, false, "gray", "mono"},
}};

const ChromaRow& rowOf(Chroma chroma) {
  for (const ChromaRow& row : chromaRows) {
    if (row.chroma == chroma) {
      return row;
    }
  }
  return chromaRows.front();
}

// The row one of whose names (`name`) starts `text`, with what follows
// the name in `rest`; null where none does.
const ChromaRow* rowNamedAtStart(std::string_view text, std::string_view ChromaRow::*name,
                                 std::string_view& rest) {
  for (const ChromaRow& row : chromaRows) {
    if (text.starts_with(row.*name)) {
      rest = text.substr((row.*name).size());
      return &row;
    }
  }
  return nullptr;
}

// Reads whole decimal digits, at most 9 of them, into `value`.
bool readDigits(std::string_view digits, std::int64_t& value) {
  if (digits.empty() || digits.size() > 9) {
    return false;
  }
  value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  return true;
}

// Reads a depth above 8 written as digits: 9 to 16.
std::optional<int> readHighDepth(std::string_view digits) {
  std::int64_t depth = 0;
  if (!readDigits(digits, depth) || depth < 9 || depth > 16 || digits.front() == '0') {
    return std::nullopt;
  }
  return static_cast<int>(depth);
}

// The depths above 8 that ffmpeg has a little-endian pixel format for.
bool ffmpegHasDepth(Chroma chroma, int depth) {
  return chroma != Chroma::Yuv411 &&
         (depth == 9 || depth == 10 || depth == 12 || depth == 14 || depth == 16);
}

std::int64_t ceilShift(std::int64_t value, int shift) {
  return (value + (std::int64_t{1} << shift) - 1) >> shift;
}

}  // namespace

std::int64_t FrameFormat::frameBytes() const {
  const ChromaRow& row = rowOf(samples.chroma);
  std::int64_t frameSamples = width * height;
  if (row.hasChroma) {
    frameSamples += 2 * ceilShift(width, row.widthShift) * ceilShift(height, row.heightShift);
  }
  return frameSamples * (samples.bitDepth > 8 ? 2 : 1);
}

bool FrameFormat::fits() const {
  // Sides of up to 9 digits: their products stay far inside 64 bits.
  constexpr std::int64_t maxSide = 999999999;
  return width > 0 && height > 0 && width <= maxSide && height <= maxSide &&
         frameBytes() <= maxFrameBytes;
}

std::string FrameFormat::describe() const {
  return std::to_string(width) + "x" + std::to_string(height) + " " + pixelFormatName(samples);
}

std::string pixelFormatName(const SampleFormat& samples) {
  std::string name(rowOf(samples.chroma).pixelName);
  if (samples.bitDepth > 8) {
    name += std::to_string(samples.bitDepth) + "le";
  }
  return name;
}

std::optional<SampleFormat> parsePixelFormat(std::string_view name) {
  std::string_view depth;
  const ChromaRow* row = rowNamedAtStart(name, &ChromaRow::pixelName, depth);
  if (row == nullptr) {
    return std::nullopt;
  }
  if (depth.empty()) {
    return SampleFormat{row->chroma, 8};
  }
  if (!depth.ends_with("le")) {
    return std::nullopt;  // big-endian forms and other names
  }
  depth.remove_suffix(2);
  const std::optional<int> bits = readHighDepth(depth);
  if (bits && ffmpegHasDepth(row->chroma, *bits)) {
    return SampleFormat{row->chroma, *bits};
  }
  return std::nullopt;
}

bool parseSize(std::string_view text, std::int64_t& width, std::int64_t& height) {
  const std::size_t x = text.find('x');
  return x != std::string_view::npos && readDigits(text.substr(0, x), width) &&
         readDigits(text.substr(x + 1), height) && width > 0 && height > 0;
}

std::optional<SampleFormat> parseY4mColourSpace(std::string_view value) {
  // The 8-bit 4:2:0 forms differ only in where chroma is sited.
  for (const std::string_view siting : {"", "420", "420jpeg", "420mpeg2", "420paldv"}) {
    if (value == siting) {
      return SampleFormat{Chroma::Yuv420, 8};
    }
  }
  std::string_view depth;
  const ChromaRow* row = rowNamedAtStart(value, &ChromaRow::y4mName, depth);
  if (row == nullptr) {
    return std::nullopt;
  }
  if (depth.empty()) {
    return SampleFormat{row->chroma, 8};
  }
  // 420p10, but mono10.
  if (row->hasChroma && !depth.starts_with('p')) {
    return std::nullopt;
  }
  depth.remove_prefix(row->hasChroma ? 1 : 0);
  if (const std::optional<int> bits = readHighDepth(depth)) {
    return SampleFormat{row->chroma, *bits};
  }
  return std::nullopt;
}

std::string y4mColourSpace(const SampleFormat& samples) {
  const ChromaRow& row = rowOf(samples.chroma);
  if (samples.bitDepth <= 8) {
    return samples.chroma == Chroma::Yuv420 ? "420jpeg" : std::string(row.y4mName);
  }
  return std::string(row.y4mName) + (row.hasChroma ? "p" : "") + std::to_string(samples.bitDepth);
}

}  // namespace tsa
