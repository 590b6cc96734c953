#include "engine/system/curl_library.h"
#include "engine/system/shared_library.h"

namespace tsa::curl {
namespace {

// The library under the names Debian installs it: OpenSSL's build
// (libcurl4), then GnuTLS's (libcurl3-gnutls); the interface is the same.
// Kept for the process: the client's handles live as long.
struct Loaded {
  SharedLibrary shared{"libcurl.so.4", "libcurl-gnutls.so.4"};
  Library functions;

  Loaded() {
    Library& f = functions;
    (void)(shared.find("curl_global_init", f.global_init) &&
           shared.find("curl_global_cleanup", f.global_cleanup) &&
           shared.find("curl_easy_init", f.easy_init) &&
           shared.find("curl_easy_cleanup", f.easy_cleanup) &&
           shared.find("curl_easy_reset", f.easy_reset) &&
           shared.find("curl_easy_setopt", f.easy_setopt) &&
           shared.find("curl_easy_getinfo", f.easy_getinfo) &&
           shared.find("curl_easy_pause", f.easy_pause) &&
           shared.find("curl_easy_strerror", f.easy_strerror) &&
           shared.find("curl_multi_init", f.multi_init) &&
           shared.find("curl_multi_cleanup", f.multi_cleanup) &&
           shared.find("curl_multi_add_handle", f.multi_add_handle) &&
           shared.find("curl_multi_remove_handle", f.multi_remove_handle) &&
           shared.find("curl_multi_perform", f.multi_perform) &&
           shared.find("curl_multi_poll", f.multi_poll) &&
           shared.find("curl_multi_info_read", f.multi_info_read) &&
           shared.find("curl_slist_append", f.slist_append) &&
           shared.find("curl_slist_free_all", f.slist_free_all));
  }
};

}  // namespace

const Library* library(std::string& why) {
  static const Loaded loaded;
  why = loaded.shared.loaded() ? "" : "libcurl cannot be loaded: " + loaded.shared.why();
  return loaded.shared.loaded() ? &loaded.functions : nullptr;
}

}  // namespace tsa::curl
