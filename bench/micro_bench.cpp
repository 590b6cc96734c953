// What the per-frame console work and the line parse cost, next to the
// roughly 0.7 ms it takes to move one 3 MB frame through the page cache.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "engine/copy/progress_lines.h"
#include "engine/list/edit_list.h"

namespace {

// One progress line: buffered, as with stdout sent to a file, or flushed
// at once (one write each), as on a terminal.
void progressLine(benchmark::State& state, tsa::Console::Flush flush) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  tsa::Console console(sink, flush);
  std::int64_t frame = 0;
  for (auto _ : state) {
    tsa::printProgressLine(console, frame % 150, 150, "/data/clips/park.yuv", frame, 370);
    ++frame;
  }
  std::fclose(sink);
}
BENCHMARK_CAPTURE(progressLine, buffered, tsa::Console::Flush::WhenAsked);
BENCHMARK_CAPTURE(progressLine, flushed, tsa::Console::Flush::EveryPrint);

void parseLine(benchmark::State& state) {
  tsa::EditInstruction inst;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tsa::parseEditInstruction("/data/clips/park.yuv    300 150\r\n", inst));
  }
}
BENCHMARK(parseLine);

}  // namespace
