#include "engine/splicer.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "engine/background_writer.h"
#include "engine/frame_buffer.h"
#include "engine/frame_source.h"
#include "engine/output_stream.h"
#include "engine/stop.h"
#include "engine/y4m.h"

namespace tsa {
namespace {

// One copy pass. Frames are read into two slots in turn; what one slot
// holds is written in the background while frames are read into the other,
// and a frame's progress line is printed once the output holds all of it,
// so the console and the output tell the same story as a plain
// read-write-print loop. Small frames read from a file go several to a
// slot, laid out as the output takes them, and are written with one call.
// Past the page cache the end of a frame may wait in the carry for the next
// write, and its line with it.
class FrameCopier {
 public:
  FrameCopier(OutputFile& pOutFile, std::span<unsigned char> frameBuf, const CopyPlan& plan,
              Console& console)
      : pOutFile_(pOutFile),
        format_(plan.format),
        pictureBytes_(static_cast<std::size_t>(plan.format.frameBytes())),
        // Past the page cache's useful size the output goes straight to the
        // device, and so do the sources it is read from.
        uncached_(plan.totalFrames * plan.format.frameBytes() >= plan.uncachedFrom),
        maxBatch_(uncached_ ? 1
                            : std::max<std::size_t>(1, slotReadBytes(plan.format) / pictureBytes_)),
        out_(pOutFile, plan.y4mOutput ? y4m::outputHeader(plan.format, firstY4mHeader(plan)) : "",
             plan.y4mOutput ? std::string(y4m::frameMarker) : "", 2 * maxBatch_ + 2),
        slots_{frameBuf.first(frameBuf.size() / 2), frameBuf.subspan(frameBuf.size() / 2)},
        sources_(plan.sources),
        totalFrames_(plan.totalFrames),
        console_(console),
        shareBlocks_(plan.shareBlocks),
        // The frames of a batch being read, of one being written, and one
        // whose end is carried wait for their lines at most.
        waiting_(2 * maxBatch_ + 2),
        writer_(pOutFile) {
    if (uncached_) {
      out_.goPastPageCache(plan.format.frameBytes());
    }
  }

  // Starts the output; false after reporting a failed write.
  ExitStatus begin() {
    if (const int error = out_.begin(); error != 0) {
      return failedWrite(nullptr, error);
    }
    return ExitStatus::Success;
  }

  ExitStatus copySplice(const EditInstruction& inst) {
    if (stopRequested()) {
      return stopped();
    }
    const char* name = inst.sourceFileName.c_str();
    FrameSource pSourceFile;
    if (!pSourceFile.open(inst.sourceFileName, layoutOf(inst.sourceFileName), format_, uncached_)) {
      if (stopRequested()) {
        return stopped();  // while waiting for a writer
      }
      return endWith(ExitStatus::SourceDisappeared,
                     [&] { console_.print("Input file \"%s\" disappeared?\n", name); });
    }
    if (!pSourceFile.startAt(inst.seekFr)) {
      return endWith(ExitStatus::SourceTooShort, [&] { reportSeekPastEnd(); });
    }
    if (inst.numFr == 0) {
      // Nothing of this splice waits for a write, but the line that closes it
      // comes after those of the frames before.
      if (!settle()) {
        return ExitStatus::WriteOrMemoryError;
      }
      printClosingLine(console_, name);
      return ExitStatus::Success;
    }
    // Where the file system can, the middle of the splice shares the
    // source's blocks; the rest is copied.
    const SharedFrames shared = sharedFramesOf(pSourceFile, inst);
    if (shared.count == 0) {
      return copyFrames(pSourceFile, inst, 0, inst.numFr);
    }
    ExitStatus status = copyFrames(pSourceFile, inst, 0, shared.first);
    auto rest = static_cast<std::int32_t>(shared.first);
    if (status == ExitStatus::Success) {
      status = shareFrames(pSourceFile, inst, shared, rest);
    }
    if (status == ExitStatus::Success && rest < inst.numFr) {
      if (rest != 0 && !pSourceFile.startAt(inst.seekFr + std::int64_t{rest})) {
        return endWith(ExitStatus::SourceTooShort, [&] { reportSeekPastEnd(); });
      }
      status = copyFrames(pSourceFile, inst, rest, inst.numFr);
    }
    return status;
  }

  // Ends the pass once every splice is copied: the output then holds every
  // frame whole and every line is printed.
  ExitStatus finish() { return settle() ? ExitStatus::Success : ExitStatus::WriteOrMemoryError; }

