// Shared test fixtures: a scratch folder, frames that say where they came
// from, a console captured in memory and a way to run the built tool.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/format/frame_format.h"
#include "engine/list/pre_scan.h"
#include "engine/system/console.h"

// The size of the frames the tool under test takes when nothing names a
// format, as its build gives it.
#ifndef TSA_TOOL_WIDTH
#define TSA_TOOL_WIDTH 1920
#define TSA_TOOL_HEIGHT 1080
#endif

namespace tsa {

/// The frames the tool under test takes when nothing names a format, and
/// their width, height and bytes.
inline constexpr std::int32_t frameWidth = TSA_TOOL_WIDTH;
inline constexpr std::int32_t frameHeight = TSA_TOOL_HEIGHT;
inline constexpr FrameFormat defaultFrameFormat{frameWidth, frameHeight, {}};
inline const std::int64_t frameSize = defaultFrameFormat.frameBytes();

}  // namespace tsa

namespace tsa::testing {

/// What a run of the tool under test asks of its pre-scan, without options.
[[nodiscard]] inline ScanRules toolScanRules() {
  ScanRules rules;
  rules.defaultFormat = defaultFrameFormat;
  return rules;
}

/// A fresh folder under the system's temporary folder, removed with
/// everything in it when the fixture ends.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// The full path of `name` inside the scratch folder.
  [[nodiscard]] std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

/// The folder of the archives tests/make_archives.sh makes with the real
/// archivers, made once in the build folder and kept there; under
/// Wine, which has no archivers, the folder TSA_TEST_ARCHIVES names, made
/// beforehand. Empty where there is none.
[[nodiscard]] const std::string& testArchives();

/// `path` (UTF-8, as the tool takes names) as a path of the file system.
[[nodiscard]] std::filesystem::path fsPath(const std::string& path);

/// One frame whose every byte depends on its source and frame number, so a
/// frame read from the wrong source or the wrong place never matches.
[[nodiscard]] std::vector<unsigned char> patternFrame(int sourceId, std::int64_t frameIndex);

/// Writes a source of `frames` pattern frames, then `extraBytes` of a frame
/// that is cut short.
void writeSource(const std::string& path, int sourceId, int frames, int extraBytes = 0);

/// Writes `text` to `path`, replacing it.
void writeText(const std::string& path, const std::string& text);

/// The whole content of `path`.
[[nodiscard]] std::string readFile(const std::string& path);

/// The default format as messages name it ("1920x1080 yuv420p"), and its
/// size as a Y4M header gives it ("W1920 H1080").
inline const std::string defaultFormatName = defaultFrameFormat.describe();
inline const std::string defaultY4mSize = std::string("W")
                                              .append(std::to_string(frameWidth))
                                              .append(" H")
                                              .append(std::to_string(frameHeight));

/// A run of frames as the output should hold it.
struct Splice {
  int sourceId;
  std::int64_t firstFrame;
  std::int64_t frames;
};

/// The frames of `splices` in order, each behind `marker`: what a raw
/// output holds, or with "FRAME\n" a Y4M output after its header.
[[nodiscard]] std::string framesOf(const std::vector<Splice>& splices,
                                   const std::string& marker = "");

/// Checks that `path` holds exactly the frames of `splices`, in order.
void expectFrames(const std::string& path, const std::vector<Splice>& splices);

/// A progress line with every column spelled out: the splice and run
/// percentages as printed ("  0", " 100"), the name padded to 30 columns.
[[nodiscard]] std::string progressLine(const std::string& splice, const std::string& name,
                                       const std::string& total);

/// The line that closes a splice of `name`: padded to 40 columns.
[[nodiscard]] std::string closingLine(const std::string& name);

/// A console whose prints land in memory.
class CapturedConsole {
 public:
  CapturedConsole();
  ~CapturedConsole();
  CapturedConsole(const CapturedConsole&) = delete;
  CapturedConsole& operator=(const CapturedConsole&) = delete;

  Console& console() { return console_; }
  /// Everything printed so far.
  [[nodiscard]] std::string text();

 private:
  std::FILE* stream_;
  Console console_;
};

/// The path of the built tool.
[[nodiscard]] const char* toolPath();

/// The argument vector that runs the built tool with `args`, ending in null;
/// it points into `args`, which must outlive it.
[[nodiscard]] std::vector<const char*> toolArgv(const std::vector<std::string>& args);

/// The outcome of one run of the built tool.
struct ToolRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  int signal = 0;   // the signal that ended it, or 0
  std::string out;  // everything on standard output
  std::string err;  // everything on standard error
};

/// A run of the built tool in `workDir`, started now and waited for by
/// finish(). `input` is all of its standard input. An `extraFd` is handed to
/// the tool as descriptor `extraFdNumber` (to reach it as /dev/fd/N, or as
/// standard output when it is 1). The tool starts with every signal at its
/// default action, as a shell starts it.
/// `environment` adds NAME=VALUE settings to the tool's environment.
class ToolProcess {
 public:
  ToolProcess(const std::string& workDir, const std::vector<std::string>& args,
              const std::string& input, int extraFd = -1, int extraFdNumber = -1,
              const std::vector<std::string>& environment = {});
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  ~ToolProcess();

  ToolRun finish();

  /// Sends the tool the signal `number` (POSIX).
  void sendSignal(int number) const;

 private:
  // A process id and descriptors, or Windows handles.
  std::intptr_t process_ = -1;
  std::intptr_t out_ = -1;
  std::intptr_t err_ = -1;
};

/// Runs the built tool to its end.
[[nodiscard]] ToolRun runTool(const std::string& workDir, const std::vector<std::string>& args,
                              const std::string& input = "",
                              const std::vector<std::string>& environment = {});

/// The library that makes the tool's system calls fail (see
/// fault_injection.cpp), or empty where it cannot be preloaded.
[[nodiscard]] std::string faultLibrary();

}  // namespace tsa::testing
