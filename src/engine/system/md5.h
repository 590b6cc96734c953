// The MD5 of a block of bytes, from the system's own hash library: OpenSSL's
// libcrypto on POSIX systems, CNG on Windows.
#pragma once

#include <array>
#include <span>
#include <string>

namespace tsa {

using Md5Digest = std::array<unsigned char, 16>;

/// Computes the MD5 of `bytes` into `digest`; false where the library could
/// not (it failed to set up). Safe to call from several threads at once.
[[nodiscard]] bool md5Of(std::span<const unsigned char> bytes, Md5Digest& digest);

/// The digest in lower-case hex, as md5sum and ffmpeg write it.
[[nodiscard]] std::string hexOf(const Md5Digest& digest);

}  // namespace tsa
