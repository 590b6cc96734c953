#include "engine/system/curl_library.h"

namespace tsa::curl {

// On Windows libcurl is linked in, built with Schannel (the system's TLS
// and certificate store) from Debian's sources by scripts/cross-libs.sh.
const Library* library(std::string& why) {
  static const Library linked{
      .global_init = &::curl_global_init,
      .global_cleanup = &::curl_global_cleanup,
      .easy_init = &::curl_easy_init,
      .easy_cleanup = &::curl_easy_cleanup,
      .easy_reset = &::curl_easy_reset,
      .easy_setopt = &::curl_easy_setopt,
      .easy_getinfo = &::curl_easy_getinfo,
      .easy_pause = &::curl_easy_pause,
      .easy_strerror = &::curl_easy_strerror,
      .multi_init = &::curl_multi_init,
      .multi_cleanup = &::curl_multi_cleanup,
      .multi_add_handle = &::curl_multi_add_handle,
      .multi_remove_handle = &::curl_multi_remove_handle,
      .multi_perform = &::curl_multi_perform,
      .multi_poll = &::curl_multi_poll,
      .multi_info_read = &::curl_multi_info_read,
      .slist_append = &::curl_slist_append,
      .slist_free_all = &::curl_slist_free_all,
  };
  why.clear();
  return &linked;
}

}  // namespace tsa::curl
