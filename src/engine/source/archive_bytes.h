// Sources inside archives and compressed files, local or on a server: a
// member named after a # (two.zip#clips/a.yuv), or the one clip an archive
// holds. A member stored as it is is read in place; a compressed one is
// decoded from its start, and only as far as the list asks.
#pragma once

#include <memory>
#include <string>

#include "engine/source/byte_source.h"

namespace tsa {

/// True when `name` reads a member of an archive (see archiveNamed).
[[nodiscard]] bool isArchiveSource(std::string_view name);

/// Finds the member `name` reads, looking at the archive as its own kind
/// does: its length, whether it is stored as it is, and its first bytes
/// into `start`. An archive that holds several clips, none, or cannot be
/// read is Refused, with the reason in form.failure.
[[nodiscard]] Probe probeArchive(const std::string& name, SourceForm& form, std::string& start);

/// The bytes of the member of `form`.
[[nodiscard]] std::unique_ptr<ByteSource> openArchive(const SourceForm& form,
                                                      const ReadOptions& options);

}  // namespace tsa
