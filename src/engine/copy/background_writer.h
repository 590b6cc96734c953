// Writes one frame to the output while the next one is read.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include "engine/system/file.h"

namespace tsa {

/// A thread that writes what it is handed to the output, one piece at a
/// time, so that reading the next frame overlaps the write of the last. The
/// caller hands bytes over, reads on, and asks for the outcome before it
/// reuses their buffer or reports the frame done.
class BackgroundWriter {
 public:
  explicit BackgroundWriter(OutputFile& pOutFile);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  /// Waits for a write still going, then ends the thread.
  ~BackgroundWriter();

  /// Starts writing `bytes`, which must stay untouched until finish().
  void start(std::span<const unsigned char> bytes);

  /// Waits for the write started last and returns how it went (see
  /// OutputFile::write).
  [[nodiscard]] Transfer finish();

 private:
  void writeFrames();

  OutputFile& pOutFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::span<const unsigned char> bytes_;
  bool busy_ = false;
  bool stopping_ = false;
  Transfer result_;
  std::thread thread_;
};

}  // namespace tsa
