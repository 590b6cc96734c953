#include "engine/copy/background_writer.h"

#include <cerrno>

#include "engine/system/stop.h"

namespace tsa {

BackgroundWriter::BackgroundWriter(OutputFile& pOutFile, std::size_t depth)
    : pOutFile_(pOutFile), ring_(depth) {
  // Stop signals go to the copying thread, never to this one: a write is
  // never cut short by one, and a read waiting on a pipe is woken by it.
  const StopSignalsBlocked blocked;
  thread_ = std::thread([this] { writeFrames(); });
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return written_ == handedOver_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundWriter::start(const OutputStream::Write& write) {
  {
    const std::lock_guard lock(mutex_);
    ring_[handedOver_ % ring_.size()] = Piece{write, {}};
    ++handedOver_;
  }
  changed_.notify_all();
}

bool BackgroundWriter::oldestDone() {
  const std::lock_guard lock(mutex_);
  return written_ > finished_;
}

BackgroundWriter::Piece BackgroundWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return written_ > finished_; });
  return ring_[finished_++ % ring_.size()];
}

void BackgroundWriter::writeFrames() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return written_ < handedOver_ || stopping_; });
    if (written_ == handedOver_) {
      return;
    }
    Piece& piece = ring_[written_ % ring_.size()];
    lock.unlock();
    const Transfer result = failed_ ? Transfer{0, ECANCELED} : pOutFile_.write(piece.write.bytes);
    lock.lock();
    piece.result = result;
    failed_ = failed_ || result.error != 0;
    ++written_;
    changed_.notify_all();
  }
}

}  // namespace tsa
