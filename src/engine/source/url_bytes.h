// A source on a web server: asked once what it is, then read in byte
// ranges, one version per run (or in order, where the server serves no
// ranges).
#pragma once

#include <memory>
#include <string>

#include "engine/source/byte_source.h"

namespace tsa {

/// Asks the URL `name` what it is (its failure goes to form.failure), with
/// its first bytes into `start`; `access`, where given, says how its
/// requests are made.
[[nodiscard]] Probe probeUrlSource(const std::string& name, SourceForm& form, std::string& start,
                                   std::shared_ptr<const UrlAccess> access = nullptr);

/// The bytes of the URL of `form`, pinned to the version the pre-scan saw;
/// a large range in parts of whole frames over options.connections
/// connections.
[[nodiscard]] std::unique_ptr<ByteSource> urlBytes(const SourceForm& form,
                                                   const ReadOptions& options = {});

/// What a connection fetching parts of a range may hold in memory.
inline constexpr std::size_t partMemoryBytes = 16 << 20;

/// The bytes of a part of a range of `rangeBytes` fetched over
/// `connections` connections: whole frames of `frameBytes`, at most about
/// 8 MiB of them, as many as let the parts fill the connections evenly
/// (the fewest rounds of parts); a frame where frames are larger, one
/// larger than 16 MiB in equal pieces.
[[nodiscard]] std::size_t partBytesFor(std::int64_t frameBytes, std::int64_t rangeBytes,
                                       int connections);

}  // namespace tsa
