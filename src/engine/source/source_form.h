// What the pre-scan finds a source to be, whatever kind it is: how its
// frames lie, and what its kind learned of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/format/y4m.h"
#include "engine/system/http.h"

namespace tsa {

/// A source as the pre-scan finds it, for the copy pass.
struct SourceForm {
  std::string name;  // as the list writes it
  FrameLayout layout;
  std::optional<y4m::StreamHeader> y4mHeader;  // a Y4M source's header
  bool regularFile = false;
  std::int64_t bytes = 0;      // a regular file's length, or a URL's where known
  std::optional<UrlInfo> url;  // a source on a web server, as the pre-scan found it
  std::string failure;         // why a URL cannot be had
};

/// What the pre-scan makes of a source.
enum class Probe {
  Usable,        // its frames can be copied
  NotFound,      // it cannot be opened
  BrokenHeader,  // it starts as Y4M, but its header cannot be read
};

}  // namespace tsa
