// Writes one frame to the output while the next one is read.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include "engine/file.h"

namespace tsa {

/// A thread that writes the frames it is handed to the output, one at a
/// time, so that reading the next frame overlaps the write of the last. The
/// caller hands a frame over, reads on, and asks for the outcome before it
/// reuses that frame's buffer or reports the frame done.
class BackgroundWriter {
 public:
  explicit BackgroundWriter(OutputFile& pOutFile);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  /// Waits for a write still going, then ends the thread.
  ~BackgroundWriter();

  /// Starts writing `frame`, which must stay untouched until finish().
  void start(std::span<const unsigned char> frame);

  /// Waits for the write started last; returns 0, or the error it ended in
  /// (see OutputFile::write). Returns 0 at once when no write was started.
  [[nodiscard]] int finish();

 private:
  void writeFrames();

  OutputFile& pOutFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::span<const unsigned char> frame_;
  bool busy_ = false;
  bool stopping_ = false;
  int error_ = 0;
  std::thread thread_;  // last, so that it starts once the rest is set up
};

}  // namespace tsa
