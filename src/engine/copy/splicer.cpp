#include "engine/copy/splicer.h"

#include <algorithm>
#include <string>

#include "engine/copy/block_sharing.h"
#include "engine/copy/buffered_copy.h"
#include "engine/copy/frame_buffer.h"
#include "engine/copy/output_stream.h"
#include "engine/format/y4m.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

// Prints that a source ends before a frame the list asks for.
void printSeekPastEnd(Console& console) { console.print("Error: seek past end of file\n"); }

// Prints why reading frame `frame` of the source `name` came back as
// `read`, a frame that is not whole.
void printReadFailure(Console& console, FrameSource::Read read, const FrameSource& pSourceFile,
                      const char* name, std::int64_t frame, const FrameFormat& format) {
  switch (read) {
    case FrameSource::Read::BadMarker:
      console.print("Error: input file \"%s\" has a broken frame marker before frame %lld\n", name,
                    static_cast<long long>(frame));
      return;
    case FrameSource::Read::BadHeader:
      console.print("Error: input file \"%s\" has a broken Y4M header\n", name);
      return;
    case FrameSource::Read::OtherFormat:
      console.print("Error: input file \"%s\" is %s, not %s\n", name,
                    pSourceFile.streamFormat().c_str(), format.describe().c_str());
      return;
    case FrameSource::Read::Failed:
      console.print("Error: cannot read input file \"%s\" (%s)\n", name,
                    pSourceFile.failure().c_str());
      return;
    case FrameSource::Read::Changed:
      console.print("Error: input file \"%s\" changed on the server since the run began\n", name);
      return;
    case FrameSource::Read::Damaged:
      console.print("Error: input file \"%s\" is damaged before frame %lld (%s)\n", name,
                    static_cast<long long>(frame), pSourceFile.failure().c_str());
      return;
    case FrameSource::Read::WholeFrame:
    case FrameSource::Read::RanOut:
    case FrameSource::Read::Stopped:
      break;
  }
  printSeekPastEnd(console);
}

// The copy pass as the plain loop it stands for: for every splice, open the
// source, move its frames, print their lines, and only then go on to the
// next. How frames move lies below it, inside a splice: through the buffer
// with read-ahead and batches (BufferedCopy), or by sharing blocks
// (BlockSharing). The walk owns the output stream and reports every failure
// that a source meets.
class SpliceWalk {
 public:
  SpliceWalk(OutputFile& pOutFile, std::span<unsigned char> frameBuf, const CopyPlan& plan,
             Console& console, FrameChecksums* checksums, const FrameReference* reference);

  // Starts the output (a Y4M output's header).
  void begin();

  // Copies the splice `inst`, of line `listLine` of the list, which
  // `next` follows (null: none): once this returns Success, the output
  // holds all of its frames and their lines are printed.
  ExitStatus copySplice(const EditInstruction& inst, std::int64_t listLine,
                        const EditInstruction* next);

  // Ends the pass once every splice is copied: the output then holds every
  // frame whole and every line is printed.
  ExitStatus finish() {
    return buffered_.settle() ? ExitStatus::Success : ExitStatus::WriteOrMemoryError;
  }

  // Ends the pass with `status` once the output holds whole what it can and
  // the lines of those frames are printed; `report` then prints why.
  template <typename Report>
  ExitStatus endWith(ExitStatus status, Report report) {
    if (!buffered_.settle()) {
      return ExitStatus::WriteOrMemoryError;
    }
    report();
    return status;
  }

 private:
  // Moves the frames of the splice: those that may share the source's
  // blocks by sharing, the rest through the buffer.
  ExitStatus moveFrames(FrameSource& pSourceFile, const EditInstruction& inst);

  // Copies the frames of the splice from `from` up to `to`, counted in the
  // splice, from where the source stands.
  ExitStatus copyFrames(FrameSource& pSourceFile, const EditInstruction& inst, std::int64_t from,
                        std::int64_t to);

  // Shares the frames `shared` of the splice where the file system can, and
  // prints their lines; `rest` becomes the first frame still to copy.
  ExitStatus shareFrames(const FrameSource& pSourceFile, const EditInstruction& inst,
                         const SharedFrames& shared, std::int64_t& rest);

  // Ends the pass after a read of frame `frameIndex` of the splice came back
  // as `read`, not a whole frame, saying why.
  ExitStatus readFailed(FrameSource::Read read, const FrameSource& pSourceFile,
                        const EditInstruction& inst, std::int64_t frameIndex);

  // Ends the pass on a stop signal, between two frames: the output keeps
  // whole the frames read so far, and says how many.
  ExitStatus stopped();

  // A source as the pre-scan found it; it found every name the list gives.
  [[nodiscard]] const SourceForm& formOf(const std::string& name) const;

  // Says that the output's next frame, frame `frameIndex` of the splice
  // `inst`, differs from the reference's.
  void printDifference(const EditInstruction& inst, std::int64_t frameIndex) const;

