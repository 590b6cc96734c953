#include "engine/system/hash.h"

#include <algorithm>

namespace tsa {
namespace {

struct HashName {
  std::string_view name;         // as -hash takes it, in lower case
  std::string_view header;       // as the #hash line gives it
  std::optional<HashKind> kind;  // none: no library the tool uses has it
};

// ffmpeg's hashes (libavutil's hash.c), and sha1 for SHA160.
constexpr std::array hashNames = {
    HashName{"md5", "MD5", HashKind::Md5},
    HashName{"sha160", "SHA160", HashKind::Sha160},
    HashName{"sha1", "SHA160", HashKind::Sha160},
    HashName{"sha224", "SHA224", HashKind::Sha224},
    HashName{"sha256", "SHA256", HashKind::Sha256},
    HashName{"sha384", "SHA384", HashKind::Sha384},
    HashName{"sha512", "SHA512", HashKind::Sha512},
    HashName{"sha512/224", "SHA512/224", HashKind::Sha512_224},
    HashName{"sha512/256", "SHA512/256", HashKind::Sha512_256},
    HashName{"crc32", "CRC32", HashKind::Crc32},
    HashName{"adler32", "adler32", HashKind::Adler32},
    HashName{"murmur3", "murmur3", std::nullopt},
    HashName{"ripemd128", "RIPEMD128", std::nullopt},
    HashName{"ripemd160", "RIPEMD160", std::nullopt},
    HashName{"ripemd256", "RIPEMD256", std::nullopt},
    HashName{"ripemd320", "RIPEMD320", std::nullopt},
};

}  // namespace

std::optional<HashKind> hashNamed(std::string_view name, std::string& why) {
  std::string lower(name);
  std::ranges::transform(lower, lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  });
  const auto* found = std::ranges::find(hashNames, lower, &HashName::name);
  if (found == hashNames.end()) {
    why =
        "expected a hash ffmpeg names: md5, sha1, sha224, sha256, sha384, sha512, sha512/224, "
        "sha512/256, crc32 or adler32";
    return std::nullopt;
  }
  if (!found->kind || !computedHere(*found->kind)) {
    why = "no library the tool uses computes it here";
    return std::nullopt;
  }
  return found->kind;
}

std::string_view hashHeaderName(HashKind kind) {
  return std::ranges::find(hashNames, std::optional(kind), &HashName::kind)->header;
}

std::string hexOf(const Digest& digest) {
  constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size);
  for (std::size_t i = 0; i < digest.size; ++i) {
    hex += digits[digest.bytes[i] >> 4];
    hex += digits[digest.bytes[i] & 0xF];
  }
  return hex;
}

}  // namespace tsa
