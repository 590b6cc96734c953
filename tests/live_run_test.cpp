// Runs of the built tool watched while they are going: on a terminal, and
// two runs at once on one output.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "engine/copy/frame_checksums.h"
#include "engine/copy/splicer.h"
#include "engine/system/hash.h"
#include "test_support.h"

namespace tsa {
namespace {

using testing::closingLine;
using testing::progressLine;

// What a terminal shows for `text`: it turns every line end into CR LF.
std::string onScreen(const std::string& text) {
  std::string screen;
  for (const char c : text) {
    screen += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return screen;
}

// The built tool on a pseudo-terminal, with `extraFd` (unless -1) handed to
// it as descriptor 9.
class TerminalRun {
 public:
  TerminalRun(const std::string& workDir, const std::vector<std::string>& args, int extraFd = -1) {
    const std::vector<const char*> argv = testing::toolArgv(args);
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (::chdir(workDir.c_str()) != 0 || (extraFd >= 0 && ::dup2(extraFd, 9) != 9)) {
        ::_exit(127);
      }
      ::close_range(10, ~0U, 0);
      ::execv(argv[0], const_cast<char* const*>(argv.data()));
      ::_exit(127);
    }
  }
  TerminalRun(const TerminalRun&) = delete;
  TerminalRun& operator=(const TerminalRun&) = delete;
  ~TerminalRun() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)finish();
    }
    ::close(master_);
  }

  // Reads the screen until it holds `text`; false after 20 s without it.
  bool waitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (screen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !readSome(200)) {
        return screen_.find(text) != std::string::npos;
      }
    }
    return true;
  }

  void type(const std::string& keys) const {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads the screen to its end and returns the exit status.
  int finish() {
    while (readSome(20000)) {
    }
    int waitStatus = 0;
    ::waitpid(pid_, &waitStatus, 0);
    pid_ = -1;
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  }

  [[nodiscard]] const std::string& screen() const { return screen_; }

 private:
  // Waits up to `millis` for output; false once the terminal has closed.
  bool readSome(int millis) {
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, millis) <= 0) {
      return ready.revents == 0 && millis < 20000;
    }
    char chunk[4096];
    const ssize_t got = ::read(master_, chunk, sizeof chunk);
    if (got <= 0) {
      return false;  // EIO: the tool has closed the terminal
    }
    screen_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  int pid_ = -1;
  int master_ = -1;
  std::string screen_;
};

// Reads exactly `bytes` from `fd`, or to its end.
std::string readBytes(int fd, std::size_t bytes) {
  std::string data;
  std::vector<char> chunk(1 << 16);
  while (data.size() < bytes) {
    const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), bytes - data.size()));
    if (n <= 0) {
      break;
    }
    data.append(chunk.data(), static_cast<std::size_t>(n));
  }
  return data;
}

std::string frameBytes(int sourceId, std::int64_t frame) {
  return testing::framesOf({{sourceId, frame, 1}});
}

// Waits until `done` holds, for 20 s at most; says whether it does.
template <typename Done>
bool waitUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

class LiveRun : public testing::ScratchDirTest {};

