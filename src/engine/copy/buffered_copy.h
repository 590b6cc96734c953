// The buffered way frames travel: read into the slots of the frame buffer
// in turn, what a slot holds written by a thread of its own while frames
// are read into the next; every slot but the one being filled may wait for
// its write. Small frames from files go several to a slot, laid out as the
// output takes them, and are written with one call; past the page cache
// the end of a frame that falls inside a block is carried into the next
// write. It owns the slots, the batch, the writes in flight and the writer
// thread, and prints every frame's line once the output holds the frame
// whole. Where the run makes checksums, each frame is hashed where it lies
// in its slot, and a slot takes new frames only once those before are
// hashed.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "engine/copy/background_writer.h"
#include "engine/copy/frame_checksums.h"
#include "engine/copy/output_stream.h"
#include "engine/copy/progress_lines.h"
#include "engine/frame.h"
#include "engine/source/frame_source.h"

namespace tsa {

class BufferedCopy {
 public:
  /// Frames go through `frameBuf` (`slots` slots) into `out`, the stream of
  /// `pOutFile`, at most `maxBatch` to a write; their lines go to `lines`,
  /// their pictures to `checksums` where there are any. Until the output
  /// has taken a write (an older file's cut may hold it up) every slot is
  /// filled in turn, from then on only the first `steadySlots`.
  BufferedCopy(OutputStream& out, OutputFile& pOutFile, std::span<unsigned char> frameBuf,
               std::size_t slots, std::size_t steadySlots, std::size_t maxBatch,
               ProgressLines& lines, Console& console, FrameChecksums* checksums);

  BufferedCopy(const BufferedCopy&) = delete;
  BufferedCopy& operator=(const BufferedCopy&) = delete;
  /// Waits until every frame handed to the checksums is hashed: none is
  /// read from the frame buffer once the copy is over.
  ~BufferedCopy();

  /// Finds where the next frame of `source` is read to (see
  /// FrameSource::readNext): right behind the batch in the slot being
  /// filled, laid out so that its picture follows the last one with the
  /// output's marker between them; or, when it cannot join the batch, at the
  /// start of the next slot once the batch is on its way. False after
  /// reporting a failed write.
  [[nodiscard]] bool placeNextFrame(const FrameSource& source, std::span<unsigned char>& area);

  /// Adds the frame just read where placeNextFrame said, whose picture is
  /// `picture`, to the batch and hands it to the checksums; its line waits
  /// for the output.
  void add(std::span<unsigned char> picture);

  /// Brings the output to a standstill: every frame added is whole in it,
  /// nothing is carried and every line is printed. False after reporting a
  /// failed write.
  [[nodiscard]] bool settle();

  /// After a write failed with `error` (`write`, when it was one of the
  /// writer's): the output keeps its whole frames and their lines are
  /// printed, then the failure. Returns WriteOrMemoryError.
  ExitStatus failedWrite(const OutputStream::Write* write, int error);

 private:
  /// Starts writing the batch and moves on to the next slot, once that
  /// slot's write is done; false after reporting a failure.
  bool handOverBatch();

  /// Waits until the frames the slot being filled held before are hashed.
  void waitForHashes() const;

  /// Waits for the oldest write in flight, if any, and prints the lines of
  /// the frames the output now holds whole; false after reporting a
  /// failure.
  bool finishWrite();

  OutputStream& out_;
  OutputFile& pOutFile_;
  std::vector<std::span<unsigned char>> slots_;
  std::size_t maxBatch_;
  ProgressLines& lines_;
  Console& console_;
  FrameChecksums* checksums_;
  std::int64_t framesAdded_ = 0;
  std::vector<std::int64_t> slotFramesEnd_;  // framesAdded_ after each slot's last frame
  std::size_t slot_ = 0;                     // the slot being filled
  OutputStream::Write batch_;                // the frames read into it, as one write
  std::size_t batchFrames_ = 0;              // how many
  std::size_t batchEnd_ = 0;                 // where the last picture ends in its read area
  std::size_t slotsInUse_;                   // all while the output takes no writes yet
  std::size_t steadySlots_;                  // from then on
  BackgroundWriter writer_;                  // last: its thread ends before the rest goes
};

}  // namespace tsa
