// Every system call of a clean run, made to fail one at a time: whatever
// fails, the run ends with a documented status and its message, and no
// file but the output changes, which keeps either its old bytes or whole
// frames of the list's start.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <regex>

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
};

// The message each failing status ends stdout with.
const std::map<int, std::regex> lastMessage = {
    {2, std::regex("(Edit list file \"list.txt\" not found|"
                   "Error: cannot read edit list file \"list.txt\" \\(.+\\))\n$")},
    {3, std::regex("Output file \"out.yuv\" cannot be opened for writing\n$")},
    {5, std::regex("Input file \"[ab].yuv\" disappeared\\?\n$")},
    {6, std::regex("(Error: seek past end of file|Error: cannot read input file .+)\n$")},
    {7, std::regex("Error: cannot write to output file \"out.yuv\" \\(.+\\)\n$")},
    {9, std::regex("Input file \"[ab].yuv\" not found. Aborting.\n$")},
};

class FaultInjection : public testing::ScratchDirTest {};

TEST_F(FaultInjection, EveryFailingCallEndsCleanlyAndLosesNothing) {
  if (testing::faultLibrary().empty()) {
    GTEST_SKIP() << "no fault library in this build (sanitizers intercept the same calls)";
  }
  testing::writeSource(path("a.yuv"), 1, 8);
  testing::writeSource(path("b.yuv"), 2, 4);
  const std::string list = "a.yuv 5 1\nb.yuv 0 2\na.yuv 1 1\n";
  testing::writeText(path("list.txt"), list);
  const std::string sources = readFile(path("a.yuv")) + readFile(path("b.yuv"));
  std::string frames;
  for (const auto& [source, frame] : {std::pair{1, 5}, {2, 0}, {2, 1}, {1, 1}}) {
    const auto bytes = testing::patternFrame(source, frame);
    frames.append(bytes.begin(), bytes.end());
  }
  const std::string old = "an older test set";
  const std::string preload = "LD_PRELOAD=" + testing::faultLibrary();

  const auto runWith = [&](const std::string& fault) {
    testing::writeText(path("out.yuv"), old);
    return testing::runTool(dir_, {"list.txt", "out.yuv"}, "y\n",
                            {preload, "TSA_FAULT=" + fault, "TSA_FAULT_COUNTS=" + path("counts")});
  };
  ASSERT_EQ(runWith("none:0:0").status, 0);
  std::map<std::string, long> calls;
  std::ifstream countsFile(path("counts"));
  for (std::string call; countsFile >> call;) {
    countsFile >> calls[call];
  }
  ASSERT_EQ(calls.size(), faults.size());

  int runs = 0;
  for (const auto& [call, errors] : faults) {
    for (const std::string& error : errors) {
      for (long nth = 1; nth <= calls[call]; ++nth, ++runs) {
        const std::string fault = call + ":" + std::to_string(nth) + ":" + error;
        const testing::ToolRun run = runWith(fault);
        const std::string output = readFile(path("out.yuv"));
        EXPECT_EQ(readFile(path("a.yuv")) + readFile(path("b.yuv")), sources) << fault;
        EXPECT_EQ(readFile(path("list.txt")), list) << fault;
        if (run.status == 0) {
          EXPECT_NE(run.out.find("Done! "), std::string::npos) << fault;
          EXPECT_TRUE(output == frames) << fault;
          continue;
        }
        EXPECT_EQ(run.out.find("Done!"), std::string::npos) << fault;
        const auto message = lastMessage.find(run.status);
        ASSERT_NE(message, lastMessage.end()) << fault << " ended with status " << run.status;
        EXPECT_TRUE(std::regex_search(run.out, message->second)) << fault << " printed " << run.out;
        EXPECT_TRUE(output == old || (output.size() % frameSize == 0 &&
                                      frames.compare(0, output.size(), output) == 0))
            << fault << " left " << output.size() << " bytes";
      }
    }
  }
  std::cout << runs << " runs, each with one failing call\n";
}

}  // namespace
}  // namespace tsa