TEST_F(LiveRun, ATerminalSeesTheQuestionBeforeAnswerAndProgressAsItHappens) {
  testing::writeSource(path("a.yuv"), 1, 4);
  testing::writeText(path("list.txt"), "a.yuv 0 3\n");
  // The output is a pipe that the test drains, so the run can be held in
  // the middle of its second frame.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  TerminalRun run(dir_, {"list.txt", "/dev/fd/9"}, pipeFds[1]);
  ::close(pipeFds[1]);

  const std::string banner = "Corvane Test Set Assembler (10-24-2014)\n\n";
  ASSERT_TRUE(run.waitFor(onScreen(banner) + "/dev/fd/9 exists. Overwrite? (y/n)?"))
      << run.screen();
  run.type("y\n");

  // Once the first frame is through, its progress line shows while the run
  // is still held in the second frame.
  const std::string firstFrame = readBytes(pipeFds[0], static_cast<std::size_t>(frameSize));
  EXPECT_TRUE(firstFrame == frameBytes(1, 0));
  ASSERT_TRUE(run.waitFor(progressLine("  0", "a.yuv", "  33"))) << run.screen();
  EXPECT_EQ(run.screen().find(progressLine(" 33", "a.yuv", "  67")), std::string::npos);

  const std::string rest = readBytes(pipeFds[0], static_cast<std::size_t>(3 * frameSize));
  ::close(pipeFds[0]);
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(rest == frameBytes(1, 1) + frameBytes(1, 2));
  EXPECT_EQ(run.screen(),
            onScreen(banner) + "/dev/fd/9 exists. Overwrite? (y/n)?y\r\n" +
                progressLine("  0", "a.yuv", "  33") + progressLine(" 33", "a.yuv", "  67") +
                progressLine(" 67", "a.yuv", " 100") + onScreen(closingLine("a.yuv")) +
                onScreen("Done! (elapsed time 0 seconds)\n"));
}

// A run held at its first progress line (a terminal stopped with Ctrl-S)
// while the next splice's source goes away: that source is opened only once
// the frames before it are out and their lines printed, so the run misses
// it, as a plain read-write-print loop does. Small frames go several to a
// write, and wait for nothing else either.
TEST_F(LiveRun, TheNextSourceIsOpenedOnlyOnceTheFramesBeforeAreOut) {
  testing::writeSource(path("a.yuv"), 1, 2);
  testing::writeText(path("list.txt"), "a.yuv 0 2\nb.yuv 0 1\n");
  const FrameFormat small{frameWidth / 4, frameHeight / 2, {}};
  for (const FrameFormat& format : {defaultFrameFormat, small}) {
    testing::writeSource(path("b.yuv"), 2, 1);
    testing::writeText(path("out.yuv"), "an older test set");
    const std::string size = std::to_string(format.width) + "x" + std::to_string(format.height);
    TerminalRun run(dir_, {"--size=" + size, "list.txt", "out.yuv"});
    ASSERT_TRUE(run.waitFor("Overwrite? (y/n)?")) << run.screen();
    run.type("\x13y\n");  // Ctrl-S holds every print from here on
    const auto frame = static_cast<std::uintmax_t>(format.frameBytes());
    waitUntil([&] { return std::filesystem::file_size(path("out.yuv")) >= frame; });
    std::filesystem::remove(path("b.yuv"));
    run.type("\x11");  // Ctrl-Q
    EXPECT_EQ(run.finish(), 5) << size;
    EXPECT_TRUE(run.screen().ends_with(
        onScreen(closingLine("a.yuv") + "Input file \"b.yuv\" disappeared?\n")))
        << run.screen();
    EXPECT_TRUE(testing::readFile(path("out.yuv")) ==
                testing::readFile(path("a.yuv")).substr(0, 2 * frame))
        << size;
  }
}

// True once some run holds `path` for writing.
bool heldForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

