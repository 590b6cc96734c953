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

/// The bytes of a part of a range fetched over several connections: whole
/// frames of `frameBytes`, about 8 MiB of them, or a frame where frames are
/// larger; never more than 16 MiB (a larger frame in equal pieces).
[[nodiscard]] std::size_t partBytesFor(std::int64_t frameBytes);

}  // namespace tsa
