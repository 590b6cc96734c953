#include "engine/copy/block_sharing.h"

#include <algorithm>
#include <numeric>

namespace tsa {

SharedFrames framesToShare(std::int64_t sourceStart, std::int64_t outputStart,
                           std::int64_t unitBytes, std::int64_t frames, std::int64_t block) {
  if (block <= 0 || unitBytes <= 0 || frames <= 0 || (sourceStart - outputStart) % block != 0) {
    return {};
  }
  // Frame boundaries fall on a block once every `period` frames.
  const std::int64_t period = block / std::gcd(unitBytes, block);
  for (std::int64_t first = 0; first < std::min(period, frames); ++first) {
    if ((outputStart + first * unitBytes) % block == 0) {
      return {first, (frames - first) / period * period};
    }
  }
  return {};
}

SharedFrames BlockSharing::framesOf(const FrameSource& source, const EditInstruction& inst) const {
  const auto block = static_cast<std::int64_t>(pOutFile_.shareBlock());
  if (!enabled_ || block == 0 || !source.canShareBlocks() ||
      source.markerBytes() != out_.markerBytes() ||
      std::ranges::find(refusedSources_, inst.sourceFileName) != refusedSources_.end()) {
    return {};
  }
  const auto unit = static_cast<std::int64_t>(out_.markerBytes() + source.pictureBytes());
  return framesToShare(source.offsetOf(inst.seekFr), out_.end(), unit, inst.numFr, block);
}

BlockSharing::Outcome BlockSharing::share(const FrameSource& source, const EditInstruction& inst,
                                          const SharedFrames& shared, int& error) {
  const std::int64_t first = inst.seekFr + shared.first;
  const auto unit = static_cast<std::int64_t>(out_.markerBytes() + source.pictureBytes());
  error = out_.shareFrames(source.handle(), source.offsetOf(first), shared.count, unit);
  if (error != 0) {
    if (!isShareRefusal(error)) {
      return Outcome::Failed;
    }
    refusedSources_.push_back(inst.sourceFileName);
    return Outcome::Copy;
  }
  // Markers come with the pictures: they must be the output's own. They are
  // read once the file system has shared, so that one which cannot share
  // costs no reads; a broken one is taken back and reported by the copy.
  if (!source.markersAre(first, shared.count, y4m::frameMarker.substr(0, out_.markerBytes()))) {
    error = out_.unshareFrames();
    return error != 0 ? Outcome::Failed : Outcome::Copy;
  }
  return Outcome::Shared;
}

}  // namespace tsa