TEST_F(LiveRun, OfTwoRunsOnOneOutputOnlyOneWritesIt) {
  // The first run's source is a pipe that the test feeds, so the first run
  // holds its output until the test lets it go on.
  ASSERT_EQ(::mkfifo(path("live.yuv").c_str(), 0644), 0);
  const int feed = ::open(path("live.yuv").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(feed, 0);
  testing::writeText(path("list.txt"), "live.yuv 0 2\n");

  testing::ToolProcess first(dir_, {"list.txt", "out.yuv"}, "");
  ASSERT_TRUE(waitUntil([&] { return heldForWriting(path("out.yuv")); }));

  const testing::ToolRun second = testing::runTool(dir_, {"list.txt", "out.yuv"}, "y\n");
  EXPECT_EQ(second.status, 3);
  EXPECT_EQ(second.out,
            "Corvane Test Set Assembler (10-24-2014)\n\n"
            "Output file \"out.yuv\" cannot be opened for writing\n");

  const std::string frames = frameBytes(5, 0) + frameBytes(5, 1);
  ASSERT_EQ(::write(feed, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
  ::close(feed);
  const testing::ToolRun firstRun = first.finish();
  EXPECT_EQ(firstRun.status, 0) << firstRun.out;
  testing::expectFrames(path("out.yuv"), {{5, 0, 2}});
}

// A stop signal in the middle of a frame, into a file through the page cache,
// a file past it and a named pipe, or the pipe's reader going away: the
// output keeps whole frames, exactly those whose lines were printed.
TEST_F(LiveRun, AStopOrAGoneReaderLeavesWholeFramesAndSaysSo) {
  testing::writeSource(path("a.yuv"), 1, 2);
  struct Case {
    int signal;  // 0: the reader of the output pipe goes away after a frame
    const char* output;
    int liveFrames;  // `past` take the output past the page cache
  };
  const auto past = static_cast<int>(uncachedOutputBytes / frameSize);
  std::vector<Case> cases = {{0, "out.fifo", 0}, {0, "-", 0}};
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const Case c :
         {Case{signal, "out.yuv", 3}, {signal, "out.yuv", past}, {signal, "out.fifo", 3}}) {
      cases.push_back(c);
    }
  }
  for (const Case& c : cases) {
    const std::string where = std::string(c.output) + " " + std::to_string(c.liveFrames) +
                              " frames, signal " + std::to_string(c.signal);
    std::filesystem::remove(path(c.output));
    std::filesystem::remove(path("live.yuv"));
    const bool standardOutput = std::string(c.output) == "-";
    const bool pipeOut = std::string(c.output) == "out.fifo" || standardOutput;
    int stdoutPipe[2] = {-1, -1};
    ASSERT_TRUE(!standardOutput || ::pipe2(stdoutPipe, O_CLOEXEC) == 0);
    ASSERT_EQ(::mkfifo(path("live.yuv").c_str(), 0644), 0);
    ASSERT_TRUE(!pipeOut || standardOutput || ::mkfifo(path(c.output).c_str(), 0644) == 0);
    const int feed = ::open(path("live.yuv").c_str(), O_RDWR | O_CLOEXEC);
    testing::writeText(
        path("list.txt"),
        "a.yuv 0 2\n" + (c.signal != 0 ? "live.yuv 0 " + std::to_string(c.liveFrames) + "\n" : ""));
    std::string received;
    std::thread reader([&] {
      if (pipeOut) {  // an encoder: it reads all, or one frame and goes
        const int fd =
            standardOutput ? stdoutPipe[0] : ::open(path(c.output).c_str(), O_RDONLY | O_CLOEXEC);
        received = readBytes(fd, c.signal == 0 ? static_cast<std::size_t>(frameSize) : ~0UL);
        ::close(fd);
      }
    });
    testing::ToolProcess tool(dir_, {"--framemd5=sums.md5", "list.txt", c.output}, "y\n",
                              stdoutPipe[1], 1);
    if (standardOutput) {
      ::close(stdoutPipe[1]);
    }
    // The run holds in the second frame of live.yuv once the pipe is empty.
    const std::string feedBytes =
        c.signal != 0 ? frameBytes(5, 0) + frameBytes(5, 1).substr(0, 1000000) : "";
    ASSERT_EQ(::write(feed, feedBytes.data(), feedBytes.size()),
              static_cast<ssize_t>(feedBytes.size()));
    int unread = 1;
    while (c.signal != 0 && ::ioctl(feed, FIONREAD, &unread) == 0 && unread > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (c.signal != 0) {
      tool.sendSignal(c.signal);
    }
    const testing::ToolRun run = tool.finish();
    ::close(feed);
    reader.join();

    const int total = 2 + c.liveFrames;
    const auto percent = [total](int frames) {
      char text[8];
      std::snprintf(text, sizeof text, "%4.0f", frames * 100.0 / total);
      return std::string(text);
    };
    std::string out = "Corvane Test Set Assembler (10-24-2014)\n\n" +

                      progressLine("  0", "a.yuv", percent(1));
    std::string kept = frameBytes(1, 0);
    if (c.signal == 0) {
      EXPECT_EQ(run.status, 7) << where;
      out += "Error: cannot write to output file \"" + std::string(c.output) + "\" (Broken pipe)\n";
    } else {
      EXPECT_EQ(run.signal, c.signal) << where;
      kept += frameBytes(1, 1) + frameBytes(5, 0);
      out += progressLine(" 50", "a.yuv", percent(2)) + closingLine("a.yuv") +
             progressLine("  0", "live.yuv", percent(3)) +
             "Interrupted: the output keeps 3 whole frames\n";
    }
    EXPECT_EQ(standardOutput ? run.err : run.out, out) << where;
    EXPECT_TRUE((pipeOut ? received : testing::readFile(path(c.output))) == kept) << where;
    // The checksums are those of the frames kept, and of no other.
    std::string sums = testing::readFile(path("sums.md5"));
    sums.erase(0, sums.find("hash\n") + 5);
    std::string keptSums;
    for (std::size_t frame = 0; frame * frameSize < kept.size(); ++frame) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(kept.data()) + frame * frameSize;
      Digest digest;
      ASSERT_TRUE(
          digestOf(HashKind::Md5, std::span(bytes, static_cast<std::size_t>(frameSize)), digest));
      keptSums += checksumLineOf(static_cast<std::int64_t>(frame), frameSize, digest);
    }
    EXPECT_EQ(sums, keptSums) << where;
  }
}

// A named pipe as a source, fed by a writer that comes late, pauses, sends
// Y4M or too little, or never comes: the run waits for it, drops the frames
// before the first one asked for, and keeps whole frames whatever happens.
TEST_F(LiveRun, APipeSourceIsWaitedForAndReadFromItsStart) {
  testing::writeSource(path("a.yuv"), 1, 1);
  const std::string& size = testing::defaultY4mSize;
  const std::string& fullHd = testing::defaultFormatName;
  struct Case {
    int openAfterMs;        // the writer opens the pipe this long after the run starts (-1: never)
    int firstFrameAfterMs;  // and sends its first frame this long after that
    std::string y4mHeader;  // empty: raw frames
    std::string range;      // the pipe's first frame and count in the list
    int sentFrames;
    int status;             // the exit status, or minus the signal that ended the run
    std::string lastLine;   // a regular expression
    std::vector<int> kept;  // the pipe's frames that the output holds
  };
  const Case cases[] = {
      {1000, 0, "", "0 2", 2, 0, "Done! .*\n", {0, 1}},
      {0, 500, "", "0 2", 2, 0, "Done! .*\n", {0, 1}},
      {0, 0, "", "2 3", 6, 0, "Done! .*\n", {2, 3, 4}},
      {300, 0, "YUV4MPEG2 " + size + " F25:1\n", "1 2", 3, 0, "Done! .*\n", {1, 2}},
      {0,
       0,
       "YUV4MPEG2 W352 H288\n",
       "0 1",
       1,
       6,
       "Error: input file \"live.fifo\" is 352x288 yuv420p, not " + fullHd + "\n",
       {}},
      {0, 0, "", "1 3", 2, 6, "Error: seek past end of file\n", {1}},
      {-1, 0, "", "0 1", 0, -SIGINT, "Interrupted: the output keeps 1 whole frame\n", {}},
  };
  for (const Case& c : cases) {
    const std::string where = c.y4mHeader + c.range + " after " + std::to_string(c.openAfterMs);
    std::filesystem::remove(path("out.yuv"));
    std::filesystem::remove(path("live.fifo"));
    ASSERT_EQ(::mkfifo(path("live.fifo").c_str(), 0644), 0);
    testing::writeText(path("list.txt"), "a.yuv 0 1\nlive.fifo " + c.range + "\n");
    const auto started = std::chrono::steady_clock::now();
    testing::ToolProcess tool(dir_, {"list.txt", "out.yuv"}, "");
    std::thread writer([&] {
      if (c.openAfterMs < 0) {
        return;
      }
      std::this_thread::sleep_until(started + std::chrono::milliseconds(c.openAfterMs));
      // While the run waits for the pipe, the frames before it are out.
      EXPECT_TRUE(c.openAfterMs == 0 ||
                  waitUntil([&] { return testing::readFile(path("out.yuv")) == frameBytes(1, 0); }))
          << where;
      const int fd = ::open(path("live.fifo").c_str(), O_WRONLY | O_CLOEXEC);
      std::this_thread::sleep_for(std::chrono::milliseconds(c.firstFrameAfterMs));
      std::string stream = c.y4mHeader;
      for (int i = 0; i < c.sentFrames; ++i) {
        // One marker with fields, as encoders may write them.
        stream += (c.y4mHeader.empty() ? ""
                   : i == 1            ? "FRAME Ip XA=1\n"
                                       : "FRAME\n") +
                  frameBytes(5, i);
      }
      // A reader that has seen enough goes away: the rest is not wanted.
      const ssize_t written = ::write(fd, stream.data(), stream.size());
      (void)written;
      ::close(fd);
    });
    if (c.openAfterMs < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      tool.sendSignal(SIGINT);
    }
    const testing::ToolRun run = tool.finish();
    writer.join();
    EXPECT_EQ(c.status < 0 ? -run.signal : run.status, c.status) << where << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("(^|[\r\n])" + c.lastLine + "$")))
        << where << run.out;
    std::string kept = frameBytes(1, 0);
    for (const int frame : c.kept) {
      kept += frameBytes(5, frame);
    }
    EXPECT_TRUE(testing::readFile(path("out.yuv")) == kept) << where;
  }
}

}  // namespace
}  // namespace tsa