  // Ends the pass on a stop signal, between two frames: the output keeps
  // whole the frames read so far, and says how many.
  ExitStatus stopped() {
    (void)settle();  // a failure to write what is carried was reported
    console_.print("Interrupted: the output keeps %lld whole frame%s\n",
                   static_cast<long long>(framesWritten_), framesWritten_ == 1 ? "" : "s");
    return ExitStatus::Interrupted;
  }

  // Ends the pass with `status` once the output holds whole what it can and
  // the lines of those frames are printed; then `report` prints why.
  template <typename Report>
  ExitStatus endWith(ExitStatus status, Report report) {
    if (!settle()) {
      return ExitStatus::WriteOrMemoryError;
    }
    report();
    return status;
  }

 private:
  // Copies the frames of the splice from `from` up to `to`, counted in the
  // splice, from where the source stands.
  ExitStatus copyFrames(FrameSource& pSourceFile, const EditInstruction& inst, std::int64_t from,
                        std::int64_t to) {
    const char* name = inst.sourceFileName.c_str();
    for (auto frameIndex = static_cast<std::int32_t>(from); frameIndex < to; ++frameIndex) {
      if (stopRequested()) {
        return stopped();
      }
      std::span<unsigned char> area;
      if (!placeNextFrame(pSourceFile, area)) {
        return ExitStatus::WriteOrMemoryError;
      }
      std::span<unsigned char> picture;
      switch (pSourceFile.readNext(area, picture)) {
        case FrameSource::Read::WholeFrame:
          break;
        case FrameSource::Read::RanOut:
          return endWith(ExitStatus::SourceTooShort, [&] { reportSeekPastEnd(); });
        case FrameSource::Read::BadMarker:
          return endWith(ExitStatus::SourceTooShort, [&] {
            console_.print("Error: input file \"%s\" has a broken frame marker before frame %lld\n",
                           name, static_cast<long long>(inst.seekFr) + frameIndex);
          });
        case FrameSource::Read::Stopped:
          return stopped();
        case FrameSource::Read::BadHeader:
          return endWith(ExitStatus::SourceTooShort, [&] {
            console_.print("Error: input file \"%s\" has a broken Y4M header\n", name);
          });
        case FrameSource::Read::OtherFormat:
          return endWith(ExitStatus::SourceTooShort, [&] {
            console_.print("Error: input file \"%s\" is %s, not %s\n", name,
                           pSourceFile.streamFormat().c_str(), format_.describe().c_str());
          });
        case FrameSource::Read::Failed:
          return endWith(ExitStatus::SourceTooShort, [&] {
            console_.print("Error: cannot read input file \"%s\" (%s)\n", name,
                           describeError(pSourceFile.error()).c_str());
          });
      }
      addToBatch(out_.stage(slots_[slot_], picture), picture);
      waiting_[(firstWaiting_ + waitingCount_++) % waiting_.size()].set(
          frameIndex, inst.numFr, inst.sourceFileName, frameIndex + 1 == inst.numFr);
    }
    return ExitStatus::Success;
  }

  // The frames of the splice that may share the source's blocks: none where
  // sharing is off, the source is no file or has refused before, the
  // output cannot share, or the frames lie differently in the two files.
  [[nodiscard]] SharedFrames sharedFramesOf(const FrameSource& pSourceFile,
                                            const EditInstruction& inst) const {
    const auto block = static_cast<std::int64_t>(pOutFile_.shareBlock());
    if (!shareBlocks_ || block == 0 || !pSourceFile.canShareBlocks() ||
        pSourceFile.markerBytes() != out_.markerBytes() ||
        std::ranges::find(refusedSources_, inst.sourceFileName) != refusedSources_.end()) {
      return {};
    }
    const auto unit = static_cast<std::int64_t>(out_.markerBytes() + pictureBytes_);
    // The frames not yet written are on their way to the output's end.
    return framesToShare(pSourceFile.offsetOf(inst.seekFr), out_.end(), unit, inst.numFr, block);
  }

