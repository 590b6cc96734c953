#include "engine/splicer.h"

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

struct RunProgress {
  std::int64_t framesWritten = 0;
  std::int64_t totalFrames = 0;
};

ExitStatus copySplice(const EditInstruction& inst, OutputFile& pOutFile,
                      std::span<unsigned char> frameBuf, RunProgress& progress, Console& console) {
  const char* name = inst.sourceFileName.c_str();
  const OpenResult pSourceFile = openForReading(inst.sourceFileName);
  if (!pSourceFile.file.isOpen()) {
    console.print("Input file \"%s\" disappeared?\n", name);
    return ExitStatus::SourceDisappeared;
  }
  if (!seekToFrame(pSourceFile.file, inst.seekFr)) {
    return reportSeekPastEnd(console);
  }
  for (std::int32_t frameIndex = 0; frameIndex < inst.numFr; ++frameIndex) {
    int readError = 0;
    switch (readFrame(pSourceFile.file, frameBuf, readError)) {
      case ReadOutcome::WholeFrame:
        break;
      case ReadOutcome::RanOut:
        return reportSeekPastEnd(console);
      case ReadOutcome::Failed:
        console.print("Error: cannot read input file \"%s\" (%s)\n", name,
                      describeError(readError).c_str());
        return ExitStatus::SourceTooShort;
    }
    if (!pOutFile.write(frameBuf, console)) {
      return ExitStatus::WriteOrMemoryError;
    }
    ++progress.framesWritten;
    printProgressLine(console, frameIndex, inst.numFr, name, progress.framesWritten,
                      progress.totalFrames);
  }
  printClosingLine(console, name);
  return ExitStatus::Success;
}

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
                       Console& console) {
  RunProgress progress{0, totalFrames};
  EditInstruction inst;
  for (;;) {
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      return ExitStatus::Success;
    }
    if (next != EditListReader::Next::Instruction) {
      return EditListReader::failureStatus(next);
    }
    if (const ExitStatus status = copySplice(inst, pOutFile, frameBuf, progress, console);
        status != ExitStatus::Success) {
      return status;
    }
  }
}

}  // namespace tsa
