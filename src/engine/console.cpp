#include "engine/console.h"

#include <cstdarg>

namespace tsa {

Console Console::forStream(std::FILE* out) {
  return Console(out, isTerminal(out) ? Flush::EveryPrint : Flush::WhenAsked);
}

void Console::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (flush_ == Flush::EveryPrint) {
    printToTerminal(out_, format, args);
  } else {
    std::vfprintf(out_, format, args);
  }
  va_end(args);
}

}  // namespace tsa
