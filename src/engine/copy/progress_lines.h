// The lines of a copy pass: a progress line for every frame once the output
// holds it whole, a line that closes every splice, and the count of frames
// an interrupted run reports. The lines of a splice are printed before the
// next splice starts.
#pragma once

#include <cstdint>
#include <string>

#include "engine/frame.h"
#include "engine/system/console.h"

namespace tsa {

class FrameChecksums;

/// Prints the progress line after a frame: the splice percentage (frames of
/// the splice done before this one, over `numFr`), the source name and the
/// whole-run percentage (frames written so far, this one included, over
/// `totalFrames`). The line ends in a carriage return, so the next print
/// overwrites it.
void printProgressLine(Console& console, std::int64_t frameIndex, std::int64_t numFr,
                       const char* sourceFileName, std::int64_t framesWritten,
                       std::int64_t totalFrames);

/// Prints the line that closes a splice, over its last progress line.
void printClosingLine(Console& console, const char* sourceFileName);

/// The lines of the frames on their way to the output, in order: a frame's
/// line waits until the output holds the frame whole.
class ProgressLines {
 public:
  /// Prints on `console`; tells `checksums`, where there are any, how many
  /// frames the output keeps whole.
  ProgressLines(Console& console, std::int64_t totalFrames, FrameChecksums* checksums = nullptr)
      : console_(console), totalFrames_(totalFrames), checksums_(checksums) {}

  /// Starts the lines of the splice `inst`; those of every splice before are
  /// printed. A splice of no frames is closed at once.
  void startSplice(const EditInstruction& inst);

  /// `frames` more frames of the splice are on their way to the output.
  void expect(std::int64_t frames) { onTheirWay_ += frames; }

  /// Prints the lines of the frames on their way that are whole now that
  /// the output holds `wholeFrames` frames of the run.
  void printUpTo(std::int64_t wholeFrames);

  /// The frames whose lines are printed: those the output holds whole.
  [[nodiscard]] std::int64_t printed() const { return framesWritten_; }

  /// Prints the line that ends a stopped run: how many frames the output keeps.
  void printInterrupted();

 private:
  Console& console_;
  std::int64_t totalFrames_;
  FrameChecksums* checksums_;
  std::string sourceFileName_;  // the splice's
  std::int64_t numFr_ = 0;
  std::int64_t nextFrame_ = 0;   // of the splice, whose line comes next
  std::int64_t onTheirWay_ = 0;  // frames whose lines wait
  std::int64_t framesWritten_ = 0;
};

}  // namespace tsa
