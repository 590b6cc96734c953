#include "engine/copy/progress_lines.h"

#include "engine/copy/frame_checksums.h"
#include "engine/system/http.h"

namespace tsa {

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
  console.note("(%3.0f%%) %-30s  %4.0f%%\r", static_cast<double>(splicePercent), sourceFileName,
               static_cast<double>(totalPercent));
}

void printClosingLine(Console& console, const char* sourceFileName) {
  console.note("(100%%) %-40s\n", sourceFileName);
}

void ProgressLines::startSplice(const EditInstruction& inst) {
  // The list's next line may replace inst's; a URL shows no secrets.
  sourceFileName_ = shownName(inst.sourceFileName);
  numFr_ = inst.numFr;
  nextFrame_ = 0;
  if (numFr_ == 0) {
    printClosingLine(console_, sourceFileName_.c_str());
  }
}

void ProgressLines::printUpTo(std::int64_t wholeFrames) {
  for (; onTheirWay_ > 0 && framesWritten_ < wholeFrames; --onTheirWay_, ++nextFrame_) {
    printProgressLine(console_, nextFrame_, numFr_, sourceFileName_.c_str(), ++framesWritten_,
                      totalFrames_);
    if (nextFrame_ + 1 == numFr_) {
      printClosingLine(console_, sourceFileName_.c_str());
    }
  }
  if (checksums_ != nullptr) {
    checksums_->keep(framesWritten_);
  }
}

void ProgressLines::printInterrupted() {
  console_.print("Interrupted: the output keeps %lld whole frame%s\n",
                 static_cast<long long>(framesWritten_), framesWritten_ == 1 ? "" : "s");
}

}  // namespace tsa