  FrameFormat format_;
  bool uncached_;
  ConnectionUse connections_;
  const std::vector<SourceForm>& sources_;
  Console& console_;
  FrameChecksums* checksums_;
  const FrameReference* reference_;
  std::int64_t framesAdded_ = 0;  // to the output, in the whole pass
  std::int64_t listLine_ = 0;     // of the splice being copied
  SourceShelf shelf_;             // a decoder part way through a member, for the next splice
  OutputStream out_;
  ProgressLines lines_;
  BlockSharing sharing_;
  BufferedCopy buffered_;  // last: its writer ends before the rest goes
};

// Past the page cache's useful size the output goes straight to the device,
// and so do the sources it is read from, one frame to a write.
bool goesPastPageCache(const CopyPlan& plan) {
  return plan.totalFrames * plan.format.frameBytes() >= plan.uncachedFrom;
}

std::size_t framesPerWrite(const CopyPlan& plan) {
  const auto pictureBytes = static_cast<std::size_t>(plan.format.frameBytes());
  return goesPastPageCache(plan)
             ? 1
             : std::max<std::size_t>(1, slotReadBytes(plan.format) / pictureBytes);
}

SpliceWalk::SpliceWalk(OutputFile& pOutFile, std::span<unsigned char> frameBuf,
                       const CopyPlan& plan, Console& console, FrameChecksums* checksums,
                       const FrameReference* reference)
    : format_(plan.format),
      uncached_(goesPastPageCache(plan)),
      connections_(plan.connections),
      sources_(plan.sources),
      console_(console),
      checksums_(checksums),
      reference_(reference),
      // The frames of a batch in every slot (being read, or waiting for its
      // write) and one whose end is carried are staged and not yet whole at
      // most.
      out_(pOutFile, outputHeaderOf(plan), plan.y4mOutput ? std::string(y4m::frameMarker) : "",
           frameBuf.size() / slotBytes(plan.format) * framesPerWrite(plan) + 2),
      lines_(console, plan.totalFrames, checksums),
      sharing_(out_, pOutFile, plan.shareBlocks),
      buffered_(out_, pOutFile, frameBuf, frameBuf.size() / slotBytes(plan.format),
                slotCount(plan.format, checksums != nullptr, false), framesPerWrite(plan), lines_,
                console, checksums) {
  if (uncached_) {
    out_.goPastPageCache(plan.format.frameBytes());
  }
}

void SpliceWalk::begin() { out_.begin(); }

ExitStatus SpliceWalk::copySplice(const EditInstruction& inst, std::int64_t listLine,
                                  const EditInstruction* next) {
  listLine_ = listLine;
  if (stopRequested()) {
    return stopped();
  }
  const std::string shown = shownName(inst.sourceFileName);
  const char* name = shown.c_str();
  FrameSource pSourceFile;
  if (!pSourceFile.open(formOf(inst.sourceFileName), format_, uncached_, &shelf_, connections_)) {
    if (stopRequested()) {
      return stopped();  // while waiting for a writer
    }
    return endWith(ExitStatus::SourceDisappeared,
                   [&] { console_.print("Input file \"%s\" disappeared?\n", name); });
  }
  if (!pSourceFile.startAt(inst.seekFr, inst.numFr)) {
    return endWith(ExitStatus::SourceTooShort, [&] { printSeekPastEnd(console_); });
  }
  if (next != nullptr && next->sourceFileName == inst.sourceFileName) {
    // The same source again: it is not opened anew, and its bytes on a
    // server may come while this splice's do.
    pSourceFile.expectNext(next->seekFr, next->numFr);
  }
  lines_.startSplice(inst);
  if (const ExitStatus moved = moveFrames(pSourceFile, inst); moved != ExitStatus::Success) {
    return moved;
  }
  // The next source is opened only once this splice is in the output.
  return buffered_.settle() ? ExitStatus::Success : ExitStatus::WriteOrMemoryError;
}

ExitStatus SpliceWalk::moveFrames(FrameSource& pSourceFile, const EditInstruction& inst) {
  const SharedFrames shared = sharing_.framesOf(pSourceFile, inst);
  if (shared.count == 0) {
    return copyFrames(pSourceFile, inst, 0, inst.numFr);
  }
  std::int64_t rest = shared.first;
  ExitStatus status = copyFrames(pSourceFile, inst, 0, shared.first);
  if (status == ExitStatus::Success) {
    status = shareFrames(pSourceFile, inst, shared, rest);
  }
  if (status == ExitStatus::Success && rest < inst.numFr) {
    if (rest != 0 && !pSourceFile.startAt(inst.seekFr + rest)) {
      return endWith(ExitStatus::SourceTooShort, [&] { printSeekPastEnd(console_); });
    }
    status = copyFrames(pSourceFile, inst, rest, inst.numFr);
  }
  return status;
}

