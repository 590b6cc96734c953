// The bytes of one member of an archive: where it is stored as it is, a
// window onto the archive's bytes; else decoded as a stream from its start.
#pragma once

#include <memory>

#include "engine/source/byte_source.h"
#include "engine/system/archive.h"

namespace tsa {

/// The archive's bytes, as a source of bytes, for the library that reads
/// it. Where they can be had from anywhere and their length is known, they
/// are asked for in ranges that grow as they are read (from 64 KiB to
/// 64 MiB): a reader that stops early leaves the rest of a URL unfetched.
class ContainerInput final : public ArchiveInput {
 public:
  ContainerInput(std::unique_ptr<ByteSource> bytes, std::int64_t length);

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override;
  [[nodiscard]] bool seek(std::int64_t offset) override;
  [[nodiscard]] std::int64_t length() const override { return length_; }

  [[nodiscard]] ByteSource& bytes() const { return *bytes_; }

 private:
  std::unique_ptr<ByteSource> bytes_;
  std::int64_t length_;
  bool inRanges_;
  std::int64_t position_ = 0;
  std::int64_t rangeEnd_ = 0;
  std::int64_t rangeBytes_ = 0;  // of the last range
};

/// The archive of `form` (a member's), open as a source of bytes with its
/// length; null where it cannot be had.
[[nodiscard]] std::unique_ptr<ContainerInput> openContainer(const SourceForm& form);

/// Moves `reader` to the member of `form` (a compressed file's one):
/// Member, or End where it is not there, or Failed where the archive
/// cannot be read.
[[nodiscard]] ArchiveReader::Next findMember(ArchiveReader& reader, const ArchivedForm& form,
                                             ArchiveMember& member);

/// The bytes of the member of `form`, stored as they are at
/// form.archive->storedAt.
[[nodiscard]] std::unique_ptr<ByteSource> storedMemberBytes(const SourceForm& form);

/// The bytes of the member of `form`, decoded from its start.
[[nodiscard]] std::unique_ptr<ByteSource> decodedMemberBytes(const SourceForm& form);

}  // namespace tsa
