// The console on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <string>
#include <string_view>

#include "engine/system/console.h"
#include "engine/system/text_win32.h"

namespace tsa {
namespace {

// The console that `stream` shows on, or null.
HANDLE consoleOf(std::FILE* stream) {
  // NUL is a character device too, but only a console has a console mode.
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

}  // namespace

bool isTerminal(std::FILE* stream) { return consoleOf(stream) != nullptr; }

void printToTerminal(std::FILE* stream, const char* format, std::va_list args) {
  const HANDLE console = consoleOf(stream);
  if (console == nullptr) {
    std::vfprintf(stream, format, args);
    std::fflush(stream);
    return;
  }
  // A progress line fits the buffer on the stack; a longer message is
  // formatted again into one of its size.
  std::array<char, 1024> line{};
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(line.data(), line.size(), format, args);
  std::string longer;
  if (length >= static_cast<int>(line.size())) {
    longer.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(longer.data(), longer.size(), format, again);
    longer.resize(static_cast<std::size_t>(length));
  }
  va_end(again);
  if (length <= 0) {
    return;
  }
  std::fflush(stream);  // whatever went through the stream goes first
  const std::string_view text =
      longer.empty() ? std::string_view(line.data(), static_cast<std::size_t>(length)) : longer;
  std::array<wchar_t, 1024> wideLine{};
  const int wideLength =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wideLine.data(),
                            static_cast<int>(wideLine.size()));
  DWORD written = 0;
  if (wideLength > 0) {
    ::WriteConsoleW(console, wideLine.data(), static_cast<DWORD>(wideLength), &written, nullptr);
    return;
  }
  const std::wstring wide = wideFromUtf8(std::string(text));
  ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void prepareStandardStreams() {
  // Every byte goes out as printed ("\n" stays "\n") and the answer is read
  // as typed. The console's code page is the user's: text for a console
  // goes out as UTF-16 (printToTerminal).
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  ::_setmode(::_fileno(stdin), _O_BINARY);
}

}  // namespace tsa
