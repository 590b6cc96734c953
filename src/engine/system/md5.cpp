#include "engine/system/md5.h"

namespace tsa {

std::string hexOf(const Md5Digest& digest) {
  constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (const unsigned char byte : digest) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0xF];
  }
  return hex;
}

}  // namespace tsa
