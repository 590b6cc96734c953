#include "engine/format/y4m.h"

#include <algorithm>

namespace tsa::y4m {
namespace {

// A W or H value: decimal digits, above 0, and not absurdly long.
bool readDimension(std::string_view digits, std::int64_t& value) {
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
  }
  return value > 0;
}

}  // namespace

std::size_t lineLength(std::string_view bytes) {
  const std::size_t end = bytes.substr(0, maxLineBytes).find('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

bool readStreamHeader(std::string_view bytes, StreamHeader& header, std::size_t& headerBytes) {
  headerBytes = lineLength(bytes);
  if (headerBytes == 0 || !bytes.starts_with(signature)) {
    return false;
  }
  header = StreamHeader{};
  bool width = false;
  bool height = false;
  // Fields are a letter and a value, one blank apart; others are skipped.
  std::string_view fields = bytes.substr(signature.size(), headerBytes - signature.size() - 1);
  while (!fields.empty()) {
    const std::size_t end = std::min(fields.find(' '), fields.size());
    const std::string_view field = fields.substr(0, end);
    fields.remove_prefix(std::min(end + 1, fields.size()));
    if (field.empty()) {
      continue;
    }
    const std::string_view value = field.substr(1);
    switch (field.front()) {
      case 'W':
        width = readDimension(value, header.width);
        break;
      case 'H':
        height = readDimension(value, header.height);
        break;
      case 'F':
        header.frameRate = value;
        break;
      case 'I':
        header.interlacing = value;
        break;
      case 'A':
        header.aspect = value;
        break;
      case 'C':
        header.colourSpace = value;
        break;
      case 'X':
        header.extensions.append(" ").append(field);
        break;
      default:
        break;  // fields of later versions
    }
  }
  return width && height;
}

std::optional<FrameFormat> formatOf(const StreamHeader& header) {
  const std::optional<PixelFormat> pixels = parseY4mColourSpace(header.colourSpace);
  if (!pixels) {
    return std::nullopt;
  }
  const FrameFormat format{header.width, header.height, *pixels};
  return format.fits() ? std::optional(format) : std::nullopt;
}

bool holdsFramesOf(const StreamHeader& header, const FrameFormat& format) {
  const std::optional<FrameFormat> frames = formatOf(header);
  return frames && frames->sameFramesAs(format);
}

std::string describe(const StreamHeader& header) {
  const std::optional<PixelFormat> pixels = parseY4mColourSpace(header.colourSpace);
  return std::to_string(header.width) + "x" + std::to_string(header.height) + " " +
         (pixels ? pixels->name() : header.colourSpace);
}

std::string outputHeader(const FrameFormat& format, const StreamHeader& model,
                         std::string_view frameRate) {
  const auto field = [](char tag, std::string_view value, std::string_view otherwise) {
    return std::string(" ") + tag + std::string(value.empty() ? otherwise : value);
  };
  // Full-range frames say so, as ffmpeg writes them, unless the model
  // says how its range is.
  std::string extensions = model.extensions;
  if (format.pixels.fullRange() && extensions.find(" XCOLORRANGE=") == std::string::npos) {
    extensions += " XCOLORRANGE=FULL";
  }
  return std::string(signature) + "W" + std::to_string(format.width) + " H" +
         std::to_string(format.height) +
         field('F', frameRate.empty() ? std::string_view(model.frameRate) : frameRate, "25:1") +
         field('I', model.interlacing, "p") + field('A', model.aspect, "1:1") +
         field('C', model.colourSpace, format.pixels.y4mColourSpace()) + extensions + "\n";
}

bool isFrameMarker(std::span<const unsigned char> marker) {
  const std::string_view text(reinterpret_cast<const char*>(marker.data()), marker.size());
  return text.starts_with("FRAME") && text.find('\n') == text.size() - 1 &&
         (text.size() == frameMarker.size() || text[5] == ' ');
}

bool namesY4m(std::string_view name) {
  constexpr std::string_view extension = ".y4m";
  return name.size() >= extension.size() &&
         std::equal(
             extension.begin(), extension.end(), name.end() - extension.size(),
             [](char wanted, char c) { return wanted == (c >= 'A' && c <= 'Z' ? c + 32 : c); });
}

}  // namespace tsa::y4m
