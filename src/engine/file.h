// Files of a run: owned descriptors with shared reading and exclusive writing.
//
// Every read open takes a shared advisory lock and the output an exclusive
// one, so a file that one run is writing cannot be read or written by
// another open, in this process or any other, whatever path, hard link or
// symbolic link names it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <utility>

#include "engine/console.h"

namespace tsa {

/// Owns one POSIX file descriptor. The destructor closes quietly as a safety
/// net; whoever needs to know that a close worked calls close().
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

  /// Closes the descriptor; returns 0, or the errno of a failed close.
  [[nodiscard]] int close();

 private:
  int fd_ = -1;
};

/// An open file, or the errno that says why it could not be opened.
struct OpenResult {
  FileHandle file;
  int error = 0;
};

/// Opens `path` for reading, sharing it with other readers. Fails with
/// EISDIR for a directory and with EWOULDBLOCK while another open holds the
/// file for writing.
[[nodiscard]] OpenResult openForReading(const std::string& path);

/// Opens `path` for writing, creating it if needed, and holds it exclusively;
/// only once the lock is held is an existing regular file cut to length 0.
/// Fails with EWOULDBLOCK while any other open holds the file.
[[nodiscard]] OpenResult openForWriting(const std::string& path);

/// The output file of a run, held exclusively while it is written. Every
/// write and the final close are checked; a failure is printed with the
/// path and the system's reason.
class OutputFile {
 public:
  OutputFile(FileHandle file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

  /// Writes all of `bytes` at the current end; false after printing why not.
  [[nodiscard]] bool write(std::span<const unsigned char> bytes, Console& console);

  /// Closes the file, so that an error the system kept back shows; false
  /// after printing why.
  [[nodiscard]] bool close(Console& console);

 private:
  /// Prints the write-failure message for `error`.
  void reportWriteError(int error, Console& console) const;

  FileHandle file_;
  std::string path_;
};

/// True when something exists at `path` (a dangling link does not count).
[[nodiscard]] bool pathExists(const std::string& path);

}  // namespace tsa
