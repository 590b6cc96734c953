#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/driver.h"

int main(int argc, char** argv) {
  tsa::prepareStandardStreams();
  const std::vector<std::string> arguments = tsa::commandLineArguments(argc, argv);
  std::vector<const char*> pointers;
  pointers.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  tsa::Console console = tsa::Console::forStream(stdout);
  const tsa::ExitStatus status =
      tsa::runDriver(static_cast<int>(pointers.size()), pointers.data(), stdin, console);
  console.flush();
  return static_cast<int>(status);
}
