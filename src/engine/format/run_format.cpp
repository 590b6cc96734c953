#include "engine/format/run_format.h"

#include <algorithm>

namespace tsa {
namespace {

// One part of the format: how to read it from a statement, and how to tell
// two values apart.
template <typename Value>
struct Part {
  std::optional<Value> FormatStatement::*field;
  bool (*same)(const Value&, const Value&);
};

bool sameSize(const FrameSize& a, const FrameSize& b) { return a == b; }
bool samePixels(const PixelFormat& a, const PixelFormat& b) { return a.sameBytesAs(b); }

constexpr Part<FrameSize> sizePart{&FormatStatement::size, sameSize};
constexpr Part<PixelFormat> pixelsPart{&FormatStatement::pixels, samePixels};

// Where the value of `part` comes from, and the source that gives it.
template <typename Value>
struct Decided {
  std::optional<Value> value;
  FormatOrigin origin = FormatOrigin::Default;
  std::size_t giver = 0;
};

template <typename Value>
Decided<Value> decidePart(std::span<const StatingSource> sources, const FormatStatement& options,
                          std::optional<Value> FormatStatement::*field) {
  if (options.*field) {
    return {options.*field, FormatOrigin::Options, 0};
  }
  for (const bool byHeader : {true, false}) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (sources[i].byHeader == byHeader && sources[i].states.*field) {
        return {sources[i].states.*field, byHeader ? FormatOrigin::Header : FormatOrigin::Names, i};
      }
    }
  }
  return {};
}

// The first raw source whose name states another value of `part` than
// `decided`, where a header or a name decided it; every such source where
// the options did, into `overruled`.
template <typename Value>
std::optional<FormatConflict> checkPart(std::span<const StatingSource> sources,
                                        const Decided<Value>& decided, const Part<Value>& part,
                                        std::vector<std::size_t>& overruled) {
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::optional<Value>& stated = sources[i].states.*part.field;
    if (sources[i].byHeader || !stated || part.same(*stated, *decided.value)) {
      continue;
    }
    if (decided.origin == FormatOrigin::Options) {
      overruled.push_back(i);
    } else {
      return FormatConflict{i, decided.giver};
    }
  }
  return std::nullopt;
}

// The earlier of two conflicts in list order.
std::optional<FormatConflict> firstOf(const std::optional<FormatConflict>& a,
                                      const std::optional<FormatConflict>& b) {
  if (!a || !b) {
    return a ? a : b;
  }
  return a->source <= b->source ? a : b;
}

}  // namespace

FormatStatement statementOf(const y4m::StreamHeader& header) {
  FormatStatement states;
  if (const std::optional<FrameFormat> format = y4m::formatOf(header)) {
    states.size = FrameSize{format->width, format->height};
    states.pixels = format->pixels;
  }
  std::string rate = header.frameRate;
  std::ranges::replace(rate, ':', '/');
  FrameRate parsed;
  if (parseFrameRate(rate, parsed.numerator, parsed.denominator)) {
    states.rate = parsed;
  }
  return states;
}

bool RunFormat::chosen() const {
  return sizeFrom != FormatOrigin::Default || pixelsFrom != FormatOrigin::Default ||
         rateFrom != FormatOrigin::Default;
}

bool RunFormat::fromNames() const {
  return sizeFrom == FormatOrigin::Names || pixelsFrom == FormatOrigin::Names ||
         rateFrom == FormatOrigin::Names;
}

FrameFormat RunFormat::asStated(const FormatStatement& states) const {
  FrameFormat stated = format;
  if (states.size) {
    stated.width = states.size->width;
    stated.height = states.size->height;
  }
  stated.pixels = states.pixels.value_or(format.pixels);
  return stated;
}

std::string RunFormat::origins() const {
  std::vector<std::string_view> from;
  for (const auto& [origin, words] : {std::pair{FormatOrigin::Options, "the options"},
                                      std::pair{FormatOrigin::Header, "the Y4M headers"},
                                      std::pair{FormatOrigin::Names, "the source names"}}) {
    if (sizeFrom == origin || pixelsFrom == origin || rateFrom == origin) {
      from.emplace_back(words);
    }
  }
  std::string text;
  for (std::size_t i = 0; i < from.size(); ++i) {
    text += i == 0 ? "" : (i + 1 == from.size() ? " and " : ", ");
    text += from[i];
  }
  return text;
}

RunFormat decideRunFormat(std::span<const StatingSource> sources, const FormatStatement& options,
                          const FrameFormat& defaultFormat) {
  RunFormat run;
  run.format = defaultFormat;
  const Decided<FrameSize> size = decidePart(sources, options, sizePart.field);
  const Decided<PixelFormat> pixels = decidePart(sources, options, pixelsPart.field);
  const Decided<FrameRate> rate = decidePart(sources, options, &FormatStatement::rate);
  if (size.value) {
    run.format.width = size.value->width;
    run.format.height = size.value->height;
    run.sizeFrom = size.origin;
    run.conflict = checkPart(sources, size, sizePart, run.overruled);
  }
  if (pixels.value) {
    run.format.pixels = *pixels.value;
    run.pixelsFrom = pixels.origin;
    run.conflict = firstOf(run.conflict, checkPart(sources, pixels, pixelsPart, run.overruled));
  }
  run.rate = rate.value;
  run.rateFrom = rate.origin;
  // A name that both options overrule is one warning.
  std::sort(run.overruled.begin(), run.overruled.end());
  run.overruled.erase(std::unique(run.overruled.begin(), run.overruled.end()), run.overruled.end());
  return run;
}

}  // namespace tsa
