#include "engine/source/member_bytes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

#include "engine/source/archive_name.h"
#include "engine/system/hash.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

// The decoded bytes dropped at a time on the way to the first one asked for.
constexpr std::size_t skipPiece = std::size_t{1} << 20;

// A member stored as it is: the bytes of the archive from where it starts,
// never past its end.
class StoredMember final : public ByteSource {
 public:
  StoredMember(std::unique_ptr<ByteSource> archive, std::int64_t at, std::int64_t bytes)
      : archive_(std::move(archive)), at_(at), bytes_(bytes) {}

  [[nodiscard]] bool inOrderOnly() const override { return archive_->inOrderOnly(); }

  [[nodiscard]] bool startAt(std::int64_t offset, std::int64_t length) override {
    const std::int64_t rest = std::max<std::int64_t>(bytes_ - offset, 0);
    left_ = length < 0 ? rest : std::min(length, rest);
    return left_ == 0 || archive_->startAt(at_ + offset, left_);
  }

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override {
    if (left_ == 0) {
      return {};
    }
    const Transfer got =
        archive_->read(buffer.first(std::min(buffer.size(), static_cast<std::size_t>(left_))));
    left_ -= static_cast<std::int64_t>(got.bytes);
    return got;
  }

  [[nodiscard]] std::string failure(int error) const override { return archive_->failure(error); }
  [[nodiscard]] bool changed() const override { return archive_->changed(); }

 private:
  std::unique_ptr<ByteSource> archive_;
  std::int64_t at_;
  std::int64_t bytes_;
  std::int64_t left_ = 0;
};

// A compressed member, decoded from its start: the bytes before the first
// one asked for are decoded and dropped, and a range that goes back starts
// again from the member's start. Where a range ends at the member's end,
// the format's check of the member is made before its last bytes go.
class DecodedMember final : public ByteSource {
 public:
  explicit DecodedMember(SourceForm form)
      : form_(std::move(form)),
        scratch_(new unsigned char[skipPiece]),
        gzip_(form_.archive->single && keepsGzipTrailer(form_.archive->container->name)) {}

  // Opens the archive and finds the member; false where it cannot.
  [[nodiscard]] bool restart();

  [[nodiscard]] bool inOrderOnly() const override { return false; }
  [[nodiscard]] bool startAt(std::int64_t offset, std::int64_t length) override;
  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override;
  [[nodiscard]] std::string failure(int error) const override;
  [[nodiscard]] bool changed() const override { return input_ && input_->bytes().changed(); }
  [[nodiscard]] bool damaged() const override { return damaged_; }
  [[nodiscard]] bool worthKeeping() const override { return reader_ && !broken_; }

 private:
  // The next decoded bytes, the one peeked at first.
  Transfer pull(std::span<unsigned char> buffer);

  // Takes note of a read of the decoder that failed; its error.
  int readFailed();

  // Past the last byte asked for, where the member should end: reads on to
  // the end, so that the format checks the member; 0, or the error.
  int checkEnd();

  // At the end of a .gz: 0 where its trailer's CRC32 and length are those
  // of the bytes decoded (the library does not check them), else the
  // error. A trailer that cannot be read is not checked.
  int checkGzipTrailer();

  SourceForm form_;
  std::unique_ptr<ContainerInput> input_;
  std::unique_ptr<ArchiveReader> reader_;  // after input_: ends before it
  std::int64_t memberBytes_ = -1;
  std::int64_t position_ = 0;  // of the next byte, in the member
  std::int64_t end_ = -1;      // of the range asked for
  std::optional<unsigned char> peeked_;
  std::unique_ptr<unsigned char[]> scratch_;
  int pendingError_ = 0;   // met while dropping bytes: the next read's
  bool gzip_ = false;      // a .gz, whose trailer is checked here
  std::uint32_t crc_ = 0;  // of the bytes decoded so far
  bool broken_ = false;
  bool damaged_ = false;
  std::string reason_;
};

bool DecodedMember::restart() {
  reader_.reset();
  input_ = openContainer(form_);
  if (!input_) {
    return false;
  }
  reader_ = std::make_unique<ArchiveReader>(*input_, form_.archive->single);
  ArchiveMember member;
  if (findMember(*reader_, *form_.archive, member) != ArchiveReader::Next::Member) {
    reader_.reset();
    return false;
  }
  memberBytes_ = member.bytes;
  position_ = 0;
  crc_ = 0;
  peeked_.reset();
  broken_ = damaged_ = false;
  return true;
}

bool DecodedMember::startAt(std::int64_t offset, std::int64_t length) {
  pendingError_ = 0;
  if ((!reader_ || broken_ || offset < position_) && !restart()) {
    return false;
  }
  end_ = length < 0 ? -1 : offset + length;
  while (position_ < offset) {
    if (stopRequested()) {
      pendingError_ = EINTR;
      return true;
    }
    const auto piece = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(skipPiece), offset - position_));
    const Transfer got = pull(std::span(scratch_.get(), piece));
    if (got.error != 0) {
      pendingError_ = got.error;
      return true;
    }
    if (got.bytes == 0) {
      return false;  // the member ends before
    }
  }
  return true;
}

Transfer DecodedMember::read(std::span<unsigned char> buffer) {
  if (pendingError_ != 0) {
    return {0, std::exchange(pendingError_, 0)};
  }
  std::size_t wanted = buffer.size();
  if (end_ >= 0) {
    wanted = std::min<std::size_t>(wanted, static_cast<std::size_t>(end_ - position_));
  }
  if (wanted == 0) {
    return {};
  }
  const Transfer got = pull(buffer.first(wanted));
  if (got.error == 0 && got.bytes > 0 && position_ == end_ &&
      (memberBytes_ < 0 || position_ >= memberBytes_)) {
    if (const int error = checkEnd(); error != 0) {
      return {0, error};
    }
  }
  return got;
}

