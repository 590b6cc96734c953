// Every system call of a clean run, made to fail one at a time: whatever
// fails, the run ends with a documented status and its message, and no
// file but the output changes, which keeps either its old bytes or whole
// frames of the list's start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "engine/copy/frame_buffer.h"
#include "engine/copy/splicer.h"
#include "engine/system/file.h"
#include "test_support.h"

namespace tsa {
namespace {

using testing::readFile;

// What each call is made to fail with. A refused lock and a file system
// without locks both count, and so does a write that stops part-way.
const std::map<std::string, std::vector<std::string>> faults = {
    {"open", {std::to_string(ENOENT), std::to_string(EACCES)}},
    {"read", {std::to_string(EIO)}},
    {"write", {std::to_string(ENOSPC), "half"}},
    {"lseek", {std::to_string(EINVAL)}},
    {"fstat", {std::to_string(EIO)}},
    {"ftruncate", {std::to_string(EIO)}},
    {"flock", {std::to_string(EWOULDBLOCK), std::to_string(ENOLCK)}},
    {"fcntl", {std::to_string(EBADF)}},
    {"close", {std::to_string(EIO)}},
    {"clone", {std::to_string(EOPNOTSUPP), std::to_string(EIO)}},
};

// The message each failing status ends stdout with.
const std::map<int, std::regex> lastMessage = {
    {2, std::regex("(Edit list file \"list.txt\" not found|"
                   "Error: cannot read edit list file \"list.txt\" \\(.+\\))\n$")},
    {3, std::regex("Output file \"out.yuv\" cannot be opened for writing\n$")},
    {5, std::regex("Input file \"[ab].yuv\" disappeared\\?\n$")},
    {6, std::regex("(Error: seek past end of file|Error: cannot read input file .+)\n$")},
    {7, std::regex("Error: cannot write to (output|checksum) file \"(out.yuv|sums.md5)\" "
                   "\\(.+\\)\n$")},
    {9, std::regex("Input file \"[ab].yuv\" not found. Aborting.\n$")},
};

// One walk: an edit list, how a clean run of it ends and the frames it
// leaves. Past the page cache every transfer must also be block-aligned.
// With `size`, frames are an eighth of the default's, read several to a
// write: eight of them make one default frame of `frames`.
struct Walk {
  const char* name;
  std::string list;
  int cleanStatus;
  std::vector<std::pair<int, int>> frames;  // (source, frame), in output order
  std::string size;                         // the --size of small frames, or none
  bool checksums = false;                   // with --framemd5, the older output slow to cut
};

void PrintTo(const Walk& walk, std::ostream* out) { *out << walk.name; }

class FaultInjection : public testing::ScratchDirTest,
                       public ::testing::WithParamInterface<Walk> {};

TEST_P(FaultInjection, EveryFailingCallEndsCleanlyAndLosesNothing) {
  if (testing::faultLibrary().empty()) {
    GTEST_SKIP() << "no fault library in this build (sanitizers intercept the same calls)";
  }
  const Walk& walk = GetParam();
  testing::writeSource(path("a.yuv"), 1, 8);
  testing::writeSource(path("b.yuv"), 2, 4);
  const bool pastPageCache = walk.cleanStatus != 0;
  if (pastPageCache && directTransferBlock(openForReading(path("a.yuv")).file) == 0) {
    GTEST_SKIP() << "this file system moves all data through the page cache";
  }
  testing::writeText(path("list.txt"), walk.list);
  // A source that anything wrote to has a new time and maybe a new size;
  // reading both whole after every run would cost more than the runs.
  const auto stamp = [&] {
    std::vector<std::pair<std::filesystem::file_time_type, std::uintmax_t>> stamps;
    for (const char* name : {"a.yuv", "b.yuv"}) {
      stamps.emplace_back(std::filesystem::last_write_time(path(name)),
                          std::filesystem::file_size(path(name)));
    }
    return stamps;
  };
  const auto sources = stamp();
  std::string frames;
  for (const auto& [source, frame] : walk.frames) {
    const auto bytes = testing::patternFrame(source, frame);
    frames.append(bytes.begin(), bytes.end());
  }
  const std::string old = "an older test set";
  const std::string preload = "LD_PRELOAD=" + testing::faultLibrary();
  const std::int64_t frameBytes = walk.size.empty() ? frameSize : frameSize / 8;
  std::vector<std::string> args = {"list.txt", "out.yuv"};
  if (!walk.size.empty()) {
    args.insert(args.begin(), "--size=" + walk.size);
  }
  if (walk.checksums) {
    args.insert(args.begin(), "--framemd5=sums.md5");
  }
  // The frames whose lines sums.md5 holds (its header lines start with #).
  const auto summedFrames = [&] {
    std::ifstream sums(path("sums.md5"));
    long lines = 0;
    for (std::string line; std::getline(sums, line);) {
      lines += line.starts_with('#') ? 0 : 1;
    }
    return lines;
  };

  std::map<std::string, long> calls;
  // With checksums the older output's cut waits for the frames the buffer
  // takes meanwhile (the first splice's six, where they fit): up to 5 s in
  // the clean run, a moment where a failure may stop the reads.
  const long readAhead =
      walk.checksums
          ? std::min<long>(6, static_cast<long>(slotCount(defaultFrameFormat, true, true)))
          : 0;
  if (walk.checksums && frameSize > (std::int64_t{8} << 20)) {
    GTEST_SKIP() << "frames this large take hundreds of runs here: walked with 1080p frames";
  }
  const auto runWith = [&](const std::string& fault, int slowCutMs = 50) {
    testing::writeText(path("out.yuv"), old);
    std::filesystem::remove(path("sums.md5"));
    testing::ToolRun run = testing::runTool(
        dir_, args, "y\n",
        {preload, "TSA_FAULT=" + fault, "TSA_FAULT_COUNTS=" + path("counts"),
         "TSA_FAULT_SLOW_CUT=" + std::to_string(readAhead) + ":" + std::to_string(slowCutMs)});
    calls.clear();
    std::ifstream countsFile(path("counts"));
    for (std::string call; countsFile >> call;) {
      countsFile >> calls[call];
    }
    EXPECT_EQ(calls["misaligned"], 0) << fault << ": of " << calls["direct"] << " direct transfers";
    return run;
  };
  ASSERT_EQ(runWith("none:0:0", 5000).status, walk.cleanStatus);
  EXPECT_EQ(calls["direct"] > 0, pastPageCache);
  // The older output is cut through a descriptor of its own, so that its
  // writer's close starts no write-back.
  EXPECT_EQ(calls["ftruncate"] > 0, true);
  // (The checksum file, small, is cut through the descriptor that writes it.)
  EXPECT_EQ(calls["cutThenWritten"], walk.checksums ? 1 : 0);
  if (walk.checksums) {
    // Read and hashed before the cut: more than the four slots of later on.
    EXPECT_GT(readAhead, 4);
    EXPECT_EQ(calls["framesReadAhead"], readAhead);
    EXPECT_EQ(summedFrames(), static_cast<long>(walk.frames.size()));
  }
  const std::map<std::string, long> cleanCalls = calls;

  int runs = 0;
  for (const auto& [call, errors] : faults) {
    for (const std::string& error : errors) {
      for (long nth = 1; nth <= cleanCalls.at(call); ++nth, ++runs) {
        const std::string fault = call + ":" + std::to_string(nth) + ":" + error;
        const testing::ToolRun run = runWith(fault);
        const std::string output = readFile(path("out.yuv"));
        EXPECT_TRUE(stamp() == sources) << fault;
        EXPECT_EQ(readFile(path("list.txt")), walk.list) << fault;
        if (run.status == 0) {
          EXPECT_NE(run.out.find("Done! "), std::string::npos) << fault;
          EXPECT_TRUE(output == frames) << fault;
          continue;
        }
        EXPECT_EQ(run.out.find("Done!"), std::string::npos) << fault;
        const auto message = lastMessage.find(run.status);
        ASSERT_NE(message, lastMessage.end()) << fault << " ended with status " << run.status;
        EXPECT_TRUE(std::regex_search(run.out, message->second)) << fault << " printed " << run.out;
        EXPECT_TRUE(output == old || (output.size() % frameBytes == 0 &&
                                      frames.compare(0, output.size(), output) == 0))
            << fault << " left " << output.size() << " bytes";
        // A frame's line is printed once, and only once, the output holds it.
        const auto lines = std::count(run.out.begin(), run.out.end(), '\r');
        const long kept = output == old ? 0 : static_cast<long>(output.size() / frameBytes);
        EXPECT_EQ(lines, kept) << fault;
        // Checksums, where written at all, are those of the frames kept.
        if (walk.checksums && std::filesystem::exists(path("sums.md5"))) {
          EXPECT_LE(summedFrames(), kept) << fault;
        }
      }
    }
  }
  std::cout << runs << " runs, each with one failing call\n";
}

INSTANTIATE_TEST_SUITE_P(
    Copy, FaultInjection,
    ::testing::Values(Walk{"ThroughThePageCache",
                           "a.yuv 5 1\nb.yuv 0 2\na.yuv 1 1\n",
                           0,
                           {{1, 5}, {2, 0}, {2, 1}, {1, 1}},
                           ""},
                      // Eight frames from the start of a.yuv lie on the file system's
                      // blocks as they will in the output: they are shared where the
                      // file system can, else copied.
                      Walk{"SharedBlocks",
                           "a.yuv 0 8\nb.yuv 1 1\n",
                           0,
                           {{1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {2, 1}},
                           ""},
                      // A quarter as wide and half as high: five frames to a write.
                      Walk{"SmallFramesBatched",
                           "a.yuv 8 16\nb.yuv 8 8\n",
                           0,
                           {{1, 1}, {1, 2}, {2, 1}},
                           std::to_string(frameWidth / 4) + "x" + std::to_string(frameHeight / 2)},
                      // The frames read while the older output is cut wait for it in
                      // the frame buffer, hashed, their writes queued. (Frames that
                      // could share blocks would wait for the cut to be tried.)
                      Walk{"ChecksumsWhileTheOlderSetIsCut",
                           "a.yuv 1 6\nb.yuv 1 1\n",
                           0,
                           {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {2, 1}},
                           "",
                           true},
                      // So many frames asked for make a large output; a.yuv runs out
                      // after frame 7, so the run copies five frames and ends with 6.
                      Walk{"PastThePageCache",
                           "a.yuv 5 1\nb.yuv 0 2\na.yuv 6 " +
                               std::to_string(uncachedOutputBytes / frameSize) + "\n",
                           6,
                           {{1, 5}, {2, 0}, {2, 1}, {1, 6}, {1, 7}},
                           ""}),
    [](const ::testing::TestParamInfo<Walk>& walk) { return std::string(walk.param.name); });

}  // namespace
}  // namespace tsa
