// libarchive, loaded when the first archive is met: a run that names none
// maps none of the libraries it brings (its codecs, XML, ACLs). The system
// layer's own, behind archive.h.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>

namespace tsa::archive {

/// The functions of libarchive that the archive reader calls.
struct Library {
  decltype(&::archive_read_new) read_new = nullptr;
  decltype(&::archive_read_free) read_free = nullptr;
  decltype(&::archive_read_support_filter_all) support_filter_all = nullptr;
  decltype(&::archive_read_support_format_7zip) support_format_7zip = nullptr;
  decltype(&::archive_read_support_format_zip) support_format_zip = nullptr;
  decltype(&::archive_read_support_format_tar) support_format_tar = nullptr;
  decltype(&::archive_read_support_format_raw) support_format_raw = nullptr;
  decltype(&::archive_read_set_read_callback) set_read_callback = nullptr;
  decltype(&::archive_read_set_seek_callback) set_seek_callback = nullptr;
  decltype(&::archive_read_set_skip_callback) set_skip_callback = nullptr;
  decltype(&::archive_read_set_callback_data) set_callback_data = nullptr;
  decltype(&::archive_read_open1) open1 = nullptr;
  decltype(&::archive_read_next_header) next_header = nullptr;
  decltype(&::archive_read_data) read_data = nullptr;
  decltype(&::archive_read_data_block) read_data_block = nullptr;
  decltype(&::archive_error_string) error_string = nullptr;
  decltype(&::archive_filter_count) filter_count = nullptr;
  decltype(&::archive_filter_code) filter_code = nullptr;
  decltype(&::archive_entry_pathname) entry_pathname = nullptr;
  decltype(&::archive_entry_size_is_set) entry_size_is_set = nullptr;
  decltype(&::archive_entry_size) entry_size = nullptr;
  decltype(&::archive_entry_filetype) entry_filetype = nullptr;
  decltype(&::archive_entry_is_encrypted) entry_is_encrypted = nullptr;
  decltype(&::archive_entry_sparse_count) entry_sparse_count = nullptr;
};

/// libarchive's functions, loaded by the first call and kept for the
/// process; null where the library cannot be loaded, with `why` set to the
/// loader's words.
[[nodiscard]] const Library* library(std::string& why);

}  // namespace tsa::archive
