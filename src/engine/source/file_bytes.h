// A file on a disk, or a device with a position: read where its bytes lie,
// past the page cache on block boundaries where the run asks.
#pragma once

#include <memory>

#include "engine/source/byte_source.h"

namespace tsa {

/// The bytes of `file`, an open file with a position.
[[nodiscard]] std::unique_ptr<ByteSource> fileBytes(OpenResult file, const ReadOptions& options);

}  // namespace tsa