  // Has the output share the blocks of the frames `shared` of the splice,
  // and prints their lines; `rest` becomes the first frame still to copy.
  // Where the file system refuses, this source is copied from then on.
  ExitStatus shareFrames(FrameSource& pSourceFile, const EditInstruction& inst,
                         const SharedFrames& shared, std::int32_t& rest) {
    const auto first = inst.seekFr + shared.first;
    if (stopRequested()) {
      return stopped();
    }
    if (!settle()) {
      return ExitStatus::WriteOrMemoryError;
    }
    const auto unit = static_cast<std::int64_t>(out_.markerBytes() + pictureBytes_);
    const int error =
        out_.shareFrames(pSourceFile.handle(), pSourceFile.offsetOf(first), shared.count, unit);
    if (error != 0) {
      if (!isShareRefusal(error)) {
        return failedWrite(nullptr, error);
      }
      refusedSources_.push_back(inst.sourceFileName);
      return ExitStatus::Success;
    }
    // Markers come with the pictures: they must be the output's own. They
    // are read once the file system has shared, so that one which cannot
    // share costs no reads; a broken one is taken back and reported by the
    // copy.
    if (!pSourceFile.markersAre(first, shared.count,
                                y4m::frameMarker.substr(0, out_.markerBytes()))) {
      if (const int undone = out_.unshareFrames(); undone != 0) {
        return failedWrite(nullptr, undone);
      }
      return ExitStatus::Success;
    }
    for (std::int64_t frameIndex = shared.first; frameIndex < shared.first + shared.count;
         ++frameIndex) {
      printProgressLine(console_, frameIndex, inst.numFr, inst.sourceFileName.c_str(),
                        ++framesWritten_, totalFrames_);
      if (frameIndex + 1 == inst.numFr) {
        printClosingLine(console_, inst.sourceFileName.c_str());
      }
    }
    rest = static_cast<std::int32_t>(shared.first + shared.count);
    return ExitStatus::Success;
  }

  // A frame written, or on its way, whose line is not printed yet.
  struct WaitingFrame {
    void set(std::int32_t index, std::int32_t count, const std::string& source, bool last) {
      frameIndex = index;
      numFr = count;
      sourceFileName = source;  // a copy: the list's next line may come first
      endsSplice = last;
    }
    std::int32_t frameIndex = 0;
    std::int32_t numFr = 0;
    std::string sourceFileName;
    bool endsSplice = false;
  };

  // Finds where the next frame of `source` is read to: right behind the
  // batch in the slot being filled, laid out so that its picture follows
  // the last one with the output's marker between them; or, when it cannot
  // join the batch, at the start of the other slot once the batch is on its
  // way. False after reporting a failed write.
  bool placeNextFrame(const FrameSource& source, std::span<unsigned char>& area) {
    const std::size_t marker = source.markerBytes();
    const std::size_t next = batchEnd_ + out_.markerBytes() - marker;
    const bool joins = batchFrames_ > 0 && batchFrames_ < maxBatch_ &&
                       source.readsWithoutWaiting() && out_.markerBytes() >= marker &&
                       next + marker + pictureBytes_ <= slots_[slot_].size() - slotLead;
    if (batchFrames_ > 0 && !joins) {
      if (!handOverBatch()) {
        return false;
      }
    }
    area = slots_[slot_].subspan(slotLead + (batchFrames_ > 0 ? next : 0));
    return true;
  }

  // Adds the frame staged as `write`, whose picture is `picture`, to the
  // batch; it lies right behind the batch, in the file and in memory.
  void addToBatch(const OutputStream::Write& write, std::span<unsigned char> picture) {
    if (batchFrames_++ == 0) {
      batch_ = write;
    } else {
      batch_.bytes = std::span(batch_.bytes.data(), batch_.bytes.size() + write.bytes.size());
    }
    batchEnd_ = static_cast<std::size_t>(picture.data() + picture.size() -
                                         slots_[slot_].subspan(slotLead).data());
  }

  // Waits for the write in flight, then starts writing the batch and moves
  // on to the other slot; false after reporting a failure.
  bool handOverBatch() {
    if (!finishWrite()) {
      return false;
    }
    writer_.start(batch_.bytes);
    inFlight_ = batch_;
    batchFrames_ = 0;
    slot_ ^= 1U;
    return true;
  }

  // Waits for the write in flight, if any, and prints the lines of the
  // frames the output now holds whole; false after reporting a failure.
  bool finishWrite() {
    if (!inFlight_) {
      return true;
    }
    const OutputStream::Write write = *inFlight_;
    inFlight_.reset();
    const Transfer result = writer_.finish();
    out_.wrote(write, result);
    if (result.error != 0) {
      return failedWrite(&write, result.error) == ExitStatus::Success;
    }
    printWholeFrames();
    return true;
  }

  // Brings the output to a standstill with every frame read so far whole in
  // it, and their lines printed; false after reporting a failure.
  bool settle() {
    if ((batchFrames_ > 0 && !handOverBatch()) || !finishWrite()) {
      return false;
    }
    if (const int error = out_.flushCarried(); error != 0) {
      return failedWrite(nullptr, error) == ExitStatus::Success;
    }
    printWholeFrames();
    return true;
  }

