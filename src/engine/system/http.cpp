#include "engine/system/http.h"

#include <algorithm>

namespace tsa {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool startsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() &&
         std::equal(word.begin(), word.end(), text.begin(),
                    [](char wanted, char c) { return wanted == lower(c); });
}

}  // namespace

bool isUrl(std::string_view name) {
  return startsWithWord(name, "http://") || startsWithWord(name, "https://");
}

std::string shownName(std::string_view name) {
  if (!isUrl(name)) {
    return std::string(name);
  }
  const std::size_t hostStart = name.find("//") + 2;
  const std::size_t pathStart = std::min(name.find_first_of("/?#", hostStart), name.size());
  std::string_view authority = name.substr(hostStart, pathStart - hostStart);
  // The user part (user:password@) is a secret.
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string shown = std::string(name.substr(0, hostStart)) + std::string(authority);
  std::string_view rest = name.substr(pathStart);
  // So is the query: the signature of a pre-signed URL lives there.
  if (const std::size_t query = rest.find('?'); query != std::string_view::npos) {
    return shown + std::string(rest.substr(0, query)) + "?\xE2\x80\xA6";
  }
  return shown + std::string(rest);
}

}  // namespace tsa
