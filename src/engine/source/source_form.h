// What the pre-scan finds a source to be, whatever kind it is: how its
// frames lie, and what its kind learned of it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/format/y4m.h"
#include "engine/system/http.h"

namespace tsa {

struct SourceForm;

/// A member of an archive or a compressed file, as the pre-scan finds it.
struct ArchivedForm {
  std::shared_ptr<const SourceForm> container;  // the archive, as a source of bytes
  std::string member;                           // its path inside
  bool single = false;                          // a compressed file of one member
  std::optional<std::int64_t> storedAt;         // where its bytes lie as they are in the archive
};

/// A source as the pre-scan finds it, for the copy pass.
struct SourceForm {
  std::string name;  // as the list writes it
  FrameLayout layout;
  std::optional<y4m::StreamHeader> y4mHeader;  // a Y4M source's header
  bool regularFile = false;
  std::int64_t bytes = 0;               // a regular file's length, or a URL's where known
  std::optional<UrlInfo> url;           // a source on a web server, as the pre-scan found it
  std::string failure;                  // why it cannot be had (a URL's reason), or is refused
  std::optional<ArchivedForm> archive;  // a member of an archive
  bool archiveBytes = false;            // an archive, read for its bytes, not its members
  std::string namedAs;                  // the name that states its format, where not `name`

  /// The name whose words state the source's format.
  [[nodiscard]] const std::string& statingName() const { return namedAs.empty() ? name : namedAs; }
};

/// What the pre-scan makes of a source.
enum class Probe {
  Usable,        // its frames can be copied
  NotFound,      // it cannot be opened
  BrokenHeader,  // it starts as Y4M, but its header cannot be read
  Refused,       // it cannot be used: `failure` says why, as "Input file X <failure>"
};

}  // namespace tsa