  // After a write failed: the output keeps its whole frames, their lines
  // are printed, then the failure.
  ExitStatus failedWrite(const OutputStream::Write* write, int error) {
    out_.keepWholeUnits(write);
    printWholeFrames();
    pOutFile_.reportWriteError(error, console_);
    return ExitStatus::WriteOrMemoryError;
  }

  // The header a Y4M output copies its fields from: the first Y4M source's,
  // in list order, or none.
  static y4m::StreamHeader firstY4mHeader(const CopyPlan& plan) {
    for (const SourceForm& source : plan.sources) {
      if (source.y4mHeader) {
        return *source.y4mHeader;
      }
    }
    return {};
  }

  // How the frames of a source lie, as the pre-scan found; it found every
  // name the list gives.
  [[nodiscard]] FrameLayout layoutOf(const std::string& name) const {
    for (const SourceForm& source : sources_) {
      if (source.name == name) {
        return source.layout;
      }
    }
    return {};
  }

  void reportSeekPastEnd() { console_.print("Error: seek past end of file\n"); }

  void printWholeFrames() {
    while (waitingCount_ > 0 && framesWritten_ < out_.wholeFrames()) {
      const WaitingFrame& frame = waiting_[firstWaiting_];
      firstWaiting_ = (firstWaiting_ + 1) % waiting_.size();
      --waitingCount_;
      ++framesWritten_;
      printProgressLine(console_, frame.frameIndex, frame.numFr, frame.sourceFileName.c_str(),
                        framesWritten_, totalFrames_);
      if (frame.endsSplice) {
        printClosingLine(console_, frame.sourceFileName.c_str());
      }
    }
  }

  OutputFile& pOutFile_;
  FrameFormat format_;
  std::size_t pictureBytes_;
  bool uncached_;
  std::size_t maxBatch_;  // frames one write may take
  OutputStream out_;
  std::array<std::span<unsigned char>, 2> slots_;
  unsigned slot_ = 0;            // the slot being filled
  OutputStream::Write batch_;    // the frames read into it, as one write
  std::size_t batchFrames_ = 0;  // how many
  std::size_t batchEnd_ = 0;     // where the last picture ends in its read area
  const std::vector<SourceForm>& sources_;
  std::int64_t totalFrames_;
  std::int64_t framesWritten_ = 0;
  Console& console_;
  bool shareBlocks_;
  std::vector<std::string> refusedSources_;  // sources whose blocks cannot be shared
  std::optional<OutputStream::Write> inFlight_;
  std::vector<WaitingFrame> waiting_;  // a ring, oldest first
  std::size_t firstWaiting_ = 0;
  std::size_t waitingCount_ = 0;
  BackgroundWriter writer_;  // last: its thread ends before the rest goes
};

}  // namespace

void printProgressLine(Console& console, std::int64_t frameIndex, std::int64_t numFr,
                       const char* sourceFileName, std::int64_t framesWritten,
                       std::int64_t totalFrames) {
  // Integer products, divided in single precision: for lists whose totals
  // fit in 32 bits these are the classic figures, and nothing overflows.
  const float splicePercent = static_cast<float>(frameIndex * 100) / static_cast<float>(numFr);
  // Only a list edited between the two passes can copy frames it never
  // counted; 100 then stands in for a division by zero.
  const float totalPercent =
      totalFrames > 0 ? static_cast<float>(framesWritten * 100) / static_cast<float>(totalFrames)
                      : 100.0F;
  console.print("(%3.0f%%) %-30s  %4.0f%%\r", static_cast<double>(splicePercent), sourceFileName,
                static_cast<double>(totalPercent));
}

void printClosingLine(Console& console, const char* sourceFileName) {
  console.print("(100%%) %-40s\n", sourceFileName);
}

ExitStatus runAssembly(EditListReader& pEditListFile, OutputFile& pOutFile,
                       std::span<unsigned char> frameBuf, const CopyPlan& plan, Console& console) {
  FrameCopier copier(pOutFile, frameBuf, plan, console);
  if (const ExitStatus status = copier.begin(); status != ExitStatus::Success) {
    return status;
  }
  EditInstruction inst;
  for (;;) {
    // The list was walked whole by the pre-scan, so its end is all the walk
    // can meet here; a failure would have been reported there first.
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      return copier.finish();
    }
    if (next != EditListReader::Next::Instruction) {
      return copier.endWith(EditListReader::failureStatus(next), [] {});
    }
    if (const ExitStatus status = copier.copySplice(inst); status != ExitStatus::Success) {
      return status;
    }
  }
}

}  // namespace tsa
