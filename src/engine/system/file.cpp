// The parts of the file layer that every platform shares.
#include "engine/system/file.h"

#include <algorithm>
#include <cerrno>

#include "engine/system/stop.h"

namespace tsa {
namespace {

// Cuts the file that `apart`, a handle of its own, has open to `length`
// bytes, then closes `apart`; 0 or the first error.
int cutThrough(FileHandle apart, std::int64_t length) {
  const int error = cutToLength(apart, length);
  const int closed = apart.close();
  return error != 0 ? error : closed;
}

// Cuts `file` to `length` bytes through a handle of its own, closed at once
// (see OutputFile::emptyInBackground), or through `file` where there is none.
int cutApart(const FileHandle& file, std::int64_t length) {
  OpenResult again = openAgain(file);
  return again.file.isOpen() ? cutThrough(std::move(again.file), length)
                             : cutToLength(file, length);
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    (void)close();
    native_ = std::exchange(other.native_, invalid);
  }
  return *this;
}

FileHandle::~FileHandle() { (void)close(); }

OutputFile::OutputFile(FileHandle file, std::string path, bool regularFile, Origin origin)
    : file_(std::move(file)), path_(std::move(path)), regularFile_(regularFile), origin_(origin) {
  if (origin_ == Origin::StandardOutput) {
    startsAt_ = std::max<std::int64_t>(positionOf(file_), 0);
  }
}

OutputFile::~OutputFile() { (void)waitForCut(); }

void OutputFile::emptyInBackground() {
  OpenResult again = openAgain(file_);
  if (!again.file.isOpen()) {
    cutError_ = cutToLength(file_, 0);
    return;
  }
  // Stop signals stay with the copying thread (see stop.h).
  const StopSignalsBlocked blocked;
  cut_ = std::async(std::launch::async, [apart = std::move(again.file)]() mutable {
    return cutThrough(std::move(apart), 0);
  });
}

int OutputFile::waitForCut() {
  if (cut_.valid()) {
    cutError_ = cut_.get();
  }
  return cutError_;
}

Transfer OutputFile::write(std::span<const unsigned char> bytes) {
  if (const int error = waitForCut(); error != 0) {
    return {0, error};
  }
  Transfer total;
  while (total.bytes < bytes.size()) {
    // Through the page cache, a write of 1 MiB at a time: larger ones (a
    // 1080p frame, a batch of small ones) were up to five times slower here
    // while the file system was still releasing the blocks of a file just
    // deleted; smaller ones cost more calls.
    constexpr std::size_t pageCachePiece = std::size_t{1} << 20;
    const std::span<const unsigned char> rest = bytes.subspan(total.bytes);
    const Transfer written = writeSome(
        file_, directBlock_ != 0 ? rest : rest.first(std::min(rest.size(), pageCachePiece)));
    position_ += static_cast<std::int64_t>(written.bytes);
    total.bytes += written.bytes;
    if (written.error != 0) {
      total.error = written.error;
      break;
    }
    // Past the page cache the rest must start on a block too: what went
    // past the last whole block is written again with it.
    const std::size_t offBlock = directBlock_ != 0 ? total.bytes % directBlock_ : 0;
    if (offBlock != 0 && total.bytes < bytes.size() &&
        seekTo(file_, position_ - static_cast<std::int64_t>(offBlock)) == 0) {
      position_ -= static_cast<std::int64_t>(offBlock);
      total.bytes -= offBlock;
    }
  }
  return total;
}

Transfer OutputFile::writeThroughPageCache(std::span<const unsigned char> bytes) {
  // As dd does with a last partial block: the flag is cleared for this one
  // write, which may start and end anywhere. A file that has left direct
  // transfers still moves back: the next write takes these bytes again.
  const bool direct = directBlock_ != 0;
  const std::int64_t start = position_;
  Transfer written{0, !direct || movePastPageCache(file_, false) ? 0 : EINVAL};
  if (written.error == 0) {
    written = write(bytes);
  }
  if (written.error == 0) {
    written.error = seekTo(file_, start);
    position_ = written.error == 0 ? start : position_;
  }
  if (written.error == 0 && direct && !movePastPageCache(file_, true)) {
    directBlock_ = 0;  // the rest goes through the page cache, as it can
  }
  return written;
}

int OutputFile::shareFrom(const FileHandle& source, std::int64_t sourceOffset, std::int64_t offset,
                          std::int64_t length) {
  int error = waitForCut();
  if (error == 0) {
    error = shareBlocks(source, sourceOffset, file_, offset, length);
  }
  if (error == 0) {
    error = seekTo(file_, offset + length);
  }
  if (error == 0) {
    position_ = offset + length;
  }
  return error;
}

int OutputFile::unshareFrom(std::int64_t offset) {
  int error = waitForCut();
  if (error == 0) {
    error = cutApart(file_, offset);
  }
  if (error == 0) {
    error = seekTo(file_, offset);
  }
  if (error == 0) {
    position_ = offset;
  }
  return error;
}

std::size_t OutputFile::shareBlock() const {
  // Standard output may stand anywhere in its file, or append to it.
  return regularFile_ && origin_ == Origin::OpenedByTheRun ? tsa::shareBlock(file_) : 0;
}

std::size_t goPastPageCache(const FileHandle& file, std::size_t maxBlock) {
  const std::size_t block = directTransferBlock(file);
  return block != 0 && block <= maxBlock && movePastPageCache(file, true) ? block : 0;
}

std::size_t OutputFile::goPastPageCache(std::size_t maxBlock) {
  // Standard output may stand anywhere in its file, or append to it.
  if (regularFile_ && origin_ == Origin::OpenedByTheRun) {
    directBlock_ = tsa::goPastPageCache(file_, maxBlock);
  }
  return directBlock_;
}

void OutputFile::cutBackTo(std::int64_t length) {
  if (regularFile_ && waitForCut() == 0) {
    (void)cutApart(file_, startsAt_ + length);
  }
}

bool OutputFile::close(Console& console) {
  int error = waitForCut();
  if (const int closed = file_.close(); error == 0) {
    error = closed;
  }
  if (error != 0) {
    reportWriteError(error, console);
    return false;
  }
  return true;
}

void OutputFile::reportWriteError(int error, Console& console) const {
  console.print("Error: cannot write to output file \"%s\" (%s)\n", path_.c_str(),
                describeError(error).c_str());
}

bool readWholeFile(const std::string& path, std::string& text, int& error) {
  const OpenResult opened = openForReading(path);
  if (!opened.file.isOpen()) {
    error = opened.error;
    return false;
  }
  std::string block(std::size_t{1} << 16, '\0');
  for (;;) {
    const Transfer read = readSome(
        opened.file, std::span(reinterpret_cast<unsigned char*>(block.data()), block.size()));
    if (read.error != 0) {
      error = read.error;
      return false;
    }
    if (read.bytes == 0) {
      return true;
    }
    text.append(block, 0, read.bytes);
  }
}

}  // namespace tsa
