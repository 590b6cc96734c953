#include "engine/copy/splicer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/copy/block_sharing.h"
#include "engine/copy/frame_buffer.h"
#include "engine/copy/frame_checksums.h"
#include "engine/list/pre_scan.h"
#include "test_support.h"

namespace tsa {
namespace {

using testing::CapturedConsole;
using testing::closingLine;
using testing::progressLine;
using testing::Splice;

TEST(ProgressLine, ShowsSpliceAndRunPercentages) {
  struct Case {
    std::int64_t frameIndex, numFr, framesWritten, totalFrames;
    std::string expected;
  };
  const Case cases[] = {
      // The splice share counts frames done before this one; the run share
      // includes it.
      {0, 1, 1, 1, "(  0%) clip.yuv                         100%\r"},
      {0, 3, 1, 3, "(  0%) clip.yuv                          33%\r"},
      {1, 3, 2, 3, "( 33%) clip.yuv                          67%\r"},
      {2, 3, 3, 3, "( 67%) clip.yuv                         100%\r"},
      {199, 200, 200, 1000, "(100%) clip.yuv                          20%\r"},  // 99.5 rounds up
      {0, 2, 1, 8, "(  0%) clip.yuv                          12%\r"},           // 12.5 to even
      // Past the 32-bit range the percentages stay right.
      {2147483646, 2147483647, 6442450941, 6442450941,
       "(100%) clip.yuv                         100%\r"},
      {1000000000, 2000000000, 3000000000, 6000000000,
       "( 50%) clip.yuv                          50%\r"},
  };
  for (const Case& c : cases) {
    CapturedConsole captured;
    printProgressLine(captured.console(), c.frameIndex, c.numFr, "clip.yuv", c.framesWritten,
                      c.totalFrames);
    EXPECT_EQ(captured.text(), c.expected) << c.frameIndex << "/" << c.numFr;
  }
}

TEST(ProgressLine, LongNamesWidenTheLine) {
  const std::string name(45, 'x');
  CapturedConsole captured;
  printProgressLine(captured.console(), 0, 4, name.c_str(), 1, 4);
  printClosingLine(captured.console(), name.c_str());
  printClosingLine(captured.console(), "short.yuv");
  EXPECT_EQ(captured.text(), progressLine("  0", name, "  25") + "(100%) " + name + "\n" +
                                 "(100%) short.yuv                               \n");
}

TEST(FramesToShare, TakesWholeFramesOnWholeBlocksInBothFiles) {
  struct Case {
    std::int64_t sourceStart, outputStart, unitBytes, frames, block;
    std::int64_t first, count;
  };
  constexpr std::int64_t hd = 3110400;
  const Case cases[] = {
      {0, 0, 24883200, 170, 4096, 0, 170},  // 2160p 10-bit frames are whole blocks
      {std::int64_t{3} * 24883200, 24883200, 24883200, 5, 4096, 0, 5},
      {0, 0, 3110400, 20, 4096, 0, 16},           // 1080p: a boundary every 8 frames
      {3110400, 0, 3110400, 20, 4096, -1, 0},     // one offset in a block, not the other
      {hd * 11, hd * 3, hd, 20, 4096, 5, 8},      // eight frames apart: from 5 on
      {hd * 11, hd * 3, hd, 12, 4096, 5, 0},      // too few frames after 5
      {4096 + 45, 45, 3110406, 40, 4096, -1, 0},  // Y4M: a boundary every 2048 frames
      {0, 0, 152064, 100, 4096, 0, 96},           // CIF
      {0, 0, 2764800, 3, 4096, 0, 3},             // 720p 4:4:4
      {0, 0, 24883200, 40, 65536, 0, 32},         // 64 KiB clusters
      {0, 0, 1000, 3, 0, -1, 0},                  // no block: nothing shared
  };
  for (const Case& c : cases) {
    const SharedFrames shared =
        framesToShare(c.sourceStart, c.outputStart, c.unitBytes, c.frames, c.block);
    EXPECT_EQ(shared.count, c.count) << c.sourceStart << " " << c.outputStart << " " << c.unitBytes;
    if (c.count > 0) {
      EXPECT_EQ(shared.first, c.first) << c.sourceStart << " " << c.outputStart;
      EXPECT_EQ((c.outputStart + shared.first * c.unitBytes) % c.block, 0);
      EXPECT_EQ((c.sourceStart + (shared.first + shared.count) * c.unitBytes) % c.block, 0);
    }
  }
}

// The copy pass on real files, run after a real pre-scan, through the page
// cache and past it.
class RunAssemblyTest : public testing::ScratchDirTest,
                        public ::testing::WithParamInterface<std::int64_t> {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    testing::writeSource(path("a.yuv"), 1, 6);
    testing::writeSource(path("b.yuv"), 2, 3, 1000);  // ends in a partial frame
  }

  // Pre-scans `listText` and copies it into out.yuv, handing its frames to
  // `checksums` where given.
  ExitStatus assemble(const std::string& listText, FrameChecksums* checksums = nullptr) {
    testing::writeText(path("list.txt"), listText);
    OpenResult listFile = openForReading(path("list.txt"));
    EditListReader list;
    EXPECT_TRUE(list.load(std::move(listFile.file), path("list.txt"), captured_.console()));
    OpenResult outFile = openForWriting(path("out.yuv"));
    EXPECT_TRUE(outFile.file.isOpen());
    OutputFile out(std::move(outFile.file), path("out.yuv"), outFile.regularFile);
    const ScanResult scan = scanEditList(list, captured_.console(), testing::toolScanRules());
    EXPECT_EQ(scan.status, ExitStatus::Success) << captured_.text();
    const std::size_t bufferBytes = frameBufBytes(
        defaultFrameFormat, slotCount(defaultFrameFormat, checksums != nullptr, false));
    const FrameBuffer frameBuf = allocateFrameBuffer(bufferBytes, captured_.console());
    beforeCopy();
    CopyPlan plan{scan.totalFrames, scan.sources, false, GetParam(), scan.format, true, ""};
    const ExitStatus status = runAssembly(list, out, std::span(frameBuf.get(), bufferBytes), plan,
                                          captured_.console(), checksums);
    EXPECT_TRUE(out.close(captured_.console()));
    return status;
  }

