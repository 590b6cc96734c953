// The digests of ffmpeg's framehash and framemd5, each from a maintained
// library: OpenSSL's libcrypto (CNG on Windows) for MD5 and the SHA
// family, zlib for CRC32 and Adler-32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tsa {

/// The hashes of ffmpeg's that a library computes.
enum class HashKind {
  Md5,
  Sha160,
  Sha224,
  Sha256,
  Sha384,
  Sha512,
  Sha512_224,
  Sha512_256,
  Crc32,
  Adler32
};

/// A digest: its first `size` bytes.
struct Digest {
  std::array<unsigned char, 64> bytes{};
  std::size_t size = 0;
};

/// The hash ffmpeg's -hash option calls `name`, in any case (and sha1 for
/// SHA160), where this platform's libraries compute it; else nothing, with
/// `why` saying what is wrong with the name.
[[nodiscard]] std::optional<HashKind> hashNamed(std::string_view name, std::string& why);

/// What ffmpeg's framehash calls the hash on its #hash line: "SHA256",
/// "adler32".
[[nodiscard]] std::string_view hashHeaderName(HashKind kind);

/// True where this platform's libraries compute `kind`.
[[nodiscard]] bool computedHere(HashKind kind);

/// Computes the digest of `bytes` into `digest`; false where the library
/// could not (it cannot be loaded, or failed to set up). Safe to call from
/// several threads at once.
[[nodiscard]] bool digestOf(HashKind kind, std::span<const unsigned char> bytes, Digest& digest);

/// The CRC32 `crc` (0 before the first byte) continued over `bytes`, as
/// gzip keeps it; false where zlib cannot be loaded.
[[nodiscard]] bool continueCrc32(std::uint32_t& crc, std::span<const unsigned char> bytes);

/// The digest in lower-case hex, as md5sum and ffmpeg write it.
[[nodiscard]] std::string hexOf(const Digest& digest);

}  // namespace tsa
