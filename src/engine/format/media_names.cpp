#include "engine/format/media_names.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

namespace tsa {
namespace {

struct SizeName {
  std::string_view name;
  std::int64_t width;
  std::int64_t height;
};

// ffmpeg's table of -video_size names (libavutil's parseutils), and sif.
// clang-format off
constexpr std::array sizeNames = {
    SizeName{"ntsc", 720, 480},     SizeName{"pal", 720, 576},       SizeName{"qntsc", 352, 240},
    SizeName{"qpal", 352, 288},     SizeName{"sntsc", 640, 480},     SizeName{"spal", 768, 576},
    SizeName{"film", 352, 240},     SizeName{"ntsc-film", 352, 240}, SizeName{"sqcif", 128, 96},
    SizeName{"qcif", 176, 144},     SizeName{"cif", 352, 288},       SizeName{"4cif", 704, 576},
    SizeName{"16cif", 1408, 1152},  SizeName{"qqvga", 160, 120},     SizeName{"qvga", 320, 240},
    SizeName{"vga", 640, 480},      SizeName{"svga", 800, 600},      SizeName{"xga", 1024, 768},
    SizeName{"uxga", 1600, 1200},   SizeName{"qxga", 2048, 1536},    SizeName{"sxga", 1280, 1024},
    SizeName{"qsxga", 2560, 2048},  SizeName{"hsxga", 5120, 4096},   SizeName{"wvga", 852, 480},
    SizeName{"wxga", 1366, 768},    SizeName{"wsxga", 1600, 1024},   SizeName{"wuxga", 1920, 1200},
    SizeName{"woxga", 2560, 1600},  SizeName{"wqhd", 2560, 1440},    SizeName{"wqsxga", 3200, 2048},
    SizeName{"wquxga", 3840, 2400}, SizeName{"whsxga", 6400, 4096},  SizeName{"whuxga", 7680, 4800},
    SizeName{"cga", 320, 200},      SizeName{"ega", 640, 350},       SizeName{"hd480", 852, 480},
    SizeName{"hd720", 1280, 720},   SizeName{"hd1080", 1920, 1080},  SizeName{"quadhd", 2560, 1440},
    SizeName{"2k", 2048, 1080},     SizeName{"2kdci", 2048, 1080},   SizeName{"2kflat", 1998, 1080},
    SizeName{"2kscope", 2048, 858}, SizeName{"4k", 4096, 2160},      SizeName{"4kdci", 4096, 2160},
    SizeName{"4kflat", 3996, 2160}, SizeName{"4kscope", 4096, 1716}, SizeName{"nhd", 640, 360},
    SizeName{"hqvga", 240, 160},    SizeName{"wqvga", 400, 240},     SizeName{"fwqvga", 432, 240},
    SizeName{"hvga", 480, 320},     SizeName{"qhd", 960, 540},       SizeName{"uhd2160", 3840, 2160},
    SizeName{"uhd4320", 7680, 4320},
    SizeName{"sif", 352, 240},
};

// The progressive heights a name gives with a p (1080p, 1080p50): 16:9.
// 480p and 576p are left out: their widths differ from one convention to
// the next.
constexpr std::array progressiveSizes = {
    SizeName{"360", 640, 360},    SizeName{"540", 960, 540},    SizeName{"720", 1280, 720},
    SizeName{"1080", 1920, 1080}, SizeName{"1440", 2560, 1440}, SizeName{"2160", 3840, 2160},
    SizeName{"4320", 7680, 4320},
};
// clang-format on

// The rates of NTSC-derived video, as names write them.
struct NamedRate {
  std::string_view text;
  FrameRate rate;
};
constexpr std::array ntscRates = {
    NamedRate{"2398", {24000, 1001}},    NamedRate{"23.976", {24000, 1001}},
    NamedRate{"23.98", {24000, 1001}},   NamedRate{"2997", {30000, 1001}},
    NamedRate{"29.97", {30000, 1001}},   NamedRate{"5994", {60000, 1001}},
    NamedRate{"59.94", {60000, 1001}},   NamedRate{"11988", {120000, 1001}},
    NamedRate{"119.88", {120000, 1001}},
};

// A chroma token, and the pixel format it names at 8 bits and, with the
// depth and le after it, deeper.
struct ChromaToken {
  std::string_view token;
  std::string_view eightBit;
  std::string_view deeper;
};
constexpr std::array chromaTokens = {
    ChromaToken{"420", "yuv420p", "yuv420p"}, ChromaToken{"yuv420", "yuv420p", "yuv420p"},
    ChromaToken{"422", "yuv422p", "yuv422p"}, ChromaToken{"yuv422", "yuv422p", "yuv422p"},
    ChromaToken{"444", "yuv444p", "yuv444p"}, ChromaToken{"yuv444", "yuv444p", "yuv444p"},
    ChromaToken{"400", "gray", "gray"},       ChromaToken{"yuv400", "gray", "gray"},
};

// The depths a depth token may give, and the endings that make one.
constexpr std::array depths = {8, 9, 10, 12, 14, 16};
constexpr std::array depthEndings = {std::string_view("bits"), std::string_view("bit"),
                                     std::string_view("b")};

// Frames of names larger than this many pixels are not taken from a name:
// a frame of even 16 bytes a pixel then fits (see maxFrameBytes).
constexpr std::int64_t maxNamedPixels = maxFrameBytes / 16;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whole decimal digits, at most 6, as a number above 0.
std::optional<std::int64_t> numberOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 6 || !std::ranges::all_of(digits, isDigit)) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
  }
  return value > 0 ? std::optional(value) : std::nullopt;
}

