#include <openssl/evp.h>

#include <memory>

#include "engine/system/md5.h"

namespace tsa {
namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

bool md5Of(std::span<const unsigned char> bytes, Md5Digest& digest) {
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  unsigned int length = 0;
  return context && EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) == 1 &&
         EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) == 1 &&
         EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 && length == digest.size();
}

}  // namespace tsa
