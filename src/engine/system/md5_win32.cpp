#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "engine/system/md5.h"

namespace tsa {
namespace {

// The MD5 provider, opened once for the process; threads may share it.
BCRYPT_ALG_HANDLE md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, 0))
               ? opened
               : nullptr;
  }();
  return provider;
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

bool md5Of(std::span<const unsigned char> bytes, Md5Digest& digest) {
  const HashHandle hash(md5Provider());
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
  return BCRYPT_SUCCESS(
      ::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

}  // namespace tsa
