// What the names of test media state of their frames, and ffmpeg's names
// of frame sizes.
#include "engine/format/media_names.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <string>

#ifdef TSA_HAVE_LIBAVUTIL
extern "C" {
#include <libavutil/parseutils.h>
}
#endif

namespace tsa {
namespace {

std::string describe(const FormatStatement& states) {
  std::string text;
  if (states.size) {
    text += std::to_string(states.size->width) + "x" + std::to_string(states.size->height);
  }
  text += " ";
  if (states.pixels) {
    text += states.pixels->name();
  }
  text += " ";
  if (states.rate) {
    text += states.rate->describe();
  }
  return text;
}

TEST(MediaNames, ANameStatesSizeDepthChromaAndRate) {
  struct Case {
    const char* name;
    const char* states;  // size, pixel format and rate, blank where unsaid
  };
  const Case cases[] = {
      // The test conditions' and the collections' own names.
      {"BasketballDrive_1920x1080_50.yuv", "1920x1080 yuv420p 50"},
      {"RaceHorses_416x240_30.yuv", "416x240 yuv420p 30"},
      {"Tango2_3840x2160_60fps_10bit_420.yuv", "3840x2160 yuv420p10le 60"},
      {"NebutaFestival_2560x1600_60_10bit_crop.yuv", "2560x1600 yuv420p10le 60"},
      {"ArenaOfValor_1920x1080_60_8bit_420.yuv", "1920x1080 yuv420p 60"},
      {"CrowdRun_1920x1080p50.yuv", "1920x1080 yuv420p 50"},
      {"BlueSky_360p25.yuv", "640x360 yuv420p 25"},
      {"Kimono_960x540p.yuv", "960x540 yuv420p "},
      {"GregoryCactus_fr216_515_1080x1920_30p_420_10b_SDR.yuv", "1080x1920 yuv420p10le 30"},
      {"intro_540p_2997.yuv", "960x540 yuv420p 30000/1001"},
      {"foreman_cif.yuv", "352x288 yuv420p "},
      {"akiyo_qcif.yuv", "176x144 yuv420p "},
      {"crowd_run_1080p50.yuv", "1920x1080 yuv420p 50"},
      {"/data/clips_1080p/park_joy_720p.yuv", "1280x720 yuv420p "},
      {"C:\\clips\\sintel_2160p.yuv", "3840x2160 yuv420p "},
      {"https://media.example/clips/park_joy_1080p50.y4m?X-Sig=a.b_cif", "1920x1080 yuv420p 50"},
      // Names that state nothing: no size, or a chroma with nothing else.
      {"a.yuv", "  "},
      {"interview_2019_12.yuv", "  "},
      {"route_444.yuv", "  "},
      {"0x10_clip.yuv", "  "},
      // 480p and 576p have widths of more than one convention.
      {"clip_480p.yuv", "  "},
      {"clip_576p25.yuv", "  "},
      {"clip_1920x1080px.yuv", "  "},
      // Case, blanks, dashes and dots, and W*H.
      {"FOREMAN_CIF.YUV", "352x288 yuv420p "},
      {"Clip 1280X720 10-bit.yuv", "1280x720 yuv420p10le "},
      {"clip.640*480.at.25fps.yuv", "640x480 yuv420p 25"},
      // Depths and chromas alone and together, and pixel-format names.
      {"clip_10b.yuv", " yuv420p10le "},
      {"clip_12bit_444.yuv", " yuv444p12le "},
      {"clip_cif_422.yuv", "352x288 yuv422p "},
      {"clip_hd720_yuv444.yuv", "1280x720 yuv444p "},
      {"clip_cif_400_16bit.yuv", "352x288 gray16le "},
      {"clip_352x288_nv12.yuv", "352x288 nv12 "},
      {"clip_P010_1080p.yuv", "1920x1080 p010le "},
      {"clip_sif_gray.yuv", "352x240 gray "},
      // Rates: with a unit, NTSC's, after the size, and not a frame count.
      {"clip_cif_2997.yuv", "352x288 yuv420p 30000/1001"},
      {"clip_23.976fps.yuv", "  24000/1001"},
      {"clip_cif_59.94.yuv", "352x288 yuv420p 60000/1001"},
      {"clip_60Hz_4cif.yuv", "704x576 yuv420p 60"},
      {"clip_cif_12.5fps.yuv", "352x288 yuv420p 25/2"},
      {"clip_cif_500.yuv", "352x288 yuv420p "},
      {"clip_uhd2160_120fps.yuv", "3840x2160 yuv420p 120"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(whatNameStates(c.name)), c.states) << c.name;
  }
}

TEST(MediaNames, SizesByName) {
  EXPECT_EQ(sizeNamed("cif"), (FrameSize{352, 288}));
  EXPECT_EQ(sizeNamed("sif"), (FrameSize{352, 240}));
  EXPECT_EQ(sizeNamed("CIF"), std::nullopt);  // as ffmpeg's -video_size
  EXPECT_EQ(sizeNamed("1080p"), std::nullopt);
#ifdef TSA_HAVE_LIBAVUTIL
  // libavutil, ffmpeg's own table, as the oracle.
  for (const char* name :
       {"ntsc",   "pal",    "qntsc",   "qpal",  "sntsc", "spal",    "film",    "ntsc-film",
        "sqcif",  "qcif",   "cif",     "4cif",  "16cif", "qqvga",   "qvga",    "vga",
        "svga",   "xga",    "uxga",    "qxga",  "sxga",  "qsxga",   "hsxga",   "wvga",
        "wxga",   "wsxga",  "wuxga",   "woxga", "wqhd",  "wqsxga",  "wquxga",  "whsxga",
        "whuxga", "cga",    "ega",     "hd480", "hd720", "hd1080",  "quadhd",  "2k",
        "2kdci",  "2kflat", "2kscope", "4k",    "4kdci", "4kflat",  "4kscope", "nhd",
        "hqvga",  "wqvga",  "fwqvga",  "hvga",  "qhd",   "uhd2160", "uhd4320"}) {
    int width = 0;
    int height = 0;
    ASSERT_EQ(av_parse_video_size(&width, &height, name), 0) << name;
    EXPECT_EQ(sizeNamed(name), (FrameSize{width, height})) << name;
  }
#else
  std::cout << "Not compared: libavutil is not installed\n";
#endif
}

}  // namespace
}  // namespace tsa
