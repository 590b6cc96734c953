#include "engine/source/byte_source.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "engine/source/local_bytes.h"
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

std::unique_ptr<ByteSource> openUrl(const SourceForm& form, const ReadOptions& /*options*/) {
  return urlBytes(form);
}

// The kinds, asked in this order; a path is what no other kind takes.
constexpr std::array kinds = {
    SourceKind{isUrl, probeUrlSource, openUrl},
    SourceKind{anyPath, probeLocal, openLocal},
};

const SourceKind& kindOf(std::string_view name) {
  return *std::ranges::find_if(kinds, [name](const SourceKind& kind) { return kind.names(name); });
}

}  // namespace

Probe probeBytes(const std::string& name, SourceForm& form, std::string& start) {
  return kindOf(name).probe(name, form, start);
}

std::unique_ptr<ByteSource> openBytes(const SourceForm& form, const ReadOptions& options) {
  return kindOf(form.name).open(form, options);
}

}  // namespace tsa
