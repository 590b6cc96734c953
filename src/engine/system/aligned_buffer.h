// Memory aligned for transfers past the page cache: the largest block such
// a transfer is aligned to, and a buffer that starts on it.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "engine/system/console.h"

namespace tsa {

/// The largest file-system block that transfers past the page cache are
/// aligned to; a file with larger blocks keeps the page cache.
inline constexpr std::size_t maxDirectBlock = std::size_t{64} * 1024;

/// `frameBuf` starts on the largest block, so every slot and read area does.
inline constexpr std::align_val_t frameBufAlignment{maxDirectBlock};

struct FrameBufferFree {
  void operator()(unsigned char* memory) const { ::operator delete[](memory, frameBufAlignment); }
};
using FrameBuffer = std::unique_ptr<unsigned char[], FrameBufferFree>;

/// Allocates a frame buffer of `bytes` bytes; on failure prints why and
/// returns null.
[[nodiscard]] FrameBuffer allocateFrameBuffer(std::size_t bytes, Console& console);

}  // namespace tsa
