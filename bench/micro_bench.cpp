// What the per-frame console work and the line parse cost, next to the
// roughly 0.7 ms it takes to move one 3 MB frame through the page cache.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "engine/edit_list.h"
#include "engine/splicer.h"

namespace {

// One progress line into a buffered stream, as with stdout sent to a file.
void progressLineBuffered(benchmark::State& state) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  tsa::Console console(sink, tsa::Console::Flush::WhenAsked);
  std::int64_t frame = 0;
  for (auto _ : state) {
    tsa::printProgressLine(console, frame % 150, 150, "/data/clips/park.yuv", frame, 370);
    ++frame;
  }
  std::fclose(sink);
}
BENCHMARK(progressLineBuffered);

// One progress line flushed at once, as on a terminal (one write each).
void progressLineFlushed(benchmark::State& state) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  tsa::Console console(sink, tsa::Console::Flush::EveryPrint);
  std::int64_t frame = 0;
  for (auto _ : state) {
    tsa::printProgressLine(console, frame % 150, 150, "/data/clips/park.yuv", frame, 370);
    ++frame;
  }
  std::fclose(sink);
}
BENCHMARK(progressLineFlushed);

void parseLine(benchmark::State& state) {
  tsa::EditInstruction inst;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tsa::parseEditInstruction("/data/clips/park.yuv    300 150\r\n", inst));
  }
}
BENCHMARK(parseLine);

}  // namespace