#else

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/system/text_win32.h"
#include "test_support.h"

TEST(LiveRun, PosixOnlyCasesAreSkipped) {
  GTEST_SKIP() << "a pseudo-terminal, a FIFO and flock from another process exist on POSIX "
                  "systems only; share modes are covered by the end-to-end tests";
}

TEST(LiveRun, CtrlCIsSkipped) {
  GTEST_SKIP() << "Wine delivers no console control events to another process "
                  "(GenerateConsoleCtrlEvent fails, with a console or without); a stop by "
                  "SIGINT is tested on POSIX systems";
}

std::string frameBytes(int sourceId, std::int64_t frame) {
  return tsa::testing::framesOf({{sourceId, frame, 1}});
}

class NamedPipeRun : public tsa::testing::ScratchDirTest {};

// A named pipe of this process's own, of one instance, as a decoder or an
// encoder makes it, and the wait for its one client; `pipe` stays invalid
// where it cannot be made.
struct NamedPipe {
  NamedPipe(const wchar_t* role, DWORD access)
      : name(std::wstring(L"\\\\.\\pipe\\tsa-") + role + std::to_wstring(::GetCurrentProcessId())),
        pipe(::CreateNamedPipeW(name.c_str(), access, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 20,
                                1 << 20, 0, nullptr)) {}
  ~NamedPipe() { ::CloseHandle(pipe); }
  bool connect() const {
    return ::ConnectNamedPipe(pipe, nullptr) != 0 || ::GetLastError() == ERROR_PIPE_CONNECTED;
  }
  const std::wstring name;
  const HANDLE pipe;
};

