#include "driver/run_tool.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/driver.h"
#include "engine/system/stop.h"

namespace tsa {

int runTool(int argc, char** argv, const FrameFormat& defaultFormat) {
  prepareStandardStreams();
  // An output pipe whose reader has gone is a failed write, and a console
  // that has gone does not stop the assembly.
  ignoreBrokenPipes();
  const std::vector<std::string> arguments = commandLineArguments(argc, argv);
  std::vector<const char*> pointers;
  pointers.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  Console console = Console::forStream(messageStream(arguments, defaultFormat));
  const ExitStatus status =
      runDriver(static_cast<int>(pointers.size()), pointers.data(), stdin, console, defaultFormat);
  console.flush();
  if (status == ExitStatus::Interrupted) {
    endAsStopped();
  }
  return static_cast<int>(status);
}

}  // namespace tsa
