// The shared way frames travel: where the file system can, the output takes
// whole frames on whole blocks by sharing the source's blocks instead of
// copying them. It owns which frames of a splice may share, the share, the
// check of the frame markers that come with the pictures, and taking back
// a share whose markers are not the output's. Sources whose file system has
// refused are not asked again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/copy/output_stream.h"
#include "engine/frame.h"
#include "engine/source/frame_source.h"

namespace tsa {

/// Which frames of a splice may share blocks with their source instead of
/// being copied: `count` frames from `first` on, counted in the splice.
struct SharedFrames {
  std::int64_t first = 0;
  std::int64_t count = 0;
};

/// Decides, for a splice of `frames` frames of `unitBytes` each (marker and
/// picture) that starts at `sourceStart` in its source and `outputStart` in
/// the output, which frames can share blocks: only whole frames, whose
/// bytes start and end on `block` in both files. That needs the two starts
/// to lie at one offset within a block; the frames before the first shared
/// one and after the last are copied.
[[nodiscard]] SharedFrames framesToShare(std::int64_t sourceStart, std::int64_t outputStart,
                                         std::int64_t unitBytes, std::int64_t frames,
                                         std::int64_t block);

class BlockSharing {
 public:
  /// Shares into `out`, the stream of `pOutFile`, unless `enabled` is false.
  BlockSharing(OutputStream& out, const OutputFile& pOutFile, bool enabled)
      : out_(out), pOutFile_(pOutFile), enabled_(enabled) {}

  /// The frames of the splice `inst`, read from `source`, that may share its
  /// blocks: none where sharing is off, the source is no file or has
  /// refused before, the output cannot share, or the frames lie differently
  /// in the two files. Frames not yet written count as on their way to the
  /// output's end.
  [[nodiscard]] SharedFrames framesOf(const FrameSource& source, const EditInstruction& inst) const;

  enum class Outcome {
    Shared,  // the output holds the frames
    Copy,    // the file system refused, or a marker is not the output's:
             // the output is as it was, and the frames are to be copied
    Failed,  // the output could not be changed or put back; see `error`
  };

  /// Has the output, standing still with every frame whole (see
  /// BufferedCopy::settle), take the frames `shared` of the splice `inst`
  /// from `source` by sharing its blocks.
  [[nodiscard]] Outcome share(const FrameSource& source, const EditInstruction& inst,
                              const SharedFrames& shared, int& error);

 private:
  OutputStream& out_;
  const OutputFile& pOutFile_;
  bool enabled_;
  std::vector<std::string> refusedSources_;  // sources whose blocks cannot be shared
};

}  // namespace tsa
