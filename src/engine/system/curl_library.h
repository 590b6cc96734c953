// libcurl, loaded when the first URL is met: a run that names none maps
// none of the libraries it brings (TLS, Kerberos, LDAP, ...), and starts
// and stays as small as it was before URL sources. The system layer's own,
// behind http.h.
#pragma once

#include <curl/curl.h>

#include <string>

namespace tsa::curl {

/// The functions of libcurl that the URL client calls.
struct Library {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_global_cleanup) global_cleanup = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_reset) easy_reset = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_pause) easy_pause = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_multi_init) multi_init = nullptr;
  decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
  decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
  decltype(&::curl_multi_perform) multi_perform = nullptr;
  decltype(&::curl_multi_poll) multi_poll = nullptr;
  decltype(&::curl_multi_info_read) multi_info_read = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

/// libcurl's functions, loaded by the first call and kept for the process;
/// null where the library cannot be loaded, with `why` set to the loader's
/// words.
[[nodiscard]] const Library* library(std::string& why);

}  // namespace tsa::curl