// A decoder on Windows makes a named pipe and waits for its reader: the
// run connects, waits for the frames, and drops those before the first.
TEST_F(NamedPipeRun, ANamedPipeSourceIsWaitedForAndReadFromItsStart) {
  const NamedPipe decoder(L"test-", PIPE_ACCESS_OUTBOUND);
  const std::wstring& name = decoder.name;
  const HANDLE pipe = decoder.pipe;
  tsa::testing::writeSource(path("a.yuv"), 1, 1);
  tsa::testing::writeText(path("list.txt"), "a.yuv 0 1\n\"" + tsa::utf8FromWide(name) + "\" 1 2\n");
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::uintmax_t outputWhileWaiting = 0;
  std::thread writer([&] {
    if (!decoder.connect()) {
      return;
    }
    // The frames before the pipe are out before the run connects to it.
    outputWhileWaiting = std::filesystem::file_size(tsa::testing::fsPath(path("out.yuv")));
    ::Sleep(300);  // a decoder that needs a moment before its first frame
    const std::string frames = frameBytes(5, 0) + frameBytes(5, 1) + frameBytes(5, 2);
    for (std::size_t sent = 0; sent < frames.size();) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(frames.size() - sent, 1 << 16));
      if (::WriteFile(pipe, frames.data() + sent, chunk, &written, nullptr) == 0) {
        break;
      }
      sent += written;
    }
    ::FlushFileBuffers(pipe);
  });
  const tsa::testing::ToolRun run = tsa::testing::runTool(dir_, {"list.txt", "out.yuv"});
  // A run that never connected leaves the writer waiting: a reader that
  // comes and goes at once lets it go.
  const HANDLE late =
      ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (late != INVALID_HANDLE_VALUE) {
    ::CloseHandle(late);
  }
  writer.join();
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(outputWhileWaiting, static_cast<std::uintmax_t>(tsa::frameSize));
  EXPECT_TRUE(tsa::testing::readFile(path("out.yuv")) ==
              frameBytes(1, 0) + frameBytes(5, 1) + frameBytes(5, 2));
}