ExitStatus SpliceWalk::copyFrames(FrameSource& pSourceFile, const EditInstruction& inst,
                                  std::int64_t from, std::int64_t to) {
  for (std::int64_t frameIndex = from; frameIndex < to; ++frameIndex) {
    if (stopRequested()) {
      return stopped();
    }
    if (checksums_ != nullptr && checksums_->failed()) {
      return endWith(ExitStatus::WriteOrMemoryError, [] {});  // finish() says why
    }
    std::span<unsigned char> area;
    if (!buffered_.placeNextFrame(pSourceFile, area)) {
      return ExitStatus::WriteOrMemoryError;
    }
    std::span<unsigned char> picture;
    const FrameSource::Read read = pSourceFile.readNext(area, picture);
    if (read != FrameSource::Read::WholeFrame) {
      return readFailed(read, pSourceFile, inst, frameIndex);
    }
    if (reference_ != nullptr && !reference_->matches(framesAdded_, picture)) {
      return endWith(ExitStatus::DiffersFromReference, [&] { printDifference(inst, frameIndex); });
    }
    buffered_.add(picture);
    ++framesAdded_;
  }
  return ExitStatus::Success;
}

ExitStatus SpliceWalk::shareFrames(const FrameSource& pSourceFile, const EditInstruction& inst,
                                   const SharedFrames& shared, std::int64_t& rest) {
  if (stopRequested()) {
    return stopped();
  }
  if (!buffered_.settle()) {
    return ExitStatus::WriteOrMemoryError;
  }
  int error = 0;
  switch (sharing_.share(pSourceFile, inst, shared, error)) {
    case BlockSharing::Outcome::Shared:
      for (std::int64_t frame = 0; checksums_ != nullptr && frame < shared.count; ++frame) {
        checksums_->hashFromFile(inst.sourceFileName,
                                 pSourceFile.offsetOf(inst.seekFr + shared.first + frame) +
                                     static_cast<std::int64_t>(pSourceFile.markerBytes()));
      }
      framesAdded_ += shared.count;
      lines_.expect(shared.count);
      lines_.printUpTo(out_.wholeFrames());
      rest = shared.first + shared.count;
      return ExitStatus::Success;
    case BlockSharing::Outcome::Copy:
      return ExitStatus::Success;
    case BlockSharing::Outcome::Failed:
      break;
  }
  return buffered_.failedWrite(nullptr, error);
}

ExitStatus SpliceWalk::readFailed(FrameSource::Read read, const FrameSource& pSourceFile,
                                  const EditInstruction& inst, std::int64_t frameIndex) {
  if (read == FrameSource::Read::Stopped) {
    return stopped();
  }
  // A source that changed on the server is, for this run, one that went.
  return endWith(read == FrameSource::Read::Changed ? ExitStatus::SourceDisappeared
                                                    : ExitStatus::SourceTooShort,
                 [&] {
                   printReadFailure(console_, read, pSourceFile,
                                    shownName(inst.sourceFileName).c_str(),
                                    inst.seekFr + frameIndex, format_);
                 });
}

ExitStatus SpliceWalk::stopped() {
  (void)buffered_.settle();  // a failure to write what is carried was reported
  lines_.printInterrupted();
  return ExitStatus::Interrupted;
}

const SourceForm& SpliceWalk::formOf(const std::string& name) const {
  return *std::ranges::find(sources_, name, &SourceForm::name);
}

void SpliceWalk::printDifference(const EditInstruction& inst, std::int64_t frameIndex) const {
  const std::int64_t sourceFrame = inst.seekFr + frameIndex;
  console_.print(
      "Error: frame %lld of the output (line %lld, \"%s\" frame %lld) differs from "
      "\"%s\"\n",
      static_cast<long long>(framesAdded_), static_cast<long long>(listLine_),
      shownName(inst.sourceFileName).c_str(), static_cast<long long>(sourceFrame),
      reference_->path.c_str());
}

}  // namespace

ExitStatus runAssembly(EditListReader& pEditListFile, OutputFile& pOutFile,
                       std::span<unsigned char> frameBuf, const CopyPlan& plan, Console& console,
                       FrameChecksums* checksums, const FrameReference* reference) {
  SpliceWalk walk(pOutFile, frameBuf, plan, console, checksums, reference);
  walk.begin();
  EditInstruction inst;
  EditInstruction following;
  for (;;) {
    // The list was walked whole by the pre-scan, so its end is all the walk
    // can meet here; a failure would have been reported there first.
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      return walk.finish();
    }
    if (next != EditListReader::Next::Instruction) {
      return walk.endWith(EditListReader::failureStatus(next), [] {});
    }
    const bool more = pEditListFile.peek(following);
    if (const ExitStatus status =
            walk.copySplice(inst, pEditListFile.lineNumber(), more ? &following : nullptr);
        status != ExitStatus::Success) {
      return status;
    }
  }
}

}  // namespace tsa
