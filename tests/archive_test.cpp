// Sources inside archives and compressed files, as the real archivers make
// them (see testing::testArchives).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "test_support.h"

namespace tsa {
namespace {

using testing::closingLine;
using testing::progressLine;
using testing::readFile;
using testing::ToolRun;

const std::string banner = "Corvane Test Set Assembler (10-24-2014)\n\n";
const std::string byNames = "Frames: 352x288 yuv420p, as the source names state\n";
constexpr std::size_t cif = 352 * 288 * 3 / 2;

class Archives : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    archives_ = testing::testArchives();
    if (archives_.empty()) {
      GTEST_SKIP() << "7z, zip, tar, xz, zstd, bzip2 and gzip are needed to make the archives";
    }
    clip_ = readFile(archives_ + "/clip_352x288.yuv");
    ASSERT_EQ(clip_.size(), 12 * cif);
  }

  // Runs the tool in the archives' folder on the list `list`, into `output`
  // in the test's own.
  ToolRun run(const std::string& list, const std::string& output,
              std::vector<std::string> options = {}) {
    testing::writeText(path("list.txt"), list);
    options.insert(options.end(), {"--yes", path("list.txt"), path(output)});
    return testing::runTool(archives_, options);
  }

  // Frames `first` on of the clip, `count` of them.
  [[nodiscard]] std::string clipFrames(std::size_t first, std::size_t count) const {
    return clip_.substr(first * cif, count * cif);
  }

  std::string archives_;
  std::string clip_;
};

// The list every kind is read with: forward in one member, then back.
std::string threeSplices(const std::string& name) {
  return name + " 3 4\n" + name + " 10 2\n" + name + " 1 1\n";
}

// What a run of threeSplices(name) prints before its closing report.
std::string threeSplicesOutput(const std::string& name) {
  return progressLine("  0", name, "  14") + progressLine(" 25", name, "  29") +
         progressLine(" 50", name, "  43") + progressLine(" 75", name, "  57") + closingLine(name) +
         progressLine("  0", name, "  71") + progressLine(" 50", name, "  86") + closingLine(name) +
         progressLine("  0", name, " 100") + closingLine(name);
}

void expectDone(const ToolRun& run, const std::string& before) {
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_GE(run.out.size(), before.size()) << run.out;
  EXPECT_EQ(run.out.substr(0, before.size()), before);
  EXPECT_TRUE(std::regex_match(run.out.substr(before.size()),
                               std::regex("Done! \\(elapsed time [0-9]+ seconds\\)\n")))
      << run.out;
}

TEST_F(Archives, EveryKindGivesTheFramesAskedFor) {
  const std::string raw = clipFrames(3, 4) + clipFrames(10, 2) + clipFrames(1, 1);
  for (const std::string name : {"clip.7z", "clip.stored.zip", "clip.zip", "clip.tar",
                                 "clip.tar.gz", "clip.tar.xz", "clip.tar.zst", "clip.tar.bz2",
                                 "clip.7z#clip_352x288.yuv", "clip.stored.zip#clip_352x288.yuv"}) {
    expectDone(run(threeSplices(name), "out.yuv"), banner + byNames + threeSplicesOutput(name));
    EXPECT_TRUE(readFile(path("out.yuv")) == raw) << name;
  }
  // A compressed Y4M file: its header gives the format, as the file's
  // would; the output is the one the file itself gives.
  (void)run(threeSplices("akiyo_cif.y4m"), "file.y4m");
  for (const std::string name :
       {"akiyo_cif.y4m.xz", "akiyo_cif.y4m.gz", "akiyo_cif.y4m.zst", "akiyo_cif.y4m.bz2"}) {
    expectDone(run(threeSplices(name), "out.y4m"), banner + threeSplicesOutput(name));
    EXPECT_TRUE(readFile(path("out.y4m")) == readFile(path("file.y4m"))) << name;
  }
}

// The member to read: the one a # names, wherever it lies; the archive's
// one clip, its format from the clip's name, as the Ultra Video Group names
// them; a file whose whole name holds a # is that file.
TEST_F(Archives, TheMemberIsTheOneNamedOrTheOneClip) {
  const std::string other = readFile(archives_ + "/other_352x288.yuv");
  const std::string inFolder = "two.zip#clips/other_352x288.yuv";
  expectDone(run(inFolder + " 1 1\n", "out.yuv"),
             banner + byNames + progressLine("  0", inFolder, " 100") + closingLine(inFolder));
  EXPECT_TRUE(readFile(path("out.yuv")) == other.substr(cif, cif));

  const std::string uvg = "Beauty_352x288_120fps_420_8bit_YUV_RAW.7z";
  expectDone(run(uvg + " 11 1\n", "out.yuv"),
             banner + "Frames: 352x288 yuv420p at 120 fps, as the source names state\n" +
                 progressLine("  0", uvg, " 100") + closingLine(uvg));
  EXPECT_TRUE(readFile(path("out.yuv")) == clipFrames(11, 1));

  const std::string hashed = path("clip.7z#clip_352x288.yuv");
  testing::writeText(hashed, clipFrames(5, 1));
  testing::writeText(path("list.txt"), "clip.7z#clip_352x288.yuv 0 1\n");
  const ToolRun plain = testing::runTool(dir_, {"--size=cif", path("list.txt"), path("plain.yuv")});
  EXPECT_EQ(plain.status, 0) << plain.out;
  EXPECT_TRUE(readFile(path("plain.yuv")) == clipFrames(5, 1));
}

