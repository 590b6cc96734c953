// The console on POSIX systems.
#include <unistd.h>

#include "engine/console.h"

namespace tsa {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void prepareStandardStreams() {
  // Standard streams already carry bytes as they are.
}

}  // namespace tsa
