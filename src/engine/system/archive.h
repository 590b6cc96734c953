// Archives and compressed files, read through libarchive: their members
// listed and decoded as streams from bytes the caller hands in as they are
// asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engine/system/file.h"

namespace tsa {

/// Where an archive's bytes come from.
class ArchiveInput {
 public:
  ArchiveInput() = default;
  ArchiveInput(const ArchiveInput&) = delete;
  ArchiveInput& operator=(const ArchiveInput&) = delete;
  virtual ~ArchiveInput() = default;

  /// The next bytes into `buffer`: some, or none at the end.
  [[nodiscard]] virtual Transfer read(std::span<unsigned char> buffer) = 0;

  /// Makes `offset` the next byte to read; false where the bytes come in
  /// order only.
  [[nodiscard]] virtual bool seek(std::int64_t offset) = 0;

  /// The archive's length in bytes, or -1 where it is not known.
  [[nodiscard]] virtual std::int64_t length() const = 0;
};

/// One member of an archive, as its header gives it.
struct ArchiveMember {
  std::string path;
  std::int64_t bytes = -1;  // -1 where the header does not say
  bool regularFile = true;
  bool encrypted = false;
};

/// A reader of one archive (or, where `single`, of one compressed file,
/// whose only member is its decoded bytes), its members in order.
class ArchiveReader {
 public:
  ArchiveReader(ArchiveInput& input, bool single);
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader();

  enum class Next { Member, End, Failed };

  /// Moves to the next member (the first, at first) and describes it.
  [[nodiscard]] Next next(ArchiveMember& member);

  /// True when the archive's bytes pass through a decompression filter
  /// (a .tar.gz), so that passing a member costs decoding it. After next().
  [[nodiscard]] bool decodes() const;

  /// Decodes the member's next bytes into `buffer`: how many, 0 at its end
  /// (after the format's check of it, where it keeps one), -1 where the
  /// bytes are damaged or cannot be had (see error()).
  [[nodiscard]] std::int64_t read(std::span<unsigned char> buffer);

  /// Where the member's bytes lie as they are, one after the other, in the
  /// archive (a member stored without compression), found from its first
  /// bytes, which go to `first` (`wanted` of them, or all it has); nothing where they do not, or
  /// where the first read failed (then failed() and error() say so). Only before any read of the
  /// member.
  [[nodiscard]] std::optional<std::int64_t> storedAt(std::string& first, std::size_t wanted);

  /// True when storedAt() could not read the member.
  [[nodiscard]] bool failed() const { return failed_; }

  /// Why the last call failed, in the library's words.
  [[nodiscard]] std::string error() const;

  /// True when the input failed, not the archive's bytes (see
  /// inputError()).
  [[nodiscard]] bool inputFailed() const { return inputError_ != 0; }

  /// The error of the input's read that failed.
  [[nodiscard]] int inputError() const { return inputError_; }

  // For the library's callbacks.
  struct Callbacks;

 private:
  struct Handle;

  ArchiveInput& input_;
  std::unique_ptr<Handle> handle_;
  std::unique_ptr<unsigned char[]> buffer_;  // the bytes handed to the library last
  std::int64_t bufferAt_ = 0;                // their offset in the archive
  std::size_t bufferBytes_ = 0;
  std::int64_t position_ = 0;  // of the next byte the input reads
  int inputError_ = 0;
  bool opened_ = false;
  bool sparse_ = false;  // the member has holes
  bool failed_ = false;
  bool single_;
};

}  // namespace tsa
