// A pipe: its bytes come once, in order, as its writer writes them.
#pragma once

#include <memory>

#include "engine/source/byte_source.h"

namespace tsa {

/// The bytes of `pipe`, an open pipe or another stream without a position.
[[nodiscard]] std::unique_ptr<ByteSource> pipeBytes(OpenResult pipe);

}  // namespace tsa
