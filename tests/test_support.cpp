#include "test_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tsa::testing {

void ScratchDirTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tsa-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
  dir_ = pattern;
}

void ScratchDirTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<unsigned char> patternFrame(int sourceId, std::int64_t frameIndex) {
  std::vector<unsigned char> frame(static_cast<std::size_t>(frameSize));
  // Every 4 KiB block differs from its neighbours and from the same block of
  // every other frame and source.
  constexpr std::size_t block = 4096;
  for (std::size_t start = 0; start < frame.size(); start += block) {
    const auto value = static_cast<unsigned char>(std::int64_t{sourceId} * 59 + frameIndex * 13 +
                                                  static_cast<std::int64_t>(start / block));
    std::memset(frame.data() + start, value, std::min(block, frame.size() - start));
  }
  std::snprintf(reinterpret_cast<char*>(frame.data()), 32, "source %d frame %lld", sourceId,
                static_cast<long long>(frameIndex));
  return frame;
}

void writeSource(const std::string& path, int sourceId, int frames, int extraBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (int i = 0; i < frames; ++i) {
    const auto frame = patternFrame(sourceId, i);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
  }
  const auto partial = patternFrame(sourceId, frames);
  out.write(reinterpret_cast<const char*>(partial.data()), extraBytes);
  ASSERT_TRUE(out.good()) << path;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void expectFrames(const std::string& path, const std::vector<Splice>& splices) {
  std::int64_t expectedFrames = 0;
  for (const Splice& splice : splices) {
    expectedFrames += splice.frames;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  ASSERT_FALSE(error) << path << ": " << error.message();
  ASSERT_EQ(size, static_cast<std::uintmax_t>(expectedFrames * frameSize)) << path;

  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> frame(static_cast<std::size_t>(frameSize));
  std::int64_t outputFrame = 0;
  for (const Splice& splice : splices) {
    for (std::int64_t i = 0; i < splice.frames; ++i, ++outputFrame) {
      in.read(reinterpret_cast<char*>(frame.data()), frameSize);
      ASSERT_TRUE(in.good()) << "output frame " << outputFrame;
      ASSERT_TRUE(frame == patternFrame(splice.sourceId, splice.firstFrame + i))
          << "output frame " << outputFrame << " should be frame " << splice.firstFrame + i
          << " of source " << splice.sourceId << " but starts with \""
          << reinterpret_cast<const char*>(frame.data()) << "\"";
    }
  }
}

std::string progressLine(const std::string& splice, const std::string& name,
                         const std::string& total) {
  std::string padded = name;
  padded.resize(std::max<std::size_t>(30, name.size()), ' ');
  return "(" + splice + "%) " + padded + "  " + total + "%\r";
}

std::string closingLine(const std::string& name) {
  std::string padded = name;
  padded.resize(std::max<std::size_t>(40, name.size()), ' ');
  return "(100%) " + padded + "\n";
}

CapturedConsole::CapturedConsole()
    : stream_(::open_memstream(&buffer_, &size_)), console_(stream_, Console::Flush::WhenAsked) {}

CapturedConsole::~CapturedConsole() {
  std::fclose(stream_);
  std::free(buffer_);
}

std::string CapturedConsole::text() {
  std::fflush(stream_);
  return {buffer_, size_};
}

const char* toolPath() { return TSA_TOOL_PATH; }

std::vector<const char*> toolArgv(const std::vector<std::string>& args) {
  std::vector<const char*> argv{toolPath()};
  for (const std::string& arg : args) {
    argv.push_back(arg.c_str());
  }
  argv.push_back(nullptr);
  return argv;
}

namespace {

std::string readAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char chunk[65536];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

ToolProcess::ToolProcess(const std::string& workDir, const std::vector<std::string>& args,
                         const std::string& input, int extraFd, int extraFdNumber,
                         const std::vector<std::string>& environment) {
  // A tool that ends before reading its input must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  outFd_ = ::memfd_create("tool-stdout", MFD_CLOEXEC);
  errFd_ = ::memfd_create("tool-stderr", MFD_CLOEXEC);
  int inPipe[2];
  if (outFd_ < 0 || errFd_ < 0 || ::pipe(inPipe) != 0) {
    ADD_FAILURE() << "cannot set up the tool's streams: " << std::strerror(errno);
    return;
  }
  const std::vector<const char*> argv = toolArgv(args);

  pid_ = ::fork();
  if (pid_ == 0) {
    if (::chdir(workDir.c_str()) != 0) {
      ::_exit(127);
    }
    for (const std::string& setting : environment) {
      ::putenv(const_cast<char*>(setting.c_str()));
    }
    ::dup2(inPipe[0], 0);
    ::dup2(outFd_, 1);
    ::dup2(errFd_, 2);
    if (extraFd >= 0) {
      ::dup2(extraFd, extraFdNumber);
      ::close_range(3, static_cast<unsigned>(extraFdNumber) - 1, 0);
      ::close_range(static_cast<unsigned>(extraFdNumber) + 1, ~0U, 0);
    } else {
      ::close_range(3, ~0U, 0);
    }
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(inPipe[0]);
  if (!input.empty() && ::write(inPipe[1], input.data(), input.size()) < 0) {
    // The tool ended without reading; its status tells the rest.
  }
  ::close(inPipe[1]);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0) {
    (void)finish();
  }
  ::close(outFd_);
  ::close(errFd_);
}

ToolRun ToolProcess::finish() {
  ToolRun run;
  if (pid_ <= 0) {
    return run;
  }
  int waitStatus = 0;
  ::waitpid(pid_, &waitStatus, 0);
  pid_ = -1;
  run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  run.out = readAll(outFd_);
  run.err = readAll(errFd_);
  return run;
}

ToolRun runTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& input, const std::vector<std::string>& environment) {
  return ToolProcess(workDir, args, input, -1, -1, environment).finish();
}

std::string faultLibrary() { return TSA_FAULT_LIBRARY; }

}  // namespace tsa::testing
