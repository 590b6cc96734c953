// A reference a run is checked against (--verify): a framemd5 or framehash
// file, from ffmpeg or an earlier run, and the comparison of each frame the
// output receives with its line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/system/hash.h"

namespace tsa {

/// What a framemd5 or framehash file says of the frames it was made of.
struct FrameReference {
  std::string path;               // as the command line gives it
  HashKind kind = HashKind::Md5;  // its #hash line's, MD5 where it has none
  std::int64_t width = 0;         // its #dimensions line's, 0 where it has none
  std::int64_t height = 0;
  std::vector<std::int64_t> sizes;  // each frame's bytes, in order
  std::vector<std::string> hashes;  // each frame's hash, in lower-case hex

  /// True when the output's frame `frame` (counted from 0), `picture`, has
  /// the hash of the reference's line for it, or the reference has no line
  /// for it (its length is checked once the output is whole).
  [[nodiscard]] bool matches(std::int64_t frame, std::span<const unsigned char> picture) const;
};

/// Reads the framemd5 or framehash file `path` into `reference`; false with
/// `problem` set to one line (an Error: line) where it cannot be read, is
/// no such file, or names a hash no library here computes.
[[nodiscard]] bool readFrameReference(const std::string& path, FrameReference& reference,
                                      std::string& problem);

}  // namespace tsa
