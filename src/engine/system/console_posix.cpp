// The console on POSIX systems.
#include <unistd.h>

#include "engine/system/console.h"

namespace tsa {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void printToTerminal(std::FILE* stream, const char* format, std::va_list args) {
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

void prepareStandardStreams() {
  // Standard streams already carry bytes as they are.
}

}  // namespace tsa
