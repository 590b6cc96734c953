// The console stream every message of a run is printed on.
#pragma once

#include <cstdarg>
#include <cstdio>

// Lets the compiler check print's arguments against its format.
#if defined(__MINGW32__)
#define TSA_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define TSA_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define TSA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace tsa {

/// Where the tool talks to its user: standard output in the program, a
/// memory stream in tests. Every print shows at once on a terminal (the
/// overwrite question has no line end and progress lines end in a carriage
/// return); elsewhere the stream stays buffered so that a redirected run pays
/// next to nothing per progress line.
class Console {
 public:
  enum class Flush { EveryPrint, WhenAsked };

  explicit Console(std::FILE* out, Flush flush) : out_(out), flush_(flush) {}

  /// A console on `out` that flushes every print when `out` is a terminal
  /// and gathers prints in a buffer elsewhere. Call before anything is
  /// printed on `out`.
  static Console forStream(std::FILE* out);

  /// Prints a printf-style message: a failure, or the overwrite question.
  void print(const char* format, ...) TSA_PRINTF_FORMAT(2, 3);

  /// Prints a printf-style note of how the run goes (the banner, progress,
  /// warnings, the closing report), unless the console is quiet.
  void note(const char* format, ...) TSA_PRINTF_FORMAT(2, 3);

  /// From now on keeps notes off the stream (--quiet): scripts and logs
  /// see failures and the question alone.
  void quieten() { quiet_ = true; }

  /// Pushes everything printed so far out (before reading input, at the end).
  void flush() { std::fflush(out_); }

 private:
  /// Prints a printf-style message from `args`.
  void printArgs(const char* format, std::va_list args);

  std::FILE* out_;
  Flush flush_;
  bool quiet_ = false;
};

/// True when `stream` shows on a terminal (a console window on Windows).
/// Files, pipes and null devices are not terminals.
[[nodiscard]] bool isTerminal(std::FILE* stream);

/// Prints a printf-style message on `stream` as a terminal shows it, and at
/// once: on a Windows console as UTF-16, so that names in any script show
/// whatever the console's code page, which the tool leaves alone.
void printToTerminal(std::FILE* stream, const char* format, std::va_list args);

/// Sets standard input and output to carry bytes unchanged (no line-end
/// translation) before the first print.
void prepareStandardStreams();

}  // namespace tsa
