#include "engine/format/frame_format.h"

#include <array>
#include <cstdint>

namespace tsa {
namespace {

// A plane as the table gives it: the bytes of one step across it (a sample,
// or in a packed format the group of samples that repeats), and whether its
// steps are chroma, which shrink by the format's shifts across and down.
struct Plane {
  int stepBytes = 0;  // 0: the format has no such plane
  bool chroma = false;
};

constexpr Plane full(int stepBytes) { return {stepBytes, false}; }
constexpr Plane chroma(int stepBytes) { return {stepBytes, true}; }

// What else a row says of its format.
enum Traits : unsigned {
  None = 0,
  BothOrders = 1,  // deeper samples: the name takes le or be
  Alpha = 2,       // one plane or sample is alpha
  FullRange = 4,   // a yuvj form: the bytes of its yuv twin, full range
};

// One pixel format, as ffmpeg's pixel-format table describes it: how
// chroma shrinks (log2, across and down) and its planes.
struct Row {
  std::string_view name;  // without its le or be where it has BothOrders
  int widthShift;
  int heightShift;
  std::array<Plane, 4> planes;
  unsigned traits;
  std::string_view y4m;  // the C of its Y4M form (little-endian), or none
};

// Every raw format of fixed bytes that ffmpeg 5.1 names, and the plain ones
// of later releases (vuya and after), by family. yuv420p comes first: it is
// the default.
// clang-format off
constexpr std::array rows = {
    // Planar YUV, and the full-range yuvj forms of the same bytes.
    Row{"yuv420p",      1, 1, {full(1), chroma(1), chroma(1)}, None,       "420jpeg"},
    Row{"yuv422p",      1, 0, {full(1), chroma(1), chroma(1)}, None,       "422"},
    Row{"yuv444p",      0, 0, {full(1), chroma(1), chroma(1)}, None,       "444"},
    Row{"yuv440p",      0, 1, {full(1), chroma(1), chroma(1)}, None,       ""},
    Row{"yuv411p",      2, 0, {full(1), chroma(1), chroma(1)}, None,       "411"},
    Row{"yuv410p",      2, 2, {full(1), chroma(1), chroma(1)}, None,       ""},
    Row{"yuv420p9",     1, 1, {full(2), chroma(2), chroma(2)}, BothOrders, "420p9"},
    Row{"yuv420p10",    1, 1, {full(2), chroma(2), chroma(2)}, BothOrders, "420p10"},
    Row{"yuv420p12",    1, 1, {full(2), chroma(2), chroma(2)}, BothOrders, "420p12"},
    Row{"yuv420p14",    1, 1, {full(2), chroma(2), chroma(2)}, BothOrders, "420p14"},
    Row{"yuv420p16",    1, 1, {full(2), chroma(2), chroma(2)}, BothOrders, "420p16"},
    Row{"yuv422p9",     1, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "422p9"},
    Row{"yuv422p10",    1, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "422p10"},
    Row{"yuv422p12",    1, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "422p12"},
    Row{"yuv422p14",    1, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "422p14"},
    Row{"yuv422p16",    1, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "422p16"},
    Row{"yuv444p9",     0, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "444p9"},
    Row{"yuv444p10",    0, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "444p10"},
    Row{"yuv444p12",    0, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "444p12"},
    Row{"yuv444p14",    0, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "444p14"},
    Row{"yuv444p16",    0, 0, {full(2), chroma(2), chroma(2)}, BothOrders, "444p16"},
    Row{"yuv440p10",    0, 1, {full(2), chroma(2), chroma(2)}, BothOrders, ""},
    Row{"yuv440p12",    0, 1, {full(2), chroma(2), chroma(2)}, BothOrders, ""},
    Row{"yuvj420p",     1, 1, {full(1), chroma(1), chroma(1)}, FullRange,  "420jpeg"},
    Row{"yuvj422p",     1, 0, {full(1), chroma(1), chroma(1)}, FullRange,  "422"},
    Row{"yuvj444p",     0, 0, {full(1), chroma(1), chroma(1)}, FullRange,  "444"},
    Row{"yuvj440p",     0, 1, {full(1), chroma(1), chroma(1)}, FullRange,  ""},
    Row{"yuvj411p",     2, 0, {full(1), chroma(1), chroma(1)}, FullRange,  ""},
    // Planar YUV with alpha, and gray with alpha.
    Row{"yuva420p",     1, 1, {full(1), chroma(1), chroma(1), full(1)}, Alpha, ""},
    Row{"yuva422p",     1, 0, {full(1), chroma(1), chroma(1), full(1)}, Alpha, ""},
    Row{"yuva444p",     0, 0, {full(1), chroma(1), chroma(1), full(1)}, Alpha, "444alpha"},
    Row{"yuva420p9",    1, 1, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva420p10",   1, 1, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva420p16",   1, 1, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva422p9",    1, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva422p10",   1, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva422p12",   1, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva422p16",   1, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva444p9",    0, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva444p10",   0, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva444p12",   0, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"yuva444p16",   0, 0, {full(2), chroma(2), chroma(2), full(2)}, Alpha | BothOrders, ""},
    Row{"ya8",          0, 0, {full(2)}, Alpha,              ""},
    Row{"ya16",         0, 0, {full(4)}, Alpha | BothOrders, ""},
    // Gray.
    Row{"gray",         0, 0, {full(1)}, None,       "mono"},
    Row{"gray9",        0, 0, {full(2)}, BothOrders, "mono9"},
    Row{"gray10",       0, 0, {full(2)}, BothOrders, "mono10"},
    Row{"gray12",       0, 0, {full(2)}, BothOrders, "mono12"},
    Row{"gray14",       0, 0, {full(2)}, BothOrders, "mono14"},
    Row{"gray16",       0, 0, {full(2)}, BothOrders, "mono16"},
    // Planar RGB, G then B then R, and with alpha.
    Row{"gbrp",         0, 0, {full(1), full(1), full(1)}, None,       ""},
    Row{"gbrp9",        0, 0, {full(2), full(2), full(2)}, BothOrders, ""},
    Row{"gbrp10",       0, 0, {full(2), full(2), full(2)}, BothOrders, ""},
    Row{"gbrp12",       0, 0, {full(2), full(2), full(2)}, BothOrders, ""},
    Row{"gbrp14",       0, 0, {full(2), full(2), full(2)}, BothOrders, ""},
    Row{"gbrp16",       0, 0, {full(2), full(2), full(2)}, BothOrders, ""},
    Row{"gbrap",        0, 0, {full(1), full(1), full(1), full(1)}, Alpha,              ""},
    Row{"gbrap10",      0, 0, {full(2), full(2), full(2), full(2)}, Alpha | BothOrders, ""},
    Row{"gbrap12",      0, 0, {full(2), full(2), full(2), full(2)}, Alpha | BothOrders, ""},
    Row{"gbrap14",      0, 0, {full(2), full(2), full(2), full(2)}, Alpha | BothOrders, ""},
    Row{"gbrap16",      0, 0, {full(2), full(2), full(2), full(2)}, Alpha | BothOrders, ""},
    // Semi-planar: luma, then one plane of chroma pairs.
    Row{"nv12",         1, 1, {full(1), chroma(2)}, None,       ""},
    Row{"nv21",         1, 1, {full(1), chroma(2)}, None,       ""},
    Row{"nv16",         1, 0, {full(1), chroma(2)}, None,       ""},
    Row{"nv24",         0, 0, {full(1), chroma(2)}, None,       ""},
    Row{"nv42",         0, 0, {full(1), chroma(2)}, None,       ""},
    Row{"nv20",         1, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p010",         1, 1, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p012",         1, 1, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p016",         1, 1, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p210",         1, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p212",         1, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p216",         1, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p410",         0, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p412",         0, 0, {full(2), chroma(4)}, BothOrders, ""},
    Row{"p416",         0, 0, {full(2), chroma(4)}, BothOrders, ""},
    // Packed YUV: a step holds the samples of a pixel, or of two (4:2:2)
    // or four (4:1:1) pixels across.
    Row{"yuyv422",      1, 0, {chroma(4)}, None,               ""},
    Row{"uyvy422",      1, 0, {chroma(4)}, None,               ""},
    Row{"yvyu422",      1, 0, {chroma(4)}, None,               ""},
    Row{"uyyvyy411",    2, 0, {chroma(6)}, None,               ""},
    Row{"y210",         1, 0, {chroma(8)}, BothOrders,         ""},
    Row{"y212",         1, 0, {chroma(8)}, BothOrders,         ""},
    Row{"y216",         1, 0, {chroma(8)}, BothOrders,         ""},
    Row{"vyu444",       0, 0, {full(3)},   None,               ""},
    Row{"ayuv",         0, 0, {full(4)},   Alpha,              ""},
    Row{"uyva",         0, 0, {full(4)},   Alpha,              ""},
    Row{"vuya",         0, 0, {full(4)},   Alpha,              ""},
    Row{"vuyx",         0, 0, {full(4)},   None,               ""},
    Row{"xv30",         0, 0, {full(4)},   BothOrders,         ""},
    Row{"v30x",         0, 0, {full(4)},   BothOrders,         ""},
    Row{"xv36",         0, 0, {full(8)},   BothOrders,         ""},
    Row{"xv48",         0, 0, {full(8)},   BothOrders,         ""},
    Row{"ayuv64",       0, 0, {full(8)},   Alpha | BothOrders, ""},
    // Packed RGB (and XYZ): a step holds one pixel.
    Row{"rgb24",        0, 0, {full(3)},  None,               ""},
    Row{"bgr24",        0, 0, {full(3)},  None,               ""},
    Row{"rgba",         0, 0, {full(4)},  Alpha,              ""},
    Row{"bgra",         0, 0, {full(4)},  Alpha,              ""},
    Row{"argb",         0, 0, {full(4)},  Alpha,              ""},
    Row{"abgr",         0, 0, {full(4)},  Alpha,              ""},
    Row{"rgb0",         0, 0, {full(4)},  None,               ""},
    Row{"bgr0",         0, 0, {full(4)},  None,               ""},
    Row{"0rgb",         0, 0, {full(4)},  None,               ""},
    Row{"0bgr",         0, 0, {full(4)},  None,               ""},
    Row{"rgb48",        0, 0, {full(6)},  BothOrders,         ""},
    Row{"bgr48",        0, 0, {full(6)},  BothOrders,         ""},
    Row{"rgba64",       0, 0, {full(8)},  Alpha | BothOrders, ""},
    Row{"bgra64",       0, 0, {full(8)},  Alpha | BothOrders, ""},
    Row{"rgb96",        0, 0, {full(12)}, BothOrders,         ""},
    Row{"rgba128",      0, 0, {full(16)}, Alpha | BothOrders, ""},
    Row{"x2rgb10",      0, 0, {full(4)},  BothOrders,         ""},
    Row{"x2bgr10",      0, 0, {full(4)},  BothOrders,         ""},
    Row{"rgb565",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"bgr565",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"rgb555",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"bgr555",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"rgb444",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"bgr444",       0, 0, {full(2)},  BothOrders,         ""},
    Row{"rgb8",         0, 0, {full(1)},  None,               ""},
    Row{"bgr8",         0, 0, {full(1)},  None,               ""},
    Row{"rgb4_byte",    0, 0, {full(1)},  None,               ""},
    Row{"bgr4_byte",    0, 0, {full(1)},  None,               ""},
    Row{"xyz12",        0, 0, {full(6)},  BothOrders,         ""},
};

// The names ffmpeg has whose frames are not raw bytes of a fixed layout.
constexpr std::string_view paletted = "its frames are indices into a palette of their own";
constexpr std::string_view bitPacked = "its pixels are packed into bits, not whole bytes";
constexpr std::string_view bayer = "it holds a camera sensor's Bayer mosaic, not video frames";
constexpr std::string_view floating = "its samples are floating-point numbers";
constexpr std::string_view hardware = "it names frames in a device's memory, not bytes in a file";

struct Refusal {
  std::string_view name;  // without its le or be where it has both
  bool bothOrders;
  std::string_view why;
};

constexpr std::array refusals = {
    Refusal{"pal8", false, paletted},
    Refusal{"monow", false, bitPacked},       Refusal{"monob", false, bitPacked},
    Refusal{"rgb4", false, bitPacked},        Refusal{"bgr4", false, bitPacked},
    Refusal{"bayer_bggr8", false, bayer},     Refusal{"bayer_rggb8", false, bayer},
    Refusal{"bayer_gbrg8", false, bayer},     Refusal{"bayer_grbg8", false, bayer},
    Refusal{"bayer_bggr16", true, bayer},     Refusal{"bayer_rggb16", true, bayer},
    Refusal{"bayer_gbrg16", true, bayer},     Refusal{"bayer_grbg16", true, bayer},
    Refusal{"grayf16", true, floating},       Refusal{"grayf32", true, floating},
    Refusal{"yaf16", true, floating},         Refusal{"yaf32", true, floating},
    Refusal{"gbrpf16", true, floating},       Refusal{"gbrpf32", true, floating},
    Refusal{"gbrapf16", true, floating},      Refusal{"gbrapf32", true, floating},
    Refusal{"rgbf16", true, floating},        Refusal{"rgbf32", true, floating},
    Refusal{"rgbaf16", true, floating},       Refusal{"rgbaf32", true, floating},
    Refusal{"vaapi", false, hardware},        Refusal{"vdpau", false, hardware},
    Refusal{"qsv", false, hardware},          Refusal{"mmal", false, hardware},
    Refusal{"cuda", false, hardware},         Refusal{"xvmc", false, hardware},
    Refusal{"dxva2_vld", false, hardware},    Refusal{"d3d11va_vld", false, hardware},
    Refusal{"d3d11", false, hardware},        Refusal{"d3d12", false, hardware},
    Refusal{"videotoolbox_vld", false, hardware}, Refusal{"mediacodec", false, hardware},
    Refusal{"drm_prime", false, hardware},    Refusal{"opencl", false, hardware},
    Refusal{"vulkan", false, hardware},       Refusal{"amf_surface", false, hardware},
};
// clang-format on

const Row& rowAt(int row) { return rows[static_cast<std::size_t>(row)]; }

// True when `name` is `stem`, or where the format comes in both byte
// orders `stem` with le or be; `bigEndian` then says which. As ffmpeg does
// on little-endian machines, `stem` alone is the little-endian form.
bool namedBy(std::string_view name, std::string_view stem, bool bothOrders, bool& bigEndian) {
  bigEndian = false;
  if (!bothOrders || !name.starts_with(stem)) {
    return name == stem;
  }
  const std::string_view order = name.substr(stem.size());
  bigEndian = order == "be";
  return order.empty() || order == "le" || order == "be";
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

std::int64_t ceilShift(std::int64_t value, int shift) {
  return (value + (std::int64_t{1} << shift) - 1) >> shift;
}

}  // namespace

std::string PixelFormat::name() const {
  const Row& row = rowAt(row_);
  std::string name(row.name);
  if ((row.traits & BothOrders) != 0) {
    name += bigEndian_ ? "be" : "le";
  }
  return name;
}

std::int64_t PixelFormat::frameBytes(std::int64_t width, std::int64_t height) const {
  const Row& row = rowAt(row_);
  std::int64_t bytes = 0;
  for (const Plane& plane : row.planes) {
    const std::int64_t across = plane.chroma ? ceilShift(width, row.widthShift) : width;
    const std::int64_t down = plane.chroma ? ceilShift(height, row.heightShift) : height;
    bytes += plane.stepBytes * across * down;
  }
  return bytes;
}

std::string_view PixelFormat::y4mColourSpace() const {
  return bigEndian_ ? std::string_view() : rowAt(row_).y4m;
}

bool PixelFormat::fullRange() const { return (rowAt(row_).traits & FullRange) != 0; }

bool PixelFormat::hasAlpha() const { return (rowAt(row_).traits & Alpha) != 0; }

bool PixelFormat::sameBytesAs(const PixelFormat& other) const {
  // A yuvj form differs from its yuv twin only in the range of its values.
  const auto twin = [](const PixelFormat& format) {
    return format.fullRange() ? parsePixelFormat("yuv" + format.name().substr(4)).value() : format;
  };
  return twin(*this) == twin(other);
}

std::optional<PixelFormat> parsePixelFormat(std::string_view name) {
  // ffmpeg's own names for the native order of 32-bit RGB.
  if (name == "rgb32" || name == "bgr32") {
    name = name == "rgb32" ? "bgra" : "rgba";
  }
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    const bool bothOrders = (rowAt(row).traits & BothOrders) != 0;
    bool bigEndian = false;
    if (namedBy(name, rowAt(row).name, bothOrders, bigEndian)) {
      return PixelFormat(row, bigEndian);
    }
  }
  return std::nullopt;
}

std::string_view whyNotTaken(std::string_view name) {
  for (const Refusal& refusal : refusals) {
    bool bigEndian = false;
    if (namedBy(name, refusal.name, refusal.bothOrders, bigEndian)) {
      return refusal.why;
    }
  }
  return {};
}

std::vector<PixelFormat> everyPixelFormat() {
  std::vector<PixelFormat> formats;
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    formats.push_back(PixelFormat(row, false));
    if ((rowAt(row).traits & BothOrders) != 0) {
      formats.push_back(PixelFormat(row, true));
    }
  }
  return formats;
}

std::optional<PixelFormat> parseY4mColourSpace(std::string_view value) {
  // The 8-bit 4:2:0 forms differ only in where chroma is sited.
  for (const std::string_view siting : {"", "420", "420mpeg2", "420paldv"}) {
    if (value == siting) {
      return PixelFormat();
    }
  }
  for (const PixelFormat& format : everyPixelFormat()) {
    if (!value.empty() && format.y4mColourSpace() == value && !format.fullRange()) {
      return format;
    }
  }
  return std::nullopt;
}

bool FrameFormat::fits() const {
  // Sides of up to 9 digits; every format takes a byte a pixel at least,
  // so past maxFrameBytes pixels no product needs to be formed.
  constexpr std::int64_t maxSide = 999999999;
  return width > 0 && height > 0 && width <= maxSide && height <= maxSide &&
         width * height <= maxFrameBytes && frameBytes() <= maxFrameBytes;
}

std::string FrameFormat::describe() const {
  return std::to_string(width) + "x" + std::to_string(height) + " " + pixels.name();
}

bool parseSize(std::string_view text, std::int64_t& width, std::int64_t& height) {
  const std::size_t x = text.find('x');
  return x != std::string_view::npos && readDigits(text.substr(0, x), width) &&
         readDigits(text.substr(x + 1), height) && width > 0 && height > 0;
}

bool parseFrameRate(std::string_view text, std::int64_t& numerator, std::int64_t& denominator) {
  const std::size_t slash = text.find('/');
  denominator = 1;
  return readDigits(text.substr(0, slash), numerator) && numerator > 0 &&
         (slash == std::string_view::npos ||
          (readDigits(text.substr(slash + 1), denominator) && denominator > 0));
}

}  // namespace tsa
