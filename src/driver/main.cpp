#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/driver.h"
#include "engine/system/stop.h"

int main(int argc, char** argv) {
  tsa::prepareStandardStreams();
  // An output pipe whose reader has gone is a failed write, and a console
  // that has gone does not stop the assembly.
  tsa::ignoreBrokenPipes();
  const std::vector<std::string> arguments = tsa::commandLineArguments(argc, argv);
  std::vector<const char*> pointers;
  pointers.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  tsa::Console console = tsa::Console::forStream(tsa::messageStream(arguments));
  const tsa::ExitStatus status =
      tsa::runDriver(static_cast<int>(pointers.size()), pointers.data(), stdin, console);
  console.flush();
  if (status == tsa::ExitStatus::Interrupted) {
    tsa::endAsStopped();
  }
  return static_cast<int>(status);
}
