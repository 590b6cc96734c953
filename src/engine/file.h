// Files of a run: owned handles with shared reading and exclusive writing,
// whole-buffer transfers and the identity of a file.
//
// Every read open shares the file with other readers only, and the output
// is held exclusively, so a file that one run is writing cannot be read or
// written by another open, in this process or any other, whatever path,
// hard link or symbolic link names it. Each platform maps this to its own
// calls (file_posix.cpp, file_win32.cpp); nothing above this header sees
// the system's names. Errors are the system's codes (errno, or the Windows
// error), turned into words by describeError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "engine/console.h"

namespace tsa {

/// Owns one open file of the system (a descriptor, or a Windows handle).
/// The destructor closes quietly as a safety net; whoever needs to know that
/// a close worked calls close().
class FileHandle {
 public:
  using Native = std::intptr_t;
  static constexpr Native invalid = -1;

  FileHandle() = default;
  explicit FileHandle(Native native) : native_(native) {}
  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, invalid)) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  [[nodiscard]] Native native() const { return native_; }
  [[nodiscard]] bool isOpen() const { return native_ != invalid; }

  /// Closes the file; returns 0, or the error of a failed close.
  [[nodiscard]] int close();

 private:
  Native native_ = invalid;
};

/// What makes a file itself, whatever path or link names it: the device (or
/// volume) and the file's number on it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// An open file and what it is, or the error that says why it could not be
/// opened.
struct OpenResult {
  FileHandle file;
  int error = 0;
  bool heldElsewhere = false;  // refused because another open holds it
  FileIdentity identity;
  bool regularFile = false;
  std::int64_t size = 0;
};

/// Opens `path` for reading, sharing it with other readers only. Fails for a
/// directory, and with heldElsewhere while another open holds the file for
/// writing. Never waits, not even for a named pipe without a writer.
[[nodiscard]] OpenResult openForReading(const std::string& path);

/// Opens `path` for writing, creating it if needed, and holds it
/// exclusively. Nothing is cut: see cutToLength. Fails with heldElsewhere
/// while any other open holds the file.
[[nodiscard]] OpenResult openForWriting(const std::string& path);

/// The identity of the file that `path` names (through any links), or
/// nothing when no file is there.
[[nodiscard]] std::optional<FileIdentity> identityOf(const std::string& path);

/// True when something exists at `path` (a dangling link does not count).
[[nodiscard]] bool pathExists(const std::string& path);

/// The system's words for `error`, on one line.
[[nodiscard]] std::string describeError(int error);

/// Bytes moved by one call, or the error that stopped it. No bytes and no
/// error is the end of the file.
struct Transfer {
  std::size_t bytes = 0;
  int error = 0;
};

/// Reads up to `buffer.size()` bytes at the file's position.
[[nodiscard]] Transfer readSome(const FileHandle& file, std::span<unsigned char> buffer);

/// Writes up to `bytes.size()` bytes at the file's position.
[[nodiscard]] Transfer writeSome(const FileHandle& file, std::span<const unsigned char> bytes);

/// Moves the file's position to `offset` bytes from its start; 0 or the error.
[[nodiscard]] int seekTo(const FileHandle& file, std::int64_t offset);

/// Cuts (or extends) the file to `length` bytes; 0 or the error.
[[nodiscard]] int cutToLength(const FileHandle& file, std::int64_t length);

/// From now on moves the file's data between the device and the caller's
/// buffers directly, past the page cache, where the system and the file
/// allow transfers of `blockBytes` at offsets that are multiples of it from
/// buffers aligned to a memory page. Returns false, with nothing changed,
/// where they do not (a pipe, a device, tmpfs, an unaligned device, other
/// platforms). A transfer that the device still refuses for its alignment
/// goes through the page cache instead, so reads and writes never fail for
/// having asked.
[[nodiscard]] bool bypassPageCache(const FileHandle& file, std::int64_t blockBytes);

/// The output file of a run, held exclusively while it is written. Every
/// write and the final close are checked. A regular file only ever keeps
/// whole writes: a write that fails part-way is cut back off.
class OutputFile {
 public:
  OutputFile(FileHandle file, std::string path, bool regularFile)
      : file_(std::move(file)), path_(std::move(path)), regularFile_(regularFile) {}

  /// Writes all of `bytes` at the current end; returns 0, or the error after
  /// which a regular file holds only what earlier writes wrote. Prints
  /// nothing, so that it may run beside the console's thread.
  [[nodiscard]] int write(std::span<const unsigned char> bytes);

  /// Prints the write-failure message for `error`.
  void reportWriteError(int error, Console& console) const;

  /// Writes past the page cache where the file allows frames of
  /// `blockBytes` (see bypassPageCache); false where it does not.
  [[nodiscard]] bool bypassPageCache(std::int64_t blockBytes) {
    return regularFile_ && tsa::bypassPageCache(file_, blockBytes);
  }

  /// Closes the file, so that an error the system kept back shows; false
  /// after printing why.
  [[nodiscard]] bool close(Console& console);

 private:
  FileHandle file_;
  std::string path_;
  bool regularFile_;
  std::int64_t wholeBytes_ = 0;  // bytes of the writes that went through whole
};

}  // namespace tsa
