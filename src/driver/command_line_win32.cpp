#include <windows.h>

#include "driver/command_line.h"
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <memory>

#include "engine/system/text_win32.h"

namespace tsa {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!wide) {
    return {argv, argv + argc};  // the code page's view is all there is
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(utf8FromWide(wide.get()[i]));
  }
  return arguments;
}

}  // namespace tsa
