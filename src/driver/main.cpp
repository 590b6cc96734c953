#include <cstdio>

#include "driver/driver.h"

int main(int argc, char** argv) {
  tsa::Console console = tsa::Console::forStream(stdout);
  const tsa::ExitStatus status = tsa::runDriver(argc, argv, stdin, console);
  console.flush();
  return static_cast<int>(status);
}