// An encoder on Windows makes a named pipe and waits for its writer: the
// run opens it once, asks nothing, and writes the frames into it. A server
// that takes one client would lose the run to any look at the pipe first.
TEST_F(NamedPipeRun, ANamedPipeOutputIsWrittenWithoutAQuestion) {
  // Duplex, as an encoder may make it: an open for reading connects too.
  const NamedPipe encoder(L"out-", PIPE_ACCESS_DUPLEX);
  ASSERT_NE(encoder.pipe, INVALID_HANDLE_VALUE);
  tsa::testing::writeSource(path("a.yuv"), 1, 2);
  tsa::testing::writeText(path("list.txt"), "a.yuv 0 2\n");
  std::string received;
  std::thread reader([&] {
    std::vector<char> chunk(1 << 16);
    DWORD got = 0;
    for (bool connected = encoder.connect();
         connected && ::ReadFile(encoder.pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &got,
                                 nullptr) != 0;) {
      received.append(chunk.data(), got);
    }
  });
  // No answer comes: a question would end the run with status 10.
  const tsa::testing::ToolRun run =
      tsa::testing::runTool(dir_, {"list.txt", tsa::utf8FromWide(encoder.name)});
  reader.join();
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(received == frameBytes(1, 0) + frameBytes(1, 1));
}

// The code page belongs to the console, not to the tool: a run in it must
// leave it as it was.
TEST(LiveRun, TheConsoleCodePageIsLeftAsItWas) {
  const UINT before = ::GetConsoleOutputCP();
  if (before == 0) {
    GTEST_SKIP() << "no console to run the tool in (under Wine, run the suite in a terminal)";
  }
  ASSERT_NE(::SetConsoleOutputCP(437), 0);
  // The usage text goes to the console the test runs in.
  std::wstring commandLine = L"\"" + tsa::wideFromUtf8(tsa::testing::toolPath()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_NE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process),
            0);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  EXPECT_EQ(::GetConsoleOutputCP(), 437U);
  ::SetConsoleOutputCP(before);
}

#endif
