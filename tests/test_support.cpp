#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tsa::testing {

std::filesystem::path fsPath(const std::string& path) {
  return {std::u8string(path.begin(), path.end())};
}

void ScratchDirTest::SetUp() {
  std::random_device random;
  for (int tries = 0; tries < 100 && dir_.empty(); ++tries) {
    const auto candidate =
        std::filesystem::temp_directory_path() / ("tsa-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      dir_ = candidate.generic_string();
    }
  }
  ASSERT_FALSE(dir_.empty()) << "no scratch folder";
}

void ScratchDirTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(fsPath(dir_), ignored);
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
  std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
  for (int i = 0; i < frames; ++i) {
    const auto frame = patternFrame(sourceId, i);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
  }
  const auto partial = patternFrame(sourceId, frames);
  out.write(reinterpret_cast<const char*>(partial.data()), extraBytes);
  ASSERT_TRUE(out.good()) << path;
}

namespace {

// The archives' folder: made once for the build (ctest runs each test in
// a process of its own), for this version of the script that makes them.
// Two processes that make it at once each make their own, and the first
// to move it into place wins.
struct ArchiveFolder {
  std::string path;

  ArchiveFolder() {
    if (const char* given = std::getenv("TSA_TEST_ARCHIVES"); given != nullptr && *given != '\0') {
      path = given;
      return;
    }
#ifndef _WIN32
    if (std::system("{ command -v 7z && command -v zip && command -v xz && command -v zstd && "
                    "command -v bzip2 && command -v gzip && command -v tar; } >/dev/null") != 0) {
      return;
    }
    const std::filesystem::path script = TSA_SOURCE_DIR "/tests/make_archives.sh";
    const auto version = static_cast<unsigned long long>(
                             std::filesystem::last_write_time(script).time_since_epoch().count()) ^
                         std::filesystem::file_size(script);
    const std::filesystem::path folder =
        std::filesystem::path(TSA_BINARY_DIR) / ("test-archives-" + std::to_string(version));
    path = folder.string();
    if (std::filesystem::exists(folder / ".test-archives")) {
      return;
    }
    const std::string own = path + "." + std::to_string(::getpid());
    std::error_code ignored;
    if (std::system(("bash " TSA_SOURCE_DIR "/tests/make_archives.sh " + own + " >/dev/null 2>&1")
                        .c_str()) != 0) {
      std::filesystem::remove_all(own, ignored);
      path.clear();
      return;
    }
    std::filesystem::rename(own, folder, ignored);
    std::filesystem::remove_all(own, ignored);  // another process's came first
#endif
  }
};

}  // namespace

const std::string& testArchives() {
  static const ArchiveFolder folder;
  return folder.path;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const std::string& path) {
  // One read of the file's size: a stream copy slows down far more than
  // the files grow.
  std::error_code error;
  const auto size = std::filesystem::file_size(fsPath(path), error);
  std::string content(error ? 0 : static_cast<std::size_t>(size), '\0');
  std::ifstream in(fsPath(path), std::ios::binary);
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  return content;
}

std::string framesOf(const std::vector<Splice>& splices, const std::string& marker) {
  std::string bytes;
  for (const Splice& splice : splices) {
    for (std::int64_t i = 0; i < splice.frames; ++i) {
      const auto frame = patternFrame(splice.sourceId, splice.firstFrame + i);
      bytes.append(marker).append(frame.begin(), frame.end());
    }
  }
  return bytes;
}

void expectFrames(const std::string& path, const std::vector<Splice>& splices) {
  std::int64_t expectedFrames = 0;
  for (const Splice& splice : splices) {
    expectedFrames += splice.frames;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(fsPath(path), error);
  ASSERT_FALSE(error) << path << ": " << error.message();
  ASSERT_EQ(size, static_cast<std::uintmax_t>(expectedFrames * frameSize)) << path;

  std::ifstream in(fsPath(path), std::ios::binary);
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
    : stream_(std::tmpfile()), console_(stream_, Console::Flush::WhenAsked) {}

CapturedConsole::~CapturedConsole() { std::fclose(stream_); }

std::string CapturedConsole::text() {
  std::fflush(stream_);
  const long end = std::ftell(stream_);
  std::string text(static_cast<std::size_t>(end), '\0');
  std::rewind(stream_);
  const std::size_t got = std::fread(text.data(), 1, text.size(), stream_);
  text.resize(got);
  std::fseek(stream_, 0, SEEK_END);
  return text;
}

const char* toolPath() {
  // Made absolute once, before any run works in another folder.
  static const std::string tool = std::filesystem::absolute(TSA_TOOL_PATH).string();
  return tool.c_str();
}

std::vector<const char*> toolArgv(const std::vector<std::string>& args) {
  std::vector<const char*> argv{toolPath()};
  for (const std::string& arg : args) {
    argv.push_back(arg.c_str());
  }
  argv.push_back(nullptr);
  return argv;
}

ToolRun runTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& input, const std::vector<std::string>& environment) {
  return ToolProcess(workDir, args, input, -1, -1, environment).finish();
}

std::string faultLibrary() { return TSA_FAULT_LIBRARY; }

}  // namespace tsa::testing
