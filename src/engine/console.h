// The console stream every message of a run is printed on.
#pragma once

#include <cstdio>

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

  /// A console on `out` that flushes every print when `out` is a terminal.
  static Console forStream(std::FILE* out);

  /// Prints a printf-style message.
  void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  /// Pushes everything printed so far out (before reading input, at the end).
  void flush() { std::fflush(out_); }

 private:
  std::FILE* out_;
  Flush flush_;
};

/// True when `stream` shows on a terminal (a console window on Windows).
/// Files, pipes and null devices are not terminals.
[[nodiscard]] bool isTerminal(std::FILE* stream);

}  // namespace tsa
