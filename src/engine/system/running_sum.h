// zlib's running sums (CRC32, Adler-32) over a block of any length, as
// ffmpeg's framehash writes them: the 32-bit value, most significant byte
// first. The system layer's own, behind hash.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "engine/system/hash.h"

namespace tsa {

/// The running sum `sum` (zlib's crc32 or adler32) continued from `start`
/// over `bytes`.
template <typename Sum>
[[nodiscard]] unsigned long runningSum(Sum sum, unsigned long start,
                                       std::span<const unsigned char> bytes) {
  // zlib takes at most 4 GiB a call.
  constexpr std::size_t maxPiece = std::size_t{1} << 30;
  unsigned long value = start;
  for (std::size_t done = 0; done < bytes.size(); done += maxPiece) {
    const std::size_t piece = std::min(maxPiece, bytes.size() - done);
    value = sum(value, bytes.data() + done, static_cast<unsigned int>(piece));
  }
  return value;
}

/// The running sum `sum` (zlib's crc32 or adler32) of `bytes` from `start`
/// (0 for CRC32, 1 for Adler-32) into `digest`.
template <typename Sum>
void runningSumOf(Sum sum, unsigned long start, std::span<const unsigned char> bytes,
                  Digest& digest) {
  const unsigned long value = runningSum(sum, start, bytes);
  digest.size = 4;
  for (std::size_t i = 0; i < 4; ++i) {
    digest.bytes[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
  }
}

}  // namespace tsa
