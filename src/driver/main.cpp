// A tool: the frames it takes when nothing names a format, 1920x1080
// yuv420p unless the build names another size.
#include "driver/run_tool.h"

#ifndef TSA_DEFAULT_WIDTH
#define TSA_DEFAULT_WIDTH 1920
#define TSA_DEFAULT_HEIGHT 1080
#endif

int main(int argc, char** argv) {
  return tsa::runTool(argc, argv, tsa::FrameFormat{TSA_DEFAULT_WIDTH, TSA_DEFAULT_HEIGHT, {}});
}