  virtual void beforeCopy() {}

  CapturedConsole captured_;
};

TEST_P(RunAssemblyTest, CopiesRangesInListOrderEvenBackwardsAndOverlapping) {
  const std::string a = path("a.yuv");
  const std::string b = path("b.yuv");
  // The checksums hash each frame where it lies in the frame buffer, also
  // where the way past the page cache moves it there.
  const auto bytes = static_cast<std::size_t>(defaultFrameFormat.frameBytes());
  OpenResult sums = openForWriting(path("sums.md5"));
  FrameChecksums checksums(std::move(sums.file), path("sums.md5"), "", bytes);
  ASSERT_TRUE(checksums.start(captured_.console()));
  EXPECT_EQ(assemble(a + " 4 2\n" + b + " 0 3\n" + a + " 1 4\n" + a + " 2 1\n", &checksums),
            ExitStatus::Success);
  EXPECT_EQ(checksums.finish(captured_.console()), ExitStatus::Success);
  testing::expectFrames(path("out.yuv"), {{1, 4, 2}, {2, 0, 3}, {1, 1, 4}, {1, 2, 1}});
  const std::string out = testing::readFile(path("out.yuv"));
  std::string expected;
  for (std::size_t frame = 0; frame * bytes < out.size(); ++frame) {
    Digest digest;
    ASSERT_TRUE(digestOf(
        HashKind::Md5,
        std::span(reinterpret_cast<const unsigned char*>(out.data()) + frame * bytes, bytes),
        digest));
    expected +=
        checksumLineOf(static_cast<std::int64_t>(frame), static_cast<std::int64_t>(bytes), digest);
  }
  EXPECT_EQ(testing::readFile(path("sums.md5")), expected);
}

TEST_P(RunAssemblyTest, ZeroFramesStillClosesTheSplice) {
  const std::string a = path("a.yuv");
  EXPECT_EQ(assemble(a + " 5 0\n" + a + " 0 1\n"), ExitStatus::Success);
  EXPECT_EQ(captured_.text(), closingLine(a) + progressLine("  0", a, " 100") + closingLine(a));
  testing::expectFrames(path("out.yuv"), {{1, 0, 1}});
}

TEST_P(RunAssemblyTest, APartialLastFrameIsNeverCopied) {
  const std::string b = path("b.yuv");
  // The three whole frames can be read; the fourth is cut short.
  EXPECT_EQ(assemble(b + " 1 2\n" + b + " 2 2\n"), ExitStatus::SourceTooShort);
  testing::expectFrames(path("out.yuv"), {{2, 1, 2}, {2, 2, 1}});
  const std::string text = captured_.text();
  EXPECT_EQ(text.substr(text.rfind('\r') + 1), "Error: seek past end of file\n");
}

TEST_P(RunAssemblyTest, ARangeStartingPastTheEndCopiesNothingOfIt) {
  const std::string a = path("a.yuv");
  EXPECT_EQ(assemble(a + " 0 1\n" + a + " 6 1\n"), ExitStatus::SourceTooShort);
  testing::expectFrames(path("out.yuv"), {{1, 0, 1}});
  EXPECT_EQ(captured_.text(),
            progressLine("  0", a, "  50") + closingLine(a) + "Error: seek past end of file\n");
}

class SourceVanishesTest : public RunAssemblyTest {
 protected:
  void beforeCopy() override { std::filesystem::remove(path("b.yuv")); }
};

TEST_P(SourceVanishesTest, ASourceGoneAfterThePreScanEndsTheCopy) {
  const std::string a = path("a.yuv");
  const std::string b = path("b.yuv");
  EXPECT_EQ(assemble(a + " 0 2\n" + b + " 0 1\n" + a + " 2 1\n"), ExitStatus::SourceDisappeared);
  testing::expectFrames(path("out.yuv"), {{1, 0, 2}});
  const std::string text = captured_.text();
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1),
            "Input file \"" + b + "\" disappeared?\n");
}

TEST_P(RunAssemblyTest, TransfersPastThePageCacheTakeAnyBuffer) {
  OpenResult file = openForWriting(path("direct.bin"));
  if (directTransferBlock(file.file) == 0 || !movePastPageCache(file.file, true)) {
    GTEST_SKIP() << "this file system moves all data through the page cache";
  }
  // One byte past a page, and an odd length: the page cache takes it.
  const FrameBuffer buffer =
      allocateFrameBuffer(frameBufBytes(defaultFrameFormat), captured_.console());
  std::memset(buffer.get(), 'x', 1001);
  EXPECT_EQ(writeSome(file.file, std::span(buffer.get() + 1, 1000)).bytes, 1000U);
  EXPECT_EQ(testing::readFile(path("direct.bin")), std::string(1000, 'x'));
}

// Every output is uncached from 0 bytes on.
INSTANTIATE_TEST_SUITE_P(Copy, RunAssemblyTest, ::testing::Values(uncachedOutputBytes, 0));
INSTANTIATE_TEST_SUITE_P(Copy, SourceVanishesTest, ::testing::Values(uncachedOutputBytes, 0));

}  // namespace
}  // namespace tsa
