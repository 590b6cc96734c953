// The command line as the tool reads it: UTF-8 arguments on every platform.
#pragma once

#include <string>
#include <vector>

namespace tsa {

/// The program's arguments, the program name first, in UTF-8. On Windows
/// they are taken from the wide-character command line, so any name
/// arrives whole whatever the system's code page.
[[nodiscard]] std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace tsa