// A rate written as a number: an NTSC rate, whole, or with decimals.
std::optional<FrameRate> rateOf(std::string_view text) {
  for (const NamedRate& named : ntscRates) {
    if (named.text == text) {
      return named.rate;
    }
  }
  const std::size_t dot = text.find('.');
  const std::string_view decimals = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  const std::optional<std::int64_t> whole = numberOf(text.substr(0, dot));
  if (!whole || (dot != std::string_view::npos && !numberOf(decimals) && decimals != "0")) {
    return std::nullopt;
  }
  std::int64_t numerator = *whole;
  std::int64_t denominator = 1;
  for (const char c : decimals) {
    numerator = numerator * 10 + (c - '0');
    denominator *= 10;
  }
  const std::int64_t common = std::gcd(numerator, denominator);
  return FrameRate{numerator / common, denominator / common};
}

// The rate of a token that is only a number, as the one after a size is:
// whole rates up to 300, and the NTSC ones.
std::optional<FrameRate> bareRateOf(std::string_view token) {
  const std::optional<FrameRate> rate = rateOf(token);
  return rate && (rate->denominator != 1 || rate->numerator <= 300) ? rate : std::nullopt;
}

bool endsWith(std::string_view token, std::string_view ending, std::string_view& before) {
  if (token.size() <= ending.size() || !token.ends_with(ending)) {
    return false;
  }
  before = token.substr(0, token.size() - ending.size());
  return true;
}

// True when `text` is a p alone or a p and a rate (the p50 of 1080p50),
// with the rate into `rate`.
bool isProgressiveMark(std::string_view text, std::optional<FrameRate>& rate) {
  if (!text.starts_with('p')) {
    return false;
  }
  const std::string_view after = text.substr(1);
  return after.empty() || (rate = bareRateOf(after));
}

// The size a token gives: WxH (with the rate of 1920x1080p50), 1080p (with
// the rate of 1080p50), a name.
std::optional<FrameSize> sizeOfToken(std::string_view token, std::optional<FrameRate>& rate) {
  const std::size_t x = token.find_first_of("x*");
  if (x != std::string_view::npos) {
    const std::string_view heightText = token.substr(x + 1);
    const std::size_t p = heightText.find('p');
    const auto width = numberOf(token.substr(0, x));
    const auto height = numberOf(heightText.substr(0, p));
    if (width && height && *width * *height <= maxNamedPixels &&
        (p == std::string_view::npos || isProgressiveMark(heightText.substr(p), rate))) {
      return FrameSize{*width, *height};
    }
  }
  const std::size_t p = token.find('p');
  for (const SizeName& size : progressiveSizes) {
    if (p != std::string_view::npos && token.substr(0, p) == size.name &&
        isProgressiveMark(token.substr(p), rate)) {
      return FrameSize{size.width, size.height};
    }
  }
  return sizeNamed(token);
}

// The depth a token gives (10bit, 10b, 10bits; or 10 with bit next).
std::optional<int> depthOfToken(std::string_view token, std::string_view next) {
  std::string_view digits;
  const bool ended = std::ranges::any_of(
      depthEndings, [&](std::string_view ending) { return endsWith(token, ending, digits); });
  if (!ended) {
    if (next != "bit" && next != "bits") {
      return std::nullopt;
    }
    digits = token;
  }
  const std::optional<std::int64_t> depth = numberOf(digits);
  const bool known = depth && std::ranges::find(depths, *depth) != depths.end();
  return known ? std::optional(static_cast<int>(*depth)) : std::nullopt;
}

