#include "engine/format/y4m.h"

#include <algorithm>
#include <array>

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

namespace {

// The value of the X field `name` ("XCOLORRANGE=") among `extensions`, or
// nothing.
std::optional<std::string_view> extension(std::string_view extensions, std::string_view name) {
  const std::size_t at = extensions.find(std::string(" ") + std::string(name));
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view rest = extensions.substr(at + 1 + name.size());
  return rest.substr(0, rest.find(' '));
}

// A model's X fields as an output copies them: all but XLENGTH, a count of
// the model's own frames.
std::string copiedExtensions(std::string_view extensions) {
  std::string copied;
  while (!extensions.empty()) {
    extensions.remove_prefix(1);  // the blank before each field
    const std::string_view field = extensions.substr(0, extensions.find(' '));
    extensions.remove_prefix(field.size());
    if (!field.starts_with("XLENGTH=")) {
      copied.append(" ").append(field);
    }
  }
  return copied;
}

// What an output of `format` modelled on `model` says in each field that
// tells how its frames are shown: F (as `frameRate` or the model gives
// it), I, A, C and the colour range.
std::array<std::string, 5> shownFields(const FrameFormat& format, const StreamHeader& model,
                                       std::string_view frameRate) {
  const auto field = [](char tag, std::string_view value, std::string_view otherwise) {
    std::string shown(1, tag);
    shown.append(value.empty() ? otherwise : value);
    return shown;
  };
  // Full-range frames say so, as ffmpeg writes them, unless the model
  // says how its range is.
  const std::optional<std::string_view> range = extension(model.extensions, "XCOLORRANGE=");
  const std::string shownRange = range                       ? "XCOLORRANGE=" + std::string(*range)
                                 : format.pixels.fullRange() ? "XCOLORRANGE=FULL"
                                                             : "";
  return {field('F', frameRate.empty() ? std::string_view(model.frameRate) : frameRate, "25:1"),
          field('I', model.interlacing, "p"), field('A', model.aspect, "1:1"),
          field('C', model.colourSpace, format.pixels.y4mColourSpace()), shownRange};
}

}  // namespace

std::string outputHeader(const FrameFormat& format, const StreamHeader& model,
                         std::string_view frameRate) {
  const std::array<std::string, 5> shown = shownFields(format, model, frameRate);
  std::string extensions = copiedExtensions(model.extensions);
  if (!shown[4].empty() && !extension(model.extensions, "XCOLORRANGE=")) {
    extensions += " " + shown[4];
  }
  return std::string(signature) + "W" + std::to_string(format.width) + " H" +
         std::to_string(format.height) + " " + shown[0] + " " + shown[1] + " " + shown[2] + " " +
         shown[3] + extensions + "\n";
}

std::optional<FieldDifference> firstDifference(const FrameFormat& format, const StreamHeader& model,
                                               const StreamHeader& other,
                                               std::string_view frameRate) {
  const std::array<std::string, 5> modelShows = shownFields(format, model, frameRate);
  const std::array<std::string, 5> otherShows = shownFields(format, other, frameRate);
  // C420 is C420jpeg, as readers take it.
  const auto sited = [](const std::string& field) {
    return field == "C420" ? std::string("C420jpeg") : field;
  };
  for (std::size_t i = 0; i < modelShows.size(); ++i) {
    if (sited(modelShows[i]) != sited(otherShows[i])) {
      const auto said = [](const std::string& field) {
        return field.empty() ? std::string("no XCOLORRANGE") : field;
      };
      return FieldDifference{said(modelShows[i]), said(otherShows[i])};
    }
  }
  return std::nullopt;
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
