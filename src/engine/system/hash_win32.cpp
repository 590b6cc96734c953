#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#include <zlib.h>

#include <array>

#include "engine/system/hash.h"
#include "engine/system/running_sum.h"

namespace tsa {
namespace {

// CNG's name of each hash of HashKind's order it has: no SHA-224, nor the
// SHA-512/t hashes.
constexpr std::array<LPCWSTR, 8> algorithmNames = {
    BCRYPT_MD5_ALGORITHM,    BCRYPT_SHA1_ALGORITHM,   nullptr, BCRYPT_SHA256_ALGORITHM,
    BCRYPT_SHA384_ALGORITHM, BCRYPT_SHA512_ALGORITHM, nullptr, nullptr};

// The provider of `kind`, opened once for the process; threads may share
// it. Null where CNG has none.
BCRYPT_ALG_HANDLE providerOf(HashKind kind) {
  static const std::array<BCRYPT_ALG_HANDLE, algorithmNames.size()> providers = [] {
    std::array<BCRYPT_ALG_HANDLE, algorithmNames.size()> opened{};
    for (std::size_t i = 0; i < opened.size(); ++i) {
      if (algorithmNames[i] == nullptr || !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                                              &opened[i], algorithmNames[i], nullptr, 0))) {
        opened[i] = nullptr;
      }
    }
    return opened;
  }();
  return providers[static_cast<std::size_t>(kind)];
}

// The size of `kind`'s digests.
std::size_t digestBytes(HashKind kind) {
  constexpr std::array<std::size_t, algorithmNames.size()> sizes = {16, 20, 28, 32, 48, 64, 28, 32};
  return sizes[static_cast<std::size_t>(kind)];
}

class HashHandle {
 public:
  explicit HashHandle(BCRYPT_ALG_HANDLE provider) {
    if (provider == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(provider, &hash_, nullptr, 0, nullptr, 0, 0))) {
      hash_ = nullptr;
    }
  }
  HashHandle(const HashHandle&) = delete;
  HashHandle& operator=(const HashHandle&) = delete;
  ~HashHandle() {
    if (hash_ != nullptr) {
      ::BCryptDestroyHash(hash_);
    }
  }
  [[nodiscard]] BCRYPT_HASH_HANDLE get() const { return hash_; }

 private:
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

bool computedHere(HashKind kind) {
  return kind == HashKind::Crc32 || kind == HashKind::Adler32 ||
         algorithmNames[static_cast<std::size_t>(kind)] != nullptr;
}

bool digestOf(HashKind kind, std::span<const unsigned char> bytes, Digest& digest) {
  if (kind == HashKind::Crc32 || kind == HashKind::Adler32) {
    runningSumOf(kind == HashKind::Crc32 ? &::crc32 : &::adler32, kind == HashKind::Crc32 ? 0 : 1,
                 bytes, digest);
    return true;
  }
  const HashHandle hash(computedHere(kind) ? providerOf(kind) : nullptr);
  if (hash.get() == nullptr) {
    return false;
  }
  // BCryptHashData takes at most 4 GiB a call; a frame is 1 GiB at most.
  constexpr std::size_t maxPiece = std::size_t{1} << 30;
  for (std::size_t done = 0; done < bytes.size(); done += maxPiece) {
    const std::span<const unsigned char> piece =
        bytes.subspan(done).first(bytes.size() - done < maxPiece ? bytes.size() - done : maxPiece);
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(piece.data()),
                                         static_cast<ULONG>(piece.size()), 0))) {
      return false;
    }
  }
  digest.size = digestBytes(kind);
  return BCRYPT_SUCCESS(
      ::BCryptFinishHash(hash.get(), digest.bytes.data(), static_cast<ULONG>(digest.size), 0));
}

bool continueCrc32(std::uint32_t& crc, std::span<const unsigned char> bytes) {
  crc = static_cast<std::uint32_t>(runningSum(&::crc32, crc, bytes));
  return true;
}

}  // namespace tsa