Transfer DecodedMember::pull(std::span<unsigned char> buffer) {
  if (broken_) {
    return {0, EIO};
  }
  std::int64_t got = 1;
  if (peeked_) {
    buffer[0] = *std::exchange(peeked_, std::nullopt);
  } else if ((got = reader_->read(buffer)) < 0) {
    return {0, readFailed()};
  }
  position_ += got;
  const auto bytes = static_cast<std::size_t>(got);
  if (gzip_ && !continueCrc32(crc_, buffer.first(bytes))) {
    gzip_ = false;  // zlib cannot be loaded: the library's checks alone
  }
  return {bytes, 0};
}

int DecodedMember::readFailed() {
  broken_ = true;
  if (reader_->inputFailed()) {
    return reader_->inputError();
  }
  damaged_ = true;
  reason_ = reader_->error();
  return EIO;
}

int DecodedMember::checkEnd() {
  unsigned char byte = 0;
  const std::int64_t got = reader_->read(std::span(&byte, 1));
  if (got < 0) {
    return readFailed();
  }
  if (got == 1) {
    peeked_ = byte;  // longer than its header says, or its length unknown
    return 0;
  }
  return gzip_ ? checkGzipTrailer() : 0;
}

int DecodedMember::checkGzipTrailer() {
  const SourceForm& container = *form_.archive->container;
  const std::unique_ptr<ByteSource> bytes = openBytes(container, {});
  std::array<unsigned char, 8> trailer{};
  std::size_t got = 0;
  if (!bytes || container.bytes < 8 || !bytes->startAt(container.bytes - 8, 8)) {
    return 0;
  }
  for (Transfer read{1, 0}; got < trailer.size() && read.bytes > 0 && read.error == 0;) {
    read = bytes->read(std::span(trailer).subspan(got));
    got += read.bytes;
  }
  const auto little = [&](std::size_t at) {
    return static_cast<std::uint32_t>(trailer[at]) |
           static_cast<std::uint32_t>(trailer[at + 1]) << 8 |
           static_cast<std::uint32_t>(trailer[at + 2]) << 16 |
           static_cast<std::uint32_t>(trailer[at + 3]) << 24;
  };
  if (got < trailer.size() ||
      (little(0) == crc_ && little(4) == static_cast<std::uint32_t>(position_))) {
    return 0;
  }
  broken_ = damaged_ = true;
  reason_ = "its CRC32 or length is not the one the gzip trailer keeps";
  return EIO;
}

std::string DecodedMember::failure(int error) const {
  if (damaged_) {
    return reason_;
  }
  return input_ ? input_->bytes().failure(error) : describeError(error);
}

}  // namespace

ContainerInput::ContainerInput(std::unique_ptr<ByteSource> bytes, std::int64_t length)
    : bytes_(std::move(bytes)), length_(length), inRanges_(length >= 0 && !bytes_->inOrderOnly()) {}

Transfer ContainerInput::read(std::span<unsigned char> buffer) {
  if (inRanges_ && position_ == rangeEnd_ && position_ < length_) {
    constexpr std::int64_t largestRange = std::int64_t{64} << 20;
    rangeBytes_ = std::min(2 * rangeBytes_, largestRange);
    rangeEnd_ = std::min(length_, position_ + rangeBytes_);
    if (!bytes_->startAt(position_, rangeEnd_ - position_)) {
      return {0, EIO};
    }
  }
  if (inRanges_) {
    buffer = buffer.first(std::min(buffer.size(), static_cast<std::size_t>(rangeEnd_ - position_)));
  }
  const Transfer got = bytes_->read(buffer);
  position_ += static_cast<std::int64_t>(got.bytes);
  return got;
}

bool ContainerInput::seek(std::int64_t offset) {
  if (bytes_->inOrderOnly()) {
    return offset == 0 && position_ == 0 && bytes_->startAt(0, -1);
  }
  constexpr std::int64_t firstRange = std::int64_t{64} << 10;
  position_ = offset;
  rangeBytes_ = firstRange;
  rangeEnd_ = inRanges_ ? std::min(length_, offset + rangeBytes_) : -1;
  return bytes_->startAt(offset, inRanges_ ? rangeEnd_ - offset : -1);
}

std::unique_ptr<ContainerInput> openContainer(const SourceForm& form) {
  const SourceForm& container = *form.archive->container;
  std::unique_ptr<ByteSource> bytes = openBytes(container, {});
  if (!bytes) {
    return nullptr;
  }
  const bool lengthKnown = container.regularFile || (container.url && container.url->length >= 0);
  auto input =
      std::make_unique<ContainerInput>(std::move(bytes), lengthKnown ? container.bytes : -1);
  return input->seek(0) ? std::move(input) : nullptr;
}

ArchiveReader::Next findMember(ArchiveReader& reader, const ArchivedForm& form,
                               ArchiveMember& member) {
  for (;;) {
    const ArchiveReader::Next next = reader.next(member);
    if (next != ArchiveReader::Next::Member || form.single || member.path == form.member) {
      return next;
    }
  }
}

std::unique_ptr<ByteSource> storedMemberBytes(const SourceForm& form) {
  std::unique_ptr<ByteSource> archive = openBytes(*form.archive->container, {});
  if (!archive) {
    return nullptr;
  }
  return std::make_unique<StoredMember>(std::move(archive), *form.archive->storedAt, form.bytes);
}

std::unique_ptr<ByteSource> decodedMemberBytes(const SourceForm& form) {
  auto decoded = std::make_unique<DecodedMember>(form);
  return decoded->restart() ? std::move(decoded) : nullptr;
}

}  // namespace tsa
