#include "engine/source/byte_source.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "engine/source/archive_bytes.h"
#include "engine/source/local_bytes.h"
#include "engine/source/object_store.h"
#include "engine/source/url_bytes.h"

namespace tsa {
namespace {

// One kind of source: the names it takes, how the pre-scan looks at one,
// and how a splice opens its bytes.
struct SourceKind {
  bool (*names)(std::string_view name);
  Probe (*probe)(const std::string& name, SourceForm& form, std::string& start);
  std::unique_ptr<ByteSource> (*open)(const SourceForm& form, const ReadOptions& options);
};

bool anyPath(std::string_view /*name*/) { return true; }

std::unique_ptr<ByteSource> openUrl(const SourceForm& form, const ReadOptions& options) {
  return urlBytes(form, options);
}

Probe probeUrl(const std::string& name, SourceForm& form, std::string& start) {
  return probeUrlSource(name, form, start);
}

// The kinds, asked in this order; a path is what no other kind takes. An
// archive may be a URL, an object or a path.
constexpr std::array kinds = {
    SourceKind{isArchiveSource, probeArchive, openArchive},
    SourceKind{isObjectStoreName, probeObject, openUrl},
    SourceKind{isUrl, probeUrl, openUrl},
    SourceKind{anyPath, probeLocal, openLocal},
};

// The kind of the source `name`; an archive read for its bytes is of the
// kind its name has beside being an archive's.
const SourceKind& kindOf(std::string_view name, bool archiveBytes) {
  return *std::ranges::find_if(std::span(kinds).subspan(archiveBytes ? 1 : 0),
                               [name](const SourceKind& kind) { return kind.names(name); });
}

}  // namespace

Probe probeBytes(const std::string& name, SourceForm& form, std::string& start) {
  return kindOf(name, form.archiveBytes).probe(name, form, start);
}

std::unique_ptr<ByteSource> openBytes(const SourceForm& form, const ReadOptions& options) {
  if (options.shelf != nullptr) {
    if (std::unique_ptr<ByteSource> kept = options.shelf->take(form.name)) {
      return kept;
    }
  }
  return kindOf(form.name, form.archiveBytes).open(form, options);
}

}  // namespace tsa
