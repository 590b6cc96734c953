// Pixel formats by name: the bytes of a frame, as ffmpeg's rawvideo reads
// and writes them, the names ffmpeg has that the tool refuses, and the C
// values of Y4M files.
#include <gtest/gtest.h>

#include <string>

#include "engine/format/frame_format.h"

#ifdef TSA_HAVE_LIBAVUTIL
extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}
#endif

namespace tsa {
namespace {

TEST(PixelFormat, AFrameTakesTheBytesFfmpegGivesIt) {
  // Every figure as ffmpeg 5.1's rawvideo reads it (ffprobe's packet size).
  struct Case {
    const char* name;
    std::int64_t odd;  // 37x23
    std::int64_t hd;   // 1920x1080
  };
  const Case cases[] = {
      {"yuv420p", 1307, 3110400},       {"yuv422p10le", 3450, 8294400},
      {"yuv440p", 1739, 4147200},       {"yuv410p", 971, 2332800},
      {"yuvj411p", 1311, 3110400},      {"yuva420p", 2158, 5184000},
      {"yuva444p16le", 6808, 16588800}, {"ya16be", 3404, 8294400},
      {"gray", 851, 2073600},           {"gray12be", 1702, 4147200},
      {"gbrp", 2553, 6220800},          {"gbrap10le", 6808, 16588800},
      {"nv12", 1307, 3110400},          {"nv24", 2553, 6220800},
      {"p010be", 2614, 6220800},        {"p216le", 3450, 8294400},
      {"yuyv422", 1748, 4147200},       {"uyyvyy411", 1380, 3110400},
      {"y210le", 3496, 8294400},        {"ayuv64le", 6808, 16588800},
      {"rgb24", 2553, 6220800},         {"bgra", 3404, 8294400},
      {"rgb48le", 5106, 12441600},      {"rgb565be", 1702, 4147200},
      {"x2rgb10le", 3404, 8294400},     {"rgb8", 851, 2073600},
      {"xyz12le", 5106, 12441600},
  };
  for (const Case& c : cases) {
    const PixelFormat pixels = parsePixelFormat(c.name).value_or(PixelFormat());
    EXPECT_EQ(pixels.name(), c.name);
    EXPECT_EQ(pixels.frameBytes(37, 23), c.odd) << c.name;
    EXPECT_EQ(pixels.frameBytes(1920, 1080), c.hd) << c.name;
  }
}

TEST(PixelFormat, NamesAsFfmpegReadsThemAndAsY4mFilesGiveThem) {
  // A name without its byte order is the little-endian form, as ffmpeg
  // reads it on every machine the tool is built for.
  const std::pair<const char*, const char*> aliases[] = {
      {"p010", "p010le"}, {"gray16", "gray16le"}, {"rgb32", "bgra"}, {"bgr32", "rgba"}};
  for (const auto& [alias, name] : aliases) {
    EXPECT_EQ(parsePixelFormat(alias).value_or(PixelFormat()).name(), name) << alias;
  }
  // Names ffmpeg has that the tool refuses, with a reason, and names it
  // does not have.
  const std::pair<const char*, bool> refusals[] = {
      {"pal8", true}, {"monow", true},        {"bayer_rggb16le", true}, {"grayf32", true},
      {"cuda", true}, {"yuv411p10le", false}, {"nv12le", false},        {"yuv420", false},
      {"", false},    {"gray16bele", false}};
  for (const auto& [name, known] : refusals) {
    EXPECT_FALSE(parsePixelFormat(name)) << name;
    EXPECT_EQ(whyNotTaken(name).empty(), !known) << name;
  }
  // A Y4M file holds the formats ffmpeg writes there.
  int y4mFormats = 0;
  for (const PixelFormat& pixels : everyPixelFormat()) {
    const std::string_view c = pixels.y4mColourSpace();
    if (c.empty()) {
      continue;
    }
    ++y4mFormats;
    // Little-endian only; a yuvj form reads back as its yuv twin.
    const std::optional<PixelFormat> read = parseY4mColourSpace(c);
    EXPECT_FALSE(pixels.bigEndian()) << pixels.name();
    EXPECT_TRUE(read && read->sameBytesAs(pixels) && (*read == pixels) != pixels.fullRange()) << c;
  }
  // gray, 5 deeper grays, 411, 3 x (8-bit, 5 deeper), 444alpha, 3 yuvj.
  EXPECT_EQ(y4mFormats, 1 + 5 + 1 + 3 * 6 + 1 + 3);
  EXPECT_EQ(parseY4mColourSpace("444alpha")->name(), "yuva444p");
  EXPECT_EQ(parseY4mColourSpace("420paldv")->name(), "yuv420p");
  EXPECT_FALSE(parseY4mColourSpace("420p11"));
  EXPECT_FALSE(parsePixelFormat("nv12")->sameBytesAs(PixelFormat()));
}

#ifdef TSA_HAVE_LIBAVUTIL

// libavutil, ffmpeg's own table, as the oracle: every name the tool takes
// has its bytes, byte order and alpha at every size, and every name it
// knows is taken or refused with a reason.
TEST(PixelFormat, EveryNameAgreesWithLibavutil) {
  const std::pair<int, int> sizes[] = {{1, 1},     {2, 2},       {3, 5},       {37, 23},
                                       {353, 289}, {1920, 1080}, {4095, 2161}, {3840, 2160}};
  int checked = 0;
  for (const PixelFormat& pixels : everyPixelFormat()) {
    const AVPixelFormat id = av_get_pix_fmt(pixels.name().c_str());
    if (id == AV_PIX_FMT_NONE) {
      continue;  // a later ffmpeg's name
    }
    ++checked;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(id);
    EXPECT_EQ(pixels.bigEndian(), (descriptor->flags & AV_PIX_FMT_FLAG_BE) != 0) << pixels.name();
    EXPECT_EQ(pixels.hasAlpha(), (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0) << pixels.name();
    for (const auto& [width, height] : sizes) {
      EXPECT_EQ(pixels.frameBytes(width, height), av_image_get_buffer_size(id, width, height, 1))
          << pixels.name() << " " << width << "x" << height;
    }
  }
  EXPECT_GT(checked, 150);
  for (const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_next(nullptr); descriptor != nullptr;
       descriptor = av_pix_fmt_desc_next(descriptor)) {
    EXPECT_TRUE(parsePixelFormat(descriptor->name) || !whyNotTaken(descriptor->name).empty())
        << descriptor->name << ": neither taken nor refused";
  }
}

#else

TEST(PixelFormat, EveryNameAgreesWithLibavutil) {
  GTEST_SKIP() << "no libavutil to check against (Debian's libavutil-dev; never on Windows)";
}

#endif

}  // namespace
}  // namespace tsa
