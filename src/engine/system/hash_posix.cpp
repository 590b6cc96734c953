#include <openssl/evp.h>
#include <zlib.h>

#include <memory>

#include "engine/system/hash.h"
#include "engine/system/running_sum.h"
#include "engine/system/shared_library.h"

namespace tsa {
namespace {

// OpenSSL's libcrypto, loaded when the first checksum is taken: a run
// without checksums maps none of it.
struct Crypto {
  SharedLibrary shared{"libcrypto.so.3"};
  decltype(&::EVP_MD_CTX_new) contextNew = nullptr;
  decltype(&::EVP_MD_CTX_free) contextFree = nullptr;
  decltype(&::EVP_DigestInit_ex) init = nullptr;
  decltype(&::EVP_DigestUpdate) update = nullptr;
  decltype(&::EVP_DigestFinal_ex) final = nullptr;
  std::array<decltype(&::EVP_md5), 8> algorithms{};  // in HashKind's order

  Crypto() {
    const char* const names[] = {"EVP_md5",    "EVP_sha1",   "EVP_sha224",     "EVP_sha256",
                                 "EVP_sha384", "EVP_sha512", "EVP_sha512_224", "EVP_sha512_256"};
    bool found =
        shared.find("EVP_MD_CTX_new", contextNew) && shared.find("EVP_MD_CTX_free", contextFree) &&
        shared.find("EVP_DigestInit_ex", init) && shared.find("EVP_DigestUpdate", update) &&
        shared.find("EVP_DigestFinal_ex", final);
    for (std::size_t i = 0; found && i < algorithms.size(); ++i) {
      found = shared.find(names[i], algorithms[i]);
    }
  }

  static const Crypto& get() {
    static const Crypto crypto;
    return crypto;
  }

  [[nodiscard]] bool digest(HashKind kind, std::span<const unsigned char> bytes,
                            Digest& digest) const {
    if (!shared.loaded()) {
      return false;
    }
    const auto free = [this](EVP_MD_CTX* context) { contextFree(context); };
    const std::unique_ptr<EVP_MD_CTX, decltype(free)> context(contextNew(), free);
    unsigned int length = 0;
    const bool done =
        context &&
        init(context.get(), algorithms[static_cast<std::size_t>(kind)](), nullptr) == 1 &&
        update(context.get(), bytes.data(), bytes.size()) == 1 &&
        final(context.get(), digest.bytes.data(), &length) == 1;
    digest.size = length;
    return done;
  }
};

// zlib, loaded when the first CRC32 or Adler-32 is taken.
struct Zlib {
  SharedLibrary shared{"libz.so.1"};
  decltype(&::crc32) crc = nullptr;
  decltype(&::adler32) adler = nullptr;

  Zlib() { (void)(shared.find("crc32", crc) && shared.find("adler32", adler)); }

  static const Zlib& get() {
    static const Zlib zlib;
    return zlib;
  }
};

}  // namespace

bool computedHere(HashKind /*kind*/) { return true; }

bool digestOf(HashKind kind, std::span<const unsigned char> bytes, Digest& digest) {
  if (kind != HashKind::Crc32 && kind != HashKind::Adler32) {
    return Crypto::get().digest(kind, bytes, digest);
  }
  const Zlib& zlib = Zlib::get();
  if (!zlib.shared.loaded()) {
    return false;
  }
  if (kind == HashKind::Crc32) {
    runningSumOf(zlib.crc, 0, bytes, digest);
  } else {
    runningSumOf(zlib.adler, 1, bytes, digest);
  }
  return true;
}

bool continueCrc32(std::uint32_t& crc, std::span<const unsigned char> bytes) {
  const Zlib& zlib = Zlib::get();
  if (!zlib.shared.loaded()) {
    return false;
  }
  crc = static_cast<std::uint32_t>(runningSum(zlib.crc, crc, bytes));
  return true;
}

}  // namespace tsa