// What cannot be read is refused before the output is touched (9), with
// the reason; damage met during the copy ends it (6) with the frames before
// it whole, and never passes for a good set.
TEST_F(Archives, DamageAndDoubtAreNeverASuccess) {
  struct Case {
    std::string list;
    int status;
    std::string last;   // the start of the last line printed
    std::size_t kept;   // frames the output keeps
    std::size_t right;  // of them, the first that must be the clip's (those before the damage)
  };
  const auto notRead = [](const std::string& name, const std::string& why) {
    return "Input file \"" + name + "\" " + why + ". Aborting.\n";
  };
  const std::string damaged = "Error: input file \"damaged";
  constexpr std::size_t unknown = 12;
  const Case cases[] = {
      {"two.zip 0 1\n", 9,
       notRead("two.zip", "holds 3 clips: name one, as in \"two.zip#clip_352x288.yuv\""), 0, 0},
      {"two.zip#nope.yuv 0 1\n", 9,
       "Input file \"two.zip#nope.yuv\" not found (the archive holds no member \"nope.yuv\"). "
       "Aborting.\n",
       0, 0},
      {"encrypted.zip 0 1\n", 9,
       notRead("encrypted.zip", "cannot be read (the member is encrypted)"), 0, 0},
      {"text.zip 0 1\n", 9, notRead("text.zip", "cannot be read (Unrecognized archive format)"), 0,
       0},
      {"LICENSE.txt.xz 0 1\n", 9, "Input file \"LICENSE.txt.xz\" not found. Aborting.\n", 0, 0},
      // Read to its end, a member is checked as its format keeps it: the
      // zip's CRC, the gzip trailer's; the frames decoded from damaged
      // bytes before the check may be wrong. Where the decoder stops
      // depends on the bytes the damage made (the clips are random).
      {"damaged.zip 0 12\n", 6, damaged + ".zip\" is damaged before frame ", unknown, 5},
      {"damaged.y4m.gz 0 12\n", 6,
       damaged + ".y4m.gz\" is damaged before frame 11 (its CRC32 or length is not the one the "
                 "gzip trailer keeps)\n",
       11, 11},
      {"damaged.y4m.xz 0 12\n", 6, damaged + ".y4m.xz\" is damaged before frame ", unknown, 5},
      {"cut.tar.xz 0 12\n", 6, "Error: input file \"cut.tar.xz\" is damaged before frame ", unknown,
       7},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path("out.yuv"));
    const ToolRun refused = run(c.list, "out.yuv");
    EXPECT_EQ(refused.status, c.status) << c.list << refused.out;
    const std::size_t lastLine = refused.out.find_last_of("\r\n", refused.out.size() - 2) + 1;
    EXPECT_EQ(refused.out.substr(lastLine, c.last.size()), c.last) << c.list;
    const std::string out = readFile(path("out.yuv"));
    EXPECT_EQ(out.size() % cif, 0U) << c.list;
    if (c.kept == unknown) {
      EXPECT_LT(out.size(), 12 * cif) << c.list;
    } else {
      EXPECT_EQ(out.size(), c.kept * cif) << c.list;
    }
    EXPECT_TRUE(out.substr(0, c.right * cif) == clipFrames(0, c.right)) << c.list;
  }
}

// The member's length from its archive's headers: a check knows where it
// ends; a single compressed file says no length. Each member is a name of
// its own to --max-sources.
TEST_F(Archives, ChecksKnowAMembersLength) {
  ToolRun checked = run("clip.7z 10 5\nclip.tar.gz 0 12\n", "out.yuv", {"--check"});
  EXPECT_EQ(checked.status, 6) << checked.out;
  EXPECT_EQ(checked.out,
            banner + byNames + "Error: line 1: \"clip.7z\" holds 12 frames, not frames 10 to 14\n");
  checked = run("akiyo_cif.y4m.xz 0 12\n", "out.y4m", {"--check"});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("not checked: \"akiyo_cif.y4m.xz\" (a compressed file that gives no "
                             "length)"),
            std::string::npos)
      << checked.out;
  const ToolRun two = run("two.zip#clip_352x288.yuv 0 1\ntwo.zip#other_352x288.yuv 0 1\n", "o.yuv",
                          {"--max-sources=1"});
  EXPECT_EQ(two.status, 8) << two.out;
}

}  // namespace
}  // namespace tsa
