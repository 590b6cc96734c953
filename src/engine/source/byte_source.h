// The bytes of a source, whatever keeps them: one small interface with a
// unit for each kind behind it (a file, a pipe, a URL). The frame reader
// above it knows no kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "engine/source/source_form.h"
#include "engine/system/file.h"

namespace tsa {

/// The bytes of one source, open for one splice.
class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  virtual ~ByteSource() = default;

  /// True when the bytes come in order from the start only (a pipe, a
  /// server without byte ranges): what lies before the wanted bytes is
  /// read and dropped, and a read may wait for someone else to write.
  [[nodiscard]] virtual bool inOrderOnly() const = 0;

  /// Makes the `length` bytes from `offset` on (to the end where -1) the
  /// next to read; a source read in order only starts at its start
  /// whatever `offset` says. False where it cannot be moved there.
  [[nodiscard]] virtual bool startAt(std::int64_t offset, std::int64_t length) = 0;

  /// Reads the next bytes into `buffer`, waiting for them: some, or none at
  /// the end. A stop signal ends any wait with EINTR.
  [[nodiscard]] virtual Transfer read(std::span<unsigned char> buffer) = 0;

  /// Why a read failed with `error`, in words: the system's, or a server's.
  [[nodiscard]] virtual std::string failure(int error) const { return describeError(error); }

  /// True when the last read failed because the source is no longer the
  /// version the pre-scan saw.
  [[nodiscard]] virtual bool changed() const { return false; }

  /// True when the last read failed because the source's bytes are
  /// damaged (a compressed member whose data or check is wrong).
  [[nodiscard]] virtual bool damaged() const { return false; }

  /// Says that the next splice of the same source reads the `length` bytes
  /// from `offset` on: a source that fetches its bytes may start on them
  /// once it has asked for this splice's, and then be worth keeping.
  virtual void expectNext(std::int64_t /*offset*/, std::int64_t /*length*/) {}

  /// True when the bytes are worth keeping for the next splice of the same
  /// source, since opening them again costs more (a decoder part way
  /// through a member, the next splice's bytes under way).
  [[nodiscard]] virtual bool worthKeeping() const { return false; }

  /// The block every read starts and ends on where the source is read past
  /// the page cache, else 0.
  [[nodiscard]] virtual std::size_t block() const { return 0; }

  /// The file, where the source is a file whose blocks another may share;
  /// else null.
  [[nodiscard]] virtual const FileHandle* sharableFile() const { return nullptr; }
};

/// Where the bytes of the last splice wait for the next one, where they
/// are worth keeping: one source's at a time.
class SourceShelf {
 public:
  /// Keeps `bytes`, of the source `name`, instead of what it kept.
  void put(std::string name, std::unique_ptr<ByteSource> bytes) {
    name_ = std::move(name);
    bytes_ = std::move(bytes);
  }

  /// The bytes kept of the source `name`, or null.
  [[nodiscard]] std::unique_ptr<ByteSource> take(const std::string& name) {
    return name == name_ ? std::move(bytes_) : nullptr;
  }

 private:
  std::string name_;
  std::unique_ptr<ByteSource> bytes_;
};

/// How many connections a large range from a server may take at once: by
/// default only where the server is far (its first byte comes late), or
/// near ones too, where a user asks for them.
struct ConnectionUse {
  int count = 1;
  bool nearToo = false;
};

/// How a splice's bytes are to be read.
struct ReadOptions {
  bool pastPageCache = false;    // where the source allows it
  std::size_t pictureBytes = 0;  // frames smaller than a block keep the page cache
  SourceShelf* shelf = nullptr;  // where the last splice's bytes may wait
  std::int64_t frameBytes = 0;   // a frame's bytes, markers and all
  ConnectionUse connections;     // a large range from a server may take at once
};

/// Looks at the source `name` once, as its kind does, into `form` (an
/// archive as a file or URL where form.archiveBytes), with the
/// first bytes it holds (up to two lines, for a Y4M header) into `start`
/// where its kind reads them in the pre-scan. The one place kinds are told
/// apart.
[[nodiscard]] Probe probeBytes(const std::string& name, SourceForm& form, std::string& start);

/// Opens the bytes of the source `form` describes for one splice (a pipe is
/// waited for until its writer comes), or takes those the shelf keeps of
/// it; null where they cannot be had, or a stop ended the wait.
[[nodiscard]] std::unique_ptr<ByteSource> openBytes(const SourceForm& form,
                                                    const ReadOptions& options);

}  // namespace tsa
