#include "engine/copy/buffered_copy.h"

#include <algorithm>

#include "engine/copy/frame_buffer.h"

namespace tsa {

BufferedCopy::BufferedCopy(OutputStream& out, OutputFile& pOutFile,
                           std::span<unsigned char> frameBuf, std::size_t slots,
                           std::size_t steadySlots, std::size_t maxBatch, ProgressLines& lines,
                           Console& console, FrameChecksums* checksums)
    : out_(out),
      pOutFile_(pOutFile),
      maxBatch_(maxBatch),
      lines_(lines),
      console_(console),
      checksums_(checksums),
      slotFramesEnd_(slots),
      slotsInUse_(slots),
      steadySlots_(std::min(slots, steadySlots)),
      writer_(pOutFile, slots - 1) {
  const std::size_t slotBytes = frameBuf.size() / slots;
  for (std::size_t slot = 0; slot < slots; ++slot) {
    slots_.push_back(frameBuf.subspan(slot * slotBytes, slotBytes));
  }
}

BufferedCopy::~BufferedCopy() {
  if (checksums_ != nullptr) {
    checksums_->waitUntilHashed(framesAdded_);
  }
}

bool BufferedCopy::placeNextFrame(const FrameSource& source, std::span<unsigned char>& area) {
  const std::size_t marker = source.markerBytes();
  const std::size_t next = batchEnd_ + out_.markerBytes() - marker;
  // A source that may keep a read waiting (a pipe) sends every frame on its
  // way at once.
  const bool joins = batchFrames_ > 0 && batchFrames_ < maxBatch_ && source.readsWithoutWaiting() &&
                     out_.markerBytes() >= marker &&
                     next + marker + source.pictureBytes() <= slots_[slot_].size() - slotLead;
  if (batchFrames_ > 0 && !joins && !handOverBatch()) {
    return false;
  }
  if (batchFrames_ == 0) {
    waitForHashes();
  }
  area = slots_[slot_].subspan(slotLead + (batchFrames_ > 0 ? next : 0));
  return true;
}

void BufferedCopy::add(std::span<unsigned char> picture) {
  // The frame lies right behind the batch, in the file and in memory.
  const OutputStream::Write write = out_.stage(slots_[slot_], picture);
  if (checksums_ != nullptr) {
    // Hashed where staging left it: after the carried bytes and the marker.
    checksums_->hash(
        std::span(write.bytes.data() + write.carried + out_.markerBytes(), picture.size()));
  }
  slotFramesEnd_[slot_] = ++framesAdded_;
  if (batchFrames_++ == 0) {
    batch_ = write;
  } else {
    batch_.bytes = std::span(batch_.bytes.data(), batch_.bytes.size() + write.bytes.size());
  }
  batchEnd_ = static_cast<std::size_t>(picture.data() + picture.size() -
                                       slots_[slot_].subspan(slotLead).data());
  lines_.expect(1);
}

void BufferedCopy::waitForHashes() const {
  if (checksums_ != nullptr) {
    checksums_->waitUntilHashed(slotFramesEnd_[slot_]);
  }
}

bool BufferedCopy::handOverBatch() {
  // Every slot in use but the one being filled may wait for its write; the
  // next one to fill must be written first.
  while (writer_.unfinished() > 0 && writer_.oldestDone()) {
    if (!finishWrite()) {
      return false;
    }
  }
  if (writer_.unfinished() == slotsInUse_ - 1 && !finishWrite()) {
    return false;
  }
  writer_.start(batch_);
  batchFrames_ = 0;
  if (slotsInUse_ > steadySlots_ && writer_.anyFinished() && writer_.unfinished() == 1) {
    // The output takes writes again: back to the few slots that stay in
    // the processor's cache, the one just handed over last in their turn.
    slotsInUse_ = steadySlots_;
    slot_ = std::min(slot_, slotsInUse_ - 1);
  }
  slot_ = (slot_ + 1) % slotsInUse_;
  return true;
}

bool BufferedCopy::finishWrite() {
  if (writer_.unfinished() == 0) {
    return true;
  }
  const auto [write, result] = writer_.finish();
  out_.wrote(write, result);
  if (result.error != 0) {
    return failedWrite(&write, result.error) == ExitStatus::Success;
  }
  lines_.printUpTo(out_.wholeFrames());
  return true;
}

bool BufferedCopy::settle() {
  if (batchFrames_ > 0 && !handOverBatch()) {
    return false;
  }
  while (writer_.unfinished() > 0) {
    if (!finishWrite()) {
      return false;
    }
  }
  if (const int error = out_.flushCarried(); error != 0) {
    return failedWrite(nullptr, error) == ExitStatus::Success;
  }
  lines_.printUpTo(out_.wholeFrames());
  return true;
}

ExitStatus BufferedCopy::failedWrite(const OutputStream::Write* write, int error) {
  out_.keepWholeUnits(write);
  lines_.printUpTo(out_.wholeFrames());
  pOutFile_.reportWriteError(error, console_);
  return ExitStatus::WriteOrMemoryError;
}

}  // namespace tsa
