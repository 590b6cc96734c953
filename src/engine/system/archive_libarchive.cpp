#include "engine/system/archive.h"

#include <algorithm>
#include <cstdio>

#include "engine/system/archive_library.h"

namespace tsa {
namespace {

// The bytes handed to the library at a time.
constexpr std::size_t inputPiece = std::size_t{1} << 20;

}  // namespace

struct ArchiveReader::Handle {
  std::string why;  // the library cannot be loaded: first, for lib's call
  const archive::Library* lib = nullptr;
  struct ::archive* archive = nullptr;

  Handle() : lib(archive::library(why)), archive(lib != nullptr ? lib->read_new() : nullptr) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (archive != nullptr) {
      lib->read_free(archive);
    }
  }
};

struct ArchiveReader::Callbacks {
  static la_ssize_t read(struct ::archive* /*archive*/, void* data, const void** buffer) {
    auto& reader = *static_cast<ArchiveReader*>(data);
    const Transfer got = reader.input_.read(std::span(reader.buffer_.get(), inputPiece));
    *buffer = reader.buffer_.get();
    reader.bufferAt_ = reader.position_;
    reader.bufferBytes_ = got.error != 0 ? 0 : got.bytes;
    if (got.error != 0) {
      reader.inputError_ = got.error;
      return -1;
    }
    reader.position_ += static_cast<std::int64_t>(got.bytes);
    return static_cast<la_ssize_t>(got.bytes);
  }

  static la_int64_t seek(struct ::archive* /*archive*/, void* data, la_int64_t offset, int whence) {
    auto& reader = *static_cast<ArchiveReader*>(data);
    const std::int64_t length = reader.input_.length();
    std::int64_t to = offset;
    if (whence == SEEK_CUR) {
      to += reader.position_;
    } else if (whence == SEEK_END) {
      if (length < 0) {
        return ARCHIVE_FATAL;
      }
      to += length;
    }
    if (to < 0 || (length >= 0 && to > length) || !reader.input_.seek(to)) {
      return ARCHIVE_FATAL;
    }
    reader.position_ = to;
    reader.bufferBytes_ = 0;
    return to;
  }

  static la_int64_t skip(struct ::archive* archive, void* data, la_int64_t request) {
    auto& reader = *static_cast<ArchiveReader*>(data);
    const std::int64_t length = reader.input_.length();
    std::int64_t bytes = request;
    if (length >= 0) {
      bytes = std::min<std::int64_t>(bytes, length - reader.position_);
    }
    if (bytes <= 0 || seek(archive, data, reader.position_ + bytes, SEEK_SET) < 0) {
      return 0;  // the library reads and drops them instead
    }
    return bytes;
  }
};

ArchiveReader::ArchiveReader(ArchiveInput& input, bool single)
    : input_(input),
      handle_(std::make_unique<Handle>()),
      buffer_(new unsigned char[inputPiece]),
      single_(single) {
  struct ::archive* archive = handle_->archive;
  if (archive == nullptr) {
    return;
  }
  const archive::Library& lib = *handle_->lib;
  lib.support_filter_all(archive);
  // The formats the names choose, and no other: a bidder for every format
  // the library knows would look through the first bytes for each.
  if (single_) {
    lib.support_format_raw(archive);
  } else {
    lib.support_format_7zip(archive);
    lib.support_format_zip(archive);
    lib.support_format_tar(archive);
  }
  lib.set_read_callback(archive, Callbacks::read);
  lib.set_seek_callback(archive, Callbacks::seek);
  lib.set_skip_callback(archive, Callbacks::skip);
  lib.set_callback_data(archive, this);
}

ArchiveReader::~ArchiveReader() = default;

ArchiveReader::Next ArchiveReader::next(ArchiveMember& member) {
  struct ::archive* archive = handle_->archive;
  if (archive == nullptr) {
    return Next::Failed;
  }
  const archive::Library& lib = *handle_->lib;
  if (!opened_) {
    opened_ = true;
    if (lib.open1(archive) != ARCHIVE_OK) {
      return Next::Failed;
    }
  }
  struct ::archive_entry* entry = nullptr;
  const int status = lib.next_header(archive, &entry);
  if (status == ARCHIVE_EOF) {
    return Next::End;
  }
  if (status < ARCHIVE_WARN) {
    return Next::Failed;
  }
  const char* path = lib.entry_pathname(entry);
  member.path = path != nullptr ? path : "";
  member.bytes = lib.entry_size_is_set(entry) != 0 ? lib.entry_size(entry) : -1;
  member.regularFile = lib.entry_filetype(entry) == AE_IFREG;
  member.encrypted = lib.entry_is_encrypted(entry) != 0;
  sparse_ = lib.entry_sparse_count(entry) > 0;
  return Next::Member;
}

bool ArchiveReader::decodes() const {
  struct ::archive* archive = handle_->archive;
  return archive != nullptr && (handle_->lib->filter_count(archive) != 1 ||
                                handle_->lib->filter_code(archive, 0) != ARCHIVE_FILTER_NONE);
}

std::int64_t ArchiveReader::read(std::span<unsigned char> buffer) {
  const la_ssize_t got = handle_->lib->read_data(handle_->archive, buffer.data(), buffer.size());
  return got < 0 ? -1 : static_cast<std::int64_t>(got);
}

std::optional<std::int64_t> ArchiveReader::storedAt(std::string& first, std::size_t wanted) {
  struct ::archive* archive = handle_->archive;
  const void* block = nullptr;
  std::size_t bytes = 0;
  la_int64_t offset = 0;
  first.clear();
  int status = handle_->lib->read_data_block(archive, &block, &bytes, &offset);
  if (status < ARCHIVE_WARN) {
    failed_ = true;
    return std::nullopt;
  }
  // The member's bytes came as the input gave them, right where it put
  // them: the archive holds them as they are, unless a filter or sparse
  // blocks come between.
  const auto* at = static_cast<const unsigned char*>(block);
  const unsigned char* given = buffer_.get();
  const bool inInput = at != nullptr && at >= given && at + bytes <= given + bufferBytes_;
  std::optional<std::int64_t> stored;
  if (inInput && offset == 0 && !sparse_ && !decodes()) {
    stored = bufferAt_ + (at - given);
  }
  while (status != ARCHIVE_EOF) {
    first.append(static_cast<const char*>(block), bytes);
    if (first.size() >= wanted) {
      break;
    }
    status = handle_->lib->read_data_block(archive, &block, &bytes, &offset);
    if (status < ARCHIVE_WARN) {
      failed_ = true;
      return std::nullopt;
    }
  }
  return stored;
}

std::string ArchiveReader::error() const {
  if (handle_->archive == nullptr) {
    return handle_->why;
  }
  const char* text = handle_->lib->error_string(handle_->archive);
  return text != nullptr ? text : "the archive cannot be read";
}

}  // namespace tsa
