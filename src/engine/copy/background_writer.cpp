#include "engine/copy/background_writer.h"

#include "engine/system/stop.h"

namespace tsa {

BackgroundWriter::BackgroundWriter(OutputFile& pOutFile) : pOutFile_(pOutFile) {
  // Stop signals go to the copying thread, never to this one: a write is
  // never cut short by one, and a read waiting on a pipe is woken by it.
  const StopSignalsBlocked blocked;
  thread_ = std::thread([this] { writeFrames(); });
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundWriter::start(std::span<const unsigned char> bytes) {
  {
    const std::lock_guard lock(mutex_);
    bytes_ = bytes;
    busy_ = true;
    result_ = {};
  }
  changed_.notify_all();
}

Transfer BackgroundWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  return result_;
}

void BackgroundWriter::writeFrames() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (stopping_) {
      return;
    }
    const std::span<const unsigned char> bytes = bytes_;
    lock.unlock();
    const Transfer result = pOutFile_.write(bytes);
    lock.lock();
    result_ = result;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace tsa
