#include "engine/copy/output_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/system/aligned_buffer.h"

namespace tsa {

OutputStream::OutputStream(OutputFile& file, std::string header, std::string frameMarker,
                           std::size_t maxPendingFrames)
    : file_(file), header_(std::move(header)), marker_(std::move(frameMarker)) {
  // The header, and the frames staged since the last whole one: reserved
  // once, so that no frame allocates.
  units_.reserve(maxPendingFrames + 2);
}

void OutputStream::goPastPageCache(std::int64_t pictureBytes) {
  // A frame smaller than a block would leave whole frames in the carry.
  block_ = file_.goPastPageCache(std::min(maxDirectBlock, static_cast<std::size_t>(pictureBytes)));
}

void OutputStream::begin() {
  // The header goes out with the first frame (from a block, past the page
  // cache), or alone when the stream first stands still: an older file's
  // cut may hold up the first write, and the frames read meanwhile wait
  // in their slots.
  carried_ = std::span(reinterpret_cast<const unsigned char*>(header_.data()), header_.size());
  addUnit(header_.size(), false);
}

OutputStream::Write OutputStream::stage(std::span<unsigned char> slot,
                                        std::span<unsigned char> picture) {
  const std::size_t carried = carried_.size();
  const std::size_t marker = marker_.size();
  const auto pictureAt = static_cast<std::size_t>(picture.data() - slot.data());
  // Past the page cache the write starts on the block before the picture
  // that leaves room for the carried bytes and the marker. Where that puts
  // the picture off its place, it moves back by less than a block.
  std::size_t start = pictureAt - carried - marker;
  if (block_ != 0) {
    start = start / block_ * block_;
    const std::size_t moved = start + carried + marker;
    if (moved != pictureAt) {
      std::memmove(slot.data() + moved, picture.data(), picture.size());
    }
  }
  std::memcpy(slot.data() + start + carried, marker_.data(), marker);
  if (carried != 0) {
    std::memcpy(slot.data() + start, carried_.data(), carried);
  }
  const std::size_t unit = carried + marker + picture.size();
  const std::size_t now = block_ != 0 ? unit / block_ * block_ : unit;

  const Write write{slot.subspan(start, now), streamEnd_ - static_cast<std::int64_t>(carried),
                    carried};
  carried_ = slot.subspan(start + now, unit - now);
  addUnit(marker + picture.size(), true);
  return write;
}

void OutputStream::wrote(const Write& write, const Transfer& result) {
  holdsUpTo(write.start + static_cast<std::int64_t>(result.bytes));
}

int OutputStream::flushCarried() {
  if (carried_.empty()) {
    return 0;
  }
  // Past the page cache the carried bytes are written again with the next
  // unit, from its block; through it (a header, before any frame) they go
  // for good, to a pipe too.
  const Transfer written =
      block_ != 0 ? file_.writeThroughPageCache(carried_) : file_.write(carried_);
  holdsUpTo(streamEnd_ - static_cast<std::int64_t>(carried_.size()) +
            static_cast<std::int64_t>(written.bytes));
  if (block_ == 0) {
    carried_ = carried_.subspan(written.bytes);
  }
  return written.error;
}

void OutputStream::keepWholeUnits(const Write* failed) {
  // The bytes carried into a failed write end the unit before it; they may
  // still go where the rest did not.
  if (failed != nullptr) {
    const std::int64_t carriedEnd = failed->start + static_cast<std::int64_t>(failed->carried);
    if (!units_.empty() && units_.front().end <= carriedEnd && inFile_ < carriedEnd) {
      const auto from = static_cast<std::size_t>(inFile_ - failed->start);
      const Transfer written =
          file_.writeThroughPageCache(failed->bytes.subspan(from, failed->carried - from));
      holdsUpTo(inFile_ + static_cast<std::int64_t>(written.bytes));
    }
  }
  file_.cutBackTo(wholeEnd_);
  inFile_ = wholeEnd_;
}

int OutputStream::shareFrames(const FileHandle& source, std::int64_t sourceOffset,
                              std::int64_t frames, std::int64_t unitBytes) {
  const std::int64_t bytes = frames * unitBytes;
  if (const int error = file_.shareFrom(source, sourceOffset, streamEnd_, bytes); error != 0) {
    return error;
  }
  carried_ = {};  // what was carried lies in the file before the shared blocks
  sharedBytes_ = bytes;
  sharedFrames_ = frames;
  streamEnd_ += bytes;
  inFile_ = streamEnd_;
  wholeEnd_ = streamEnd_;
  wholeFrames_ += frames;
  return 0;
}

int OutputStream::unshareFrames() {
  const std::int64_t start = streamEnd_ - sharedBytes_;
  if (const int error = file_.unshareFrom(start); error != 0) {
    return error;
  }
  streamEnd_ = start;
  inFile_ = start;
  wholeEnd_ = start;
  wholeFrames_ -= sharedFrames_;
  sharedBytes_ = 0;
  sharedFrames_ = 0;
  return 0;
}

void OutputStream::addUnit(std::size_t bytes, bool frame) {
  streamEnd_ += static_cast<std::int64_t>(bytes);
  units_.push_back(Unit{streamEnd_, frame});
  holdsUpTo(inFile_);  // a unit of no bytes is whole at once
}

void OutputStream::holdsUpTo(std::int64_t end) {
  inFile_ = std::max(inFile_, end);
  std::size_t whole = 0;
  while (whole < units_.size() && units_[whole].end <= inFile_) {
    wholeEnd_ = units_[whole].end;
    wholeFrames_ += units_[whole].frame ? 1 : 0;
    ++whole;
  }
  units_.erase(units_.begin(), units_.begin() + static_cast<std::ptrdiff_t>(whole));
}

}  // namespace tsa
