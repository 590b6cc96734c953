#include <openssl/evp.h>

#include <memory>

#include "engine/system/md5.h"
#include "engine/system/shared_library.h"

namespace tsa {
namespace {

// OpenSSL's libcrypto, loaded when the first checksum is taken: a run
// without checksums maps none of it.
struct Crypto {
  SharedLibrary shared{"libcrypto.so.3"};
  decltype(&::EVP_MD_CTX_new) contextNew = nullptr;
  decltype(&::EVP_MD_CTX_free) contextFree = nullptr;
  decltype(&::EVP_md5) md5 = nullptr;
  decltype(&::EVP_DigestInit_ex) init = nullptr;
  decltype(&::EVP_DigestUpdate) update = nullptr;
  decltype(&::EVP_DigestFinal_ex) final = nullptr;

  Crypto() {
    (void)(shared.find("EVP_MD_CTX_new", contextNew) &&
           shared.find("EVP_MD_CTX_free", contextFree) && shared.find("EVP_md5", md5) &&
           shared.find("EVP_DigestInit_ex", init) && shared.find("EVP_DigestUpdate", update) &&
           shared.find("EVP_DigestFinal_ex", final));
  }

  static const Crypto& get() {
    static const Crypto crypto;
    return crypto;
  }
};

}  // namespace

bool md5Of(std::span<const unsigned char> bytes, Md5Digest& digest) {
  const Crypto& crypto = Crypto::get();
  if (!crypto.shared.loaded()) {
    return false;
  }
  const auto contextFree = [&crypto](EVP_MD_CTX* context) { crypto.contextFree(context); };
  const std::unique_ptr<EVP_MD_CTX, decltype(contextFree)> context(crypto.contextNew(),
                                                                   contextFree);
  unsigned int length = 0;
  return context && crypto.init(context.get(), crypto.md5(), nullptr) == 1 &&
         crypto.update(context.get(), bytes.data(), bytes.size()) == 1 &&
         crypto.final(context.get(), digest.data(), &length) == 1 && length == digest.size();
}

}  // namespace tsa
