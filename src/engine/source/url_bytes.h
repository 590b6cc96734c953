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

/// How a range of `rangeBytes` is cut to be fetched over `connections`
/// connections: into parts of whole frames of `frameBytes` (pieces of a
/// frame larger than 16 MiB), at most 16 MiB each, as even as the frames
/// allow, a part for each connection in each of the fewest rounds.
[[nodiscard]] UrlParts::Cut partsFor(std::int64_t frameBytes, std::int64_t rangeBytes,
                                     int connections);

}  // namespace tsa
