// Sources named by a path: a file on a disk (or a device with a position,
// read as one), or a pipe, which only the opening tells apart.
#pragma once

#include <memory>
#include <string>

#include "engine/source/byte_source.h"

namespace tsa {

/// Looks at the path `name`: a regular file is opened for its length and
/// its first bytes (into `start`); anything else (a pipe, a device) is only
/// looked at, since opening a pipe meets its writer, and closing it again
/// would hand the writer a broken pipe.
[[nodiscard]] Probe probeLocal(const std::string& name, SourceForm& form, std::string& start);

/// Opens the path of `form`, waiting for a named pipe's writer: the bytes
/// of a file (file_bytes.h), or of a pipe (pipe_bytes.h).
[[nodiscard]] std::unique_ptr<ByteSource> openLocal(const SourceForm& form,
                                                    const ReadOptions& options);

}  // namespace tsa
