#include "engine/system/archive_library.h"

namespace tsa::archive {

// On Windows libarchive is linked in, with its codecs, built from Debian's
// sources by scripts/cross-libs.sh.
const Library* library(std::string& why) {
  static const Library linked{
      .read_new = &::archive_read_new,
      .read_free = &::archive_read_free,
      .support_filter_all = &::archive_read_support_filter_all,
      .support_format_7zip = &::archive_read_support_format_7zip,
      .support_format_zip = &::archive_read_support_format_zip,
      .support_format_tar = &::archive_read_support_format_tar,
      .support_format_raw = &::archive_read_support_format_raw,
      .set_read_callback = &::archive_read_set_read_callback,
      .set_seek_callback = &::archive_read_set_seek_callback,
      .set_skip_callback = &::archive_read_set_skip_callback,
      .set_callback_data = &::archive_read_set_callback_data,
      .open1 = &::archive_read_open1,
      .next_header = &::archive_read_next_header,
      .read_data = &::archive_read_data,
      .read_data_block = &::archive_read_data_block,
      .error_string = &::archive_error_string,
      .filter_count = &::archive_filter_count,
      .filter_code = &::archive_filter_code,
      .entry_pathname = &::archive_entry_pathname,
      .entry_size_is_set = &::archive_entry_size_is_set,
      .entry_size = &::archive_entry_size,
      .entry_filetype = &::archive_entry_filetype,
      .entry_is_encrypted = &::archive_entry_is_encrypted,
      .entry_sparse_count = &::archive_entry_sparse_count,
  };
  why.clear();
  return &linked;
}

}  // namespace tsa::archive
