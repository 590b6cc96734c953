// Writes frames to the output while the next ones are read.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "engine/system/file.h"

namespace tsa {

/// A thread that writes what it is handed to the output, in the order
/// handed over, so that reading the next frames overlaps the writes of the
/// last. The caller hands bytes over (at most `depth` pieces not yet
/// finished), reads on, and asks for each outcome, oldest first, before it
/// reuses their buffer or reports their frames done. Once a write fails,
/// the pieces handed over after it are not written.
class BackgroundWriter {
 public:
  BackgroundWriter(OutputFile& pOutFile, std::size_t depth);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  /// Waits for the writes still going, then ends the thread.
  ~BackgroundWriter();

  /// Starts writing `bytes` once the pieces before are written; they must
  /// stay untouched until their finish(). Only while unfinished() < depth.
  void start(std::span<const unsigned char> bytes);

  /// The pieces handed over whose outcome was not yet asked for.
  [[nodiscard]] std::size_t unfinished() const { return handedOver_ - finished_; }

  /// True when the oldest unfinished piece is written (or given up).
  [[nodiscard]] bool oldestDone();

  /// Waits for the oldest unfinished piece and returns how it went (see
  /// OutputFile::write); a piece not written after a failure returns no
  /// bytes and ECANCELED.
  [[nodiscard]] Transfer finish();

 private:
  struct Piece {
    std::span<const unsigned char> bytes;
    Transfer result;
  };

  void writeFrames();

  OutputFile& pOutFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Piece> ring_;     // piece k at k % depth
  std::size_t handedOver_ = 0;  // pieces handed over, ever
  std::size_t finished_ = 0;    // of them, those finish() returned
  std::size_t written_ = 0;     // of them, those the thread is done with
  bool failed_ = false;         // the thread's own
  bool stopping_ = false;
  std::thread thread_;  // last: it ends before the rest goes
};

}  // namespace tsa
