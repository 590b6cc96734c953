#include "engine/background_writer.h"

namespace tsa {

BackgroundWriter::BackgroundWriter(OutputFile& pOutFile)
    : pOutFile_(pOutFile), thread_([this] { writeFrames(); }) {}

BackgroundWriter::~BackgroundWriter() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundWriter::start(std::span<const unsigned char> frame) {
  {
    const std::lock_guard lock(mutex_);
    frame_ = frame;
    busy_ = true;
    error_ = 0;
  }
  changed_.notify_all();
}

int BackgroundWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  return error_;
}

void BackgroundWriter::writeFrames() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (stopping_) {
      return;
    }
    const std::span<const unsigned char> frame = frame_;
    lock.unlock();
    const int error = pOutFile_.write(frame);
    lock.lock();
    error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace tsa
