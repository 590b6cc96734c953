#include "engine/system/console.h"

#include <cstdarg>

namespace tsa {

Console Console::forStream(std::FILE* out) {
  if (isTerminal(out)) {
    return Console(out, Flush::EveryPrint);
  }
  // Standard error is unbuffered from the start; elsewhere it may gather
  // progress lines as standard output does.
  std::setvbuf(out, nullptr, _IOFBF, BUFSIZ);
  return Console(out, Flush::WhenAsked);
}

void Console::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printArgs(format, args);
  va_end(args);
}

void Console::note(const char* format, ...) {
  if (quiet_) {
    return;
  }
  va_list args;
  va_start(args, format);
  printArgs(format, args);
  va_end(args);
}

void Console::printArgs(const char* format, std::va_list args) {
  if (flush_ == Flush::EveryPrint) {
    printToTerminal(out_, format, args);
  } else {
    std::vfprintf(out_, format, args);
  }
}

}  // namespace tsa
