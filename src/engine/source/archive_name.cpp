#include "engine/source/archive_name.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "engine/system/file.h"
#include "engine/system/http.h"

namespace tsa {
namespace {

constexpr std::array archiveEndings = {".7z",  ".zip",     ".tar",  ".tar.gz",  ".tgz",  ".tar.xz",
                                       ".txz", ".tar.zst", ".tzst", ".tar.bz2", ".tbz2", ".tbz"};
constexpr std::array singleEndings = {".xz", ".gz", ".zst", ".bz2"};
constexpr std::array videoEndings = {".yuv",  ".y4m",  ".raw",  ".rgb",  ".bgr", ".nv12",
                                     ".nv21", ".i420", ".yv12", ".p010", ".gray"};

bool endsWithFolded(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         std::ranges::equal(text.substr(text.size() - ending.size()), ending, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

template <std::size_t N>
bool endsWithAny(std::string_view text, const std::array<const char*, N>& endings) {
  return std::ranges::any_of(endings,
                             [text](const char* ending) { return endsWithFolded(text, ending); });
}

// The part of a URL that names its file: without its fragment and query.
std::string_view withoutQuery(std::string_view name) {
  return isUrl(name) ? name.substr(0, name.find_first_of("?#")) : name;
}

bool singleCompressed(std::string_view name) {
  const std::string_view path = withoutQuery(name);
  return endsWithAny(path, singleEndings) && !endsWithAny(path, archiveEndings);
}

}  // namespace

bool namesArchive(std::string_view name) {
  const std::string_view path = withoutQuery(name);
  return endsWithAny(path, archiveEndings) || endsWithAny(path, singleEndings);
}

std::optional<ArchiveName> archiveNamed(const std::string& name) {
  if (isUrl(name)) {
    // The fragment, which is never sent, names the member.
    const std::size_t hash = name.find('#');
    const std::string container = name.substr(0, hash);
    if (!namesArchive(container)) {
      return std::nullopt;
    }
    const std::string member = hash == std::string::npos ? "" : name.substr(hash + 1);
    return ArchiveName{container, member, singleCompressed(container)};
  }
  if (namesArchive(name)) {
    return ArchiveName{name, "", singleCompressed(name)};
  }
  if (name.find('#') == std::string::npos || lookAt(name).readable) {
    return std::nullopt;  // a file of its own, # or not
  }
  for (std::size_t hash = name.find('#'); hash != std::string::npos;
       hash = name.find('#', hash + 1)) {
    const std::string container = name.substr(0, hash);
    if (namesArchive(container) && hash + 1 < name.size()) {
      return ArchiveName{container, name.substr(hash + 1), singleCompressed(container)};
    }
  }
  return std::nullopt;
}

std::string memberOfSingle(std::string_view name) {
  std::string_view path = withoutQuery(name);
  path = path.substr(path.find_last_of("/\\") + 1);
  return std::string(path.substr(0, path.rfind('.')));
}

bool keepsGzipTrailer(std::string_view name) { return endsWithFolded(withoutQuery(name), ".gz"); }

bool namedAsVideo(std::string_view path) { return endsWithAny(path, videoEndings); }

std::string fileBehind(const std::string& name) {
  const std::optional<ArchiveName> archive = archiveNamed(name);
  return archive ? archive->container : name;
}

}  // namespace tsa
