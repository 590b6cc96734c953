#include "engine/splicer.h"

#include <optional>

#include "engine/background_writer.h"

namespace tsa {
namespace {

enum class ReadOutcome { WholeFrame, RanOut, Failed };

// Fills `frame` from the source's current position. A source that ends
// first (a range past its end, or a last frame cut short) has run out.
ReadOutcome readFrame(const FileHandle& source, std::span<unsigned char> frame, int& error) {
  while (!frame.empty()) {
    const Transfer got = readSome(source, frame);
    if (got.error != 0) {
      error = got.error;
      return ReadOutcome::Failed;
    }
    if (got.bytes == 0) {
      return ReadOutcome::RanOut;
    }
    frame = frame.subspan(got.bytes);
  }
  return ReadOutcome::WholeFrame;
}

ExitStatus reportSeekPastEnd(Console& console) {
  console.print("Error: seek past end of file\n");
  return ExitStatus::SourceTooShort;
}

// Moves a freshly opened source to its first wanted frame. A fresh open
// already stands at frame 0, which is all a pipe can offer.
bool seekToFrame(const FileHandle& source, std::int32_t seekFr) {
  return seekFr == 0 || seekTo(source, std::int64_t{seekFr} * frameSize) == 0;
}

// One copy pass. Frames are read into two buffers in turn; each is written
// in the background while the next one is read, and its progress line is
// printed once its write is done, so the console and the output tell the
// same story as a plain read-write-print loop.
class FrameCopier {
 public:
  FrameCopier(OutputFile& pOutFile, std::span<unsigned char> frameBuf, std::int64_t totalFrames,
              std::int64_t uncachedFrom, Console& console)
      : pOutFile_(pOutFile),
        frames_{frameBuf.first(frameSize), frameBuf.subspan(frameBufStride, frameSize)},
        totalFrames_(totalFrames),
        console_(console),
        // Past the page cache's useful size the output goes straight to the
        // device, and so do the sources it is read from.
        uncached_(totalFrames * frameSize >= uncachedFrom && pOutFile.bypassPageCache(frameSize)),
        writer_(pOutFile) {}

  ExitStatus copySplice(const EditInstruction& inst) {
    const char* name = inst.sourceFileName.c_str();
    const OpenResult pSourceFile = openForReading(inst.sourceFileName);
    if (!pSourceFile.file.isOpen()) {
      console_.print("Input file \"%s\" disappeared?\n", name);
      return ExitStatus::SourceDisappeared;
    }
    if (uncached_) {
      (void)bypassPageCache(pSourceFile.file, frameSize);
    }
    if (!seekToFrame(pSourceFile.file, inst.seekFr)) {
      return reportSeekPastEnd(console_);
    }
    for (std::int32_t frameIndex = 0; frameIndex < inst.numFr; ++frameIndex) {
      const std::span<unsigned char> frame = frames_[frameIndex % 2];
      int readError = 0;
      const ReadOutcome read = readFrame(pSourceFile.file, frame, readError);
      if (!finishWrite()) {
        return ExitStatus::WriteOrMemoryError;
      }
      switch (read) {
        case ReadOutcome::WholeFrame:
          break;
        case ReadOutcome::RanOut:
          return reportSeekPastEnd(console_);
        case ReadOutcome::Failed:
          console_.print("Error: cannot read input file \"%s\" (%s)\n", name,
                         describeError(readError).c_str());
          return ExitStatus::SourceTooShort;
      }
      writer_.start(frame);
      pending_ = PendingFrame{frameIndex, inst.numFr, name};
    }
    if (!finishWrite()) {
      return ExitStatus::WriteOrMemoryError;
    }
    printClosingLine(console_, name);
    return ExitStatus::Success;
  }

 private:
  struct PendingFrame {
    std::int32_t frameIndex;
    std::int32_t numFr;
    const char* sourceFileName;
  };

  // Waits for the frame being written, if any, and prints its progress
  // line; false after reporting a write that failed.
  bool finishWrite() {
    if (!pending_) {
      return true;
    }
    const PendingFrame frame = *pending_;
    pending_.reset();
    if (const int error = writer_.finish(); error != 0) {
      pOutFile_.reportWriteError(error, console_);
      return false;
    }
    ++framesWritten_;
    printProgressLine(console_, frame.frameIndex, frame.numFr, frame.sourceFileName, framesWritten_,
                      totalFrames_);
    return true;
  }

  OutputFile& pOutFile_;
  std::span<unsigned char> frames_[2];
  std::int64_t totalFrames_;
  std::int64_t framesWritten_ = 0;
  Console& console_;
  bool uncached_;
  std::optional<PendingFrame> pending_;
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
                       std::span<unsigned char> frameBuf, std::int64_t totalFrames,
                       Console& console, std::int64_t uncachedFrom) {
  FrameCopier copier(pOutFile, frameBuf, totalFrames, uncachedFrom, console);
  EditInstruction inst;
  for (;;) {
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      return ExitStatus::Success;
    }
    if (next != EditListReader::Next::Instruction) {
      return EditListReader::failureStatus(next);
    }
    if (const ExitStatus status = copier.copySplice(inst); status != ExitStatus::Success) {
      return status;
    }
  }
}

}  // namespace tsa
