// The console on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "engine/console.h"

namespace tsa {

bool isTerminal(std::FILE* stream) {
  // NUL is a character device too, but only a console has a console mode.
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

void prepareStandardStreams() {
  // Every byte goes out as printed ("\n" stays "\n") and the answer is read
  // as typed; names are UTF-8, so a console shows them as UTF-8.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stdin), _O_BINARY);
  if (isTerminal(stdout)) {
    ::SetConsoleOutputCP(CP_UTF8);
  }
}

}  // namespace tsa
