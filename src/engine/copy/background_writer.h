// Writes frames to the output while the next ones are read.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/copy/output_stream.h"
#include "engine/system/file.h"

namespace tsa {

/// A thread that makes the writes of an output stream it is handed, in the
/// order handed over, so that reading the next frames overlaps the writes
/// of the last. The caller hands writes over (at most `depth` not yet
/// finished), reads on, and takes each back with its outcome, oldest first,
/// before it reuses their buffer or reports their frames done. Once a write
/// fails, those handed over after it are not made.
class BackgroundWriter {
 public:
  BackgroundWriter(OutputFile& pOutFile, std::size_t depth);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  /// Waits for the writes still going, then ends the thread.
  ~BackgroundWriter();

  /// A write and how it went (see OutputFile::write); one not made after a
  /// failure took no bytes, with ECANCELED.
  struct Piece {
    OutputStream::Write write;
    Transfer result;
  };

  /// Starts `write` once those before are made; its bytes must stay
  /// untouched until its finish(). Only while unfinished() < depth.
  void start(const OutputStream::Write& write);

  /// The writes handed over and not yet taken back.
  [[nodiscard]] std::size_t unfinished() const { return handedOver_ - finished_; }

  /// True once a write was taken back: the output takes writes.
  [[nodiscard]] bool anyFinished() const { return finished_ > 0; }

  /// True when the oldest unfinished write is made (or given up).
  [[nodiscard]] bool oldestDone();

  /// Waits for the oldest unfinished write and takes it back.
  [[nodiscard]] Piece finish();

 private:
  void writeFrames();

  OutputFile& pOutFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Piece> ring_;     // write k at k % depth
  std::size_t handedOver_ = 0;  // writes handed over, ever
  std::size_t finished_ = 0;    // of them, those finish() returned
  std::size_t written_ = 0;     // of them, those the thread is done with
  bool failed_ = false;         // the thread's own
  bool stopping_ = false;
  std::thread thread_;  // last: it ends before the rest goes
};

}  // namespace tsa
