// The one buffer every frame of a run passes through, and how it is laid
// out: slots taken in turn, one being written while the next frame is read
// into another.
#pragma once

#include <algorithm>
#include <cstddef>

#include "engine/format/frame_format.h"
#include "engine/format/y4m.h"
#include "engine/system/aligned_buffer.h"

namespace tsa {

/// Where a frame is read to in its slot. The room before it takes the bytes
/// carried over from the frame before and the output's frame marker, so
/// that one write can start on a block boundary in memory.
inline constexpr std::size_t slotLead = 3 * maxDirectBlock;

/// Frames smaller than this are read several to a slot and written with
/// one call, so that small frames do not each pay for a hand-over to the
/// writing thread.
inline constexpr std::size_t batchBytes = std::size_t{2} << 20;

/// The bytes a slot's read area takes: a frame of `format` with its
/// marker, and the parts of the blocks around them that a read past the
/// page cache must take too; or a batch of smaller frames.
[[nodiscard]] inline std::size_t slotReadBytes(const FrameFormat& format) {
  const std::size_t frame =
      static_cast<std::size_t>(format.frameBytes()) + y4m::maxLineBytes + 3 * maxDirectBlock - 1;
  return (frame > batchBytes ? frame : batchBytes) / maxDirectBlock * maxDirectBlock;
}

/// One slot: its lead, then its read area.
[[nodiscard]] inline std::size_t slotBytes(const FrameFormat& format) {
  return slotLead + slotReadBytes(format);
}

/// The frames a run that hashes may read ahead while the output it
/// replaces is being cut: the hash goes on while the file system frees the
/// old blocks, which can take a second or more for a few GB.
inline constexpr std::size_t cutReadAheadBytes = std::size_t{64} << 20;

/// How many slots a run of frames of `format` takes: two, one being
/// written while the next is filled; four where frames are hashed where
/// they lie, so that two may wait for their hash while the others move on;
/// and where the output is being cut (`cutting`) as well, as many as
/// cutReadAheadBytes holds, every one but the one being filled waiting for
/// the cut to end.
[[nodiscard]] inline std::size_t slotCount(const FrameFormat& format, bool hashing, bool cutting) {
  if (!hashing) {
    return 2;
  }
  return std::max<std::size_t>(4, cutting ? cutReadAheadBytes / slotBytes(format) : 0);
}

/// The size of `frameBuf` for frames of `format`, in `slots` slots.
[[nodiscard]] inline std::size_t frameBufBytes(const FrameFormat& format, std::size_t slots = 2) {
  return slots * slotBytes(format);
}

}  // namespace tsa