const ChromaToken* chromaOfToken(std::string_view token) {
  const auto* found = std::ranges::find(chromaTokens, token, &ChromaToken::token);
  return found == chromaTokens.end() ? nullptr : found;
}

// The rate a token gives with its unit: 50fps, 29.97fps, 60hz.
std::optional<FrameRate> rateOfToken(std::string_view token) {
  std::string_view number;
  return endsWith(token, "fps", number) || endsWith(token, "hz", number) ? rateOf(number)
                                                                         : std::nullopt;
}

// The tokens of a source name, in lower case.
std::vector<std::string> tokensOf(std::string_view path) {
  // A URL's name is its path's: the query and fragment say nothing of it.
  if (path.starts_with("http://") || path.starts_with("https://") || path.starts_with("HTTP://") ||
      path.starts_with("HTTPS://")) {
    path = path.substr(0, path.find_first_of("?#"));
  }
  std::string_view stem = path.substr(path.find_last_of("/\\") + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string_view::npos && !std::ranges::all_of(stem.substr(dot + 1), isDigit)) {
    stem = stem.substr(0, dot);
  }
  std::vector<std::string> tokens(1);
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const char c = stem[i];
    const bool decimalPoint =
        c == '.' && i > 0 && i + 1 < stem.size() && isDigit(stem[i - 1]) && isDigit(stem[i + 1]);
    if (!decimalPoint && (c == '_' || c == '.' || c == '-' || c == ' ' || c == '\t')) {
      if (!tokens.back().empty()) {
        tokens.emplace_back();
      }
      continue;
    }
    tokens.back() += c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
  }
  if (tokens.back().empty()) {
    tokens.pop_back();
  }
  return tokens;
}

// The pixel format of a depth and a chroma that a name gives.
std::optional<PixelFormat> pixelsOf(std::optional<int> depth, const ChromaToken* chroma) {
  const ChromaToken& plane = chroma != nullptr ? *chroma : chromaTokens.front();
  if (!depth || *depth == 8) {
    return parsePixelFormat(plane.eightBit);
  }
  return parsePixelFormat(std::string(plane.deeper) + std::to_string(*depth) + "le");
}

}  // namespace

std::string FrameRate::y4mValue() const {
  return std::to_string(numerator) + ":" + std::to_string(denominator);
}

std::string FrameRate::describe() const {
  return denominator == 1 ? std::to_string(numerator)
                          : std::to_string(numerator) + "/" + std::to_string(denominator);
}

std::optional<FrameSize> sizeNamed(std::string_view name) {
  const auto* found = std::ranges::find(sizeNames, name, &SizeName::name);
  return found == sizeNames.end() ? std::nullopt
                                  : std::optional(FrameSize{found->width, found->height});
}

FormatStatement whatNameStates(std::string_view path) {
  const std::vector<std::string> tokens = tokensOf(path);
  FormatStatement states;
  std::optional<int> depth;
  const ChromaToken* chroma = nullptr;
  std::optional<std::size_t> sizeAt;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    const std::string_view next = i + 1 < tokens.size() ? std::string_view(tokens[i + 1]) : "";
    std::optional<FrameRate> rate;
    if (const auto size = sizeOfToken(token, rate); size && !states.size) {
      states.size = size;
      sizeAt = i;
    } else if (const auto pixels = parsePixelFormat(token); pixels && !states.pixels) {
      states.pixels = pixels;
    } else if (const auto deep = depthOfToken(token, next); deep && !depth) {
      depth = deep;
    } else if (const ChromaToken* sampled = chromaOfToken(token);
               sampled != nullptr && chroma == nullptr) {
      chroma = sampled;
    } else {
      rate = rateOfToken(token);
    }
    if (rate && !states.rate) {
      states.rate = rate;
    }
  }
  // The number right after the size is its rate (_1920x1080_50, or
  // _1080x1920_30p), unless it is a depth or a chroma.
  if (sizeAt && *sizeAt + 1 < tokens.size() && !states.rate) {
    std::string_view after = tokens[*sizeAt + 1];
    const std::string_view then =
        *sizeAt + 2 < tokens.size() ? std::string_view(tokens[*sizeAt + 2]) : "";
    if (chromaOfToken(after) == nullptr && !depthOfToken(after, then)) {
      if (after.size() > 1 && after.ends_with('p')) {
        after.remove_suffix(1);
      }
      states.rate = bareRateOf(after);
    }
  }
  // A size with no word of its samples is 8-bit 4:2:0, as test media are
  // named: the deeper and the other ones say so.
  if (!states.pixels && (depth || states.size)) {
    states.pixels = pixelsOf(depth, chroma);
  }
  return states;
}

}  // namespace tsa
