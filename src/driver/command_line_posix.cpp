#include "driver/command_line.h"

namespace tsa {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  // The bytes of a POSIX argument are the name itself.
  return {argv, argv + argc};
}

}  // namespace tsa
