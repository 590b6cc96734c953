#include "engine/system/archive_library.h"
#include "engine/system/shared_library.h"

namespace tsa::archive {
namespace {

// The library under the name Debian installs it (libarchive13). Kept for
// the process: the readers' handles live as long.
struct Loaded {
  SharedLibrary shared{"libarchive.so.13"};
  Library functions;

  Loaded() {
    Library& f = functions;
    (void)(shared.find("archive_read_new", f.read_new) &&
           shared.find("archive_read_free", f.read_free) &&
           shared.find("archive_read_support_filter_all", f.support_filter_all) &&
           shared.find("archive_read_support_format_7zip", f.support_format_7zip) &&
           shared.find("archive_read_support_format_zip", f.support_format_zip) &&
           shared.find("archive_read_support_format_tar", f.support_format_tar) &&
           shared.find("archive_read_support_format_raw", f.support_format_raw) &&
           shared.find("archive_read_set_read_callback", f.set_read_callback) &&
           shared.find("archive_read_set_seek_callback", f.set_seek_callback) &&
           shared.find("archive_read_set_skip_callback", f.set_skip_callback) &&
           shared.find("archive_read_set_callback_data", f.set_callback_data) &&
           shared.find("archive_read_open1", f.open1) &&
           shared.find("archive_read_next_header", f.next_header) &&
           shared.find("archive_read_data", f.read_data) &&
           shared.find("archive_read_data_block", f.read_data_block) &&
           shared.find("archive_error_string", f.error_string) &&
           shared.find("archive_filter_count", f.filter_count) &&
           shared.find("archive_filter_code", f.filter_code) &&
           shared.find("archive_entry_pathname", f.entry_pathname) &&
           shared.find("archive_entry_size_is_set", f.entry_size_is_set) &&
           shared.find("archive_entry_size", f.entry_size) &&
           shared.find("archive_entry_filetype", f.entry_filetype) &&
           shared.find("archive_entry_is_encrypted", f.entry_is_encrypted) &&
           shared.find("archive_entry_sparse_count", f.entry_sparse_count));
  }
};

}  // namespace

const Library* library(std::string& why) {
  static const Loaded loaded;
  why = loaded.shared.loaded() ? "" : "libarchive cannot be loaded: " + loaded.shared.why();
  return loaded.shared.loaded() ? &loaded.functions : nullptr;
}

}  // namespace tsa::archive
