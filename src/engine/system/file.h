// The system layer, the bottom of the engine and the one place that knows
// the platform (files, console, stop signals, aligned memory).
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
#include <future>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "engine/system/console.h"

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
/// volume) and the file's number on it, up to 128 bits wide (ReFS); POSIX
/// numbers fill the low half.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::uint64_t indexHigh = 0;
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
  bool device = false;  // a character or block device: /dev/null, a console, a disk
  std::int64_t size = 0;
};

/// What opening a named pipe does when no writer has it open yet.
enum class PipeOpen {
  WithoutWaiting,  // the open finds nobody, and the first read the end
  WaitForWriter,   // the open waits for a writer (a stop signal ends the wait)
};

/// Opens `path` for reading, sharing it with other readers only. Fails for a
/// directory, and with heldElsewhere while another open holds the file for
/// writing. Waits for nothing, unless `pipe` says to wait for the writer of
/// a named pipe.
[[nodiscard]] OpenResult openForReading(const std::string& path,
                                        PipeOpen pipe = PipeOpen::WithoutWaiting);

/// Opens `path` for writing, creating it if needed, and holds it
/// exclusively. Nothing is cut: see cutToLength. Fails with heldElsewhere
/// while any other open holds the file. A Windows named pipe (see
/// isPipeName) is waited for until its server listens.
[[nodiscard]] OpenResult openForWriting(const std::string& path);

/// Standard input, as a file of its own to read from (the edit list `-`).
[[nodiscard]] OpenResult openStandardInput();

/// Standard output, as a file of its own to write to (the output `-`).
[[nodiscard]] OpenResult openStandardOutput();

/// Where the file's position stands, or -1 where it has none (a pipe).
[[nodiscard]] std::int64_t positionOf(const FileHandle& file);

/// The identity of the file that `path` names (through any links), or
/// nothing when no file is there.
[[nodiscard]] std::optional<FileIdentity> identityOf(const std::string& path);

/// True when something exists at `path` (a dangling link does not count).
[[nodiscard]] bool pathExists(const std::string& path);

/// True for a name in the Windows named-pipe namespace (\\.\pipe\NAME),
/// which opening for reading would connect to the pipe's server; no POSIX
/// name is one (a FIFO is told by looking at it).
[[nodiscard]] bool isPipeName(const std::string& path);

/// `path` as the file system keeps the name: on Windows without the dots
/// and blanks that end its last component ("set.y4m. " is stored as
/// "set.y4m"), which Windows drops; elsewhere as it is.
[[nodiscard]] std::string nameAsStored(std::string_view path);

/// What is at a path, seen without opening it.
struct PathInfo {
  bool readable = false;     // something the run may read is there (no directory)
  bool regularFile = false;  // a file on a disk, not a pipe or a device
  bool namedPipe = false;    // a FIFO named in the file system, or a Windows named pipe
};

/// Looks at `path` without opening it, so that a named pipe is not met and
/// a device not woken: whether it exists, what it is and whether this
/// process may read it.
[[nodiscard]] PathInfo lookAt(const std::string& path);

/// The system's words for `error`, on one line.
[[nodiscard]] std::string describeError(int error);

/// Bytes moved by one call, or the error that stopped it. No bytes and no
/// error is the end of the file.
struct Transfer {
  std::size_t bytes = 0;
  int error = 0;
};

/// The whole of the file `path` appended to `text`, or false with the
/// system's error.
[[nodiscard]] bool readWholeFile(const std::string& path, std::string& text, int& error);

/// Reads up to `buffer.size()` bytes at the file's position.
[[nodiscard]] Transfer readSome(const FileHandle& file, std::span<unsigned char> buffer);

/// Writes up to `bytes.size()` bytes at the file's position.
[[nodiscard]] Transfer writeSome(const FileHandle& file, std::span<const unsigned char> bytes);

/// A handle of its own on the file that `file` has open, for writing: on
/// POSIX systems a second open of that very file (its path may have changed
/// since), on Windows a duplicate. Fails where the system gives none.
[[nodiscard]] OpenResult openAgain(const FileHandle& file);

/// Moves the file's position to `offset` bytes from its start; 0 or the error.
[[nodiscard]] int seekTo(const FileHandle& file, std::int64_t offset);

/// Cuts (or extends) the file to `length` bytes; 0 or the error.
[[nodiscard]] int cutToLength(const FileHandle& file, std::int64_t length);

/// The block that transfers of `file` past the page cache must start and end
/// on, in the file and in memory: the larger of what the system requires
/// and the file system's own block (4,096 on ext4). 0 where the file cannot
/// move its data past the page cache (a pipe, a device, tmpfs, an older
/// kernel, other platforms).
[[nodiscard]] std::size_t directTransferBlock(const FileHandle& file);

/// From now on moves the file's data between the device and the caller's
/// buffers directly, past the page cache (`past`), or through it again.
/// Returns false, with nothing changed, where that cannot be done. A
/// transfer that the device still refuses for its alignment goes through
/// the page cache instead, so reads and writes never fail for having asked.
[[nodiscard]] bool movePastPageCache(const FileHandle& file, bool past);

/// Moves the file's data past the page cache from now on where its block
/// (see directTransferBlock) is at most `maxBlock`; returns that block, or 0
/// where the file keeps the page cache.
[[nodiscard]] std::size_t goPastPageCache(const FileHandle& file, std::size_t maxBlock);

/// The block that ranges shared between files start and end on (see
/// shareBlocks), or 0 where `file` cannot share its blocks.
[[nodiscard]] std::size_t shareBlock(const FileHandle& file);

/// Makes the `length` bytes of `target` at `targetOffset` share the blocks
/// of `source` at `sourceOffset`, where the file system can: no data is
/// copied and no space taken. Offsets and length lie on shareBlock. Either
/// every byte is shared and 0 returned, or nothing changes and the error
/// is returned (see isShareRefusal).
[[nodiscard]] int shareBlocks(const FileHandle& source, std::int64_t sourceOffset,
                              const FileHandle& target, std::int64_t targetOffset,
                              std::int64_t length);

/// True when `error`, from shareBlocks, says that the file system will not
/// share these files' blocks (it cannot, they lie on two file systems, the
/// range does not suit it, or the file is busy): the bytes are copied then.
[[nodiscard]] bool isShareRefusal(int error);

/// The output file of a run, held exclusively while it is written. Every
/// write and the final close are checked; what the file keeps after a
/// failure is its owner's to decide (see cutBackTo).
class OutputFile {
 public:
  /// Who opened the file: the run, which made it empty, or whoever gave
  /// the run its standard output (a shell's >> appends to what is there).
  enum class Origin { OpenedByTheRun, StandardOutput };

  /// The output `file`, named `path` in messages. On standard output the
  /// run's bytes start where the file stands, and the page cache is kept.
  OutputFile(FileHandle file, std::string path, bool regularFile,
             Origin origin = Origin::OpenedByTheRun);

  OutputFile(OutputFile&&) noexcept = default;
  OutputFile& operator=(OutputFile&&) noexcept = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  /// Waits for a cut that emptyInBackground began.
  ~OutputFile();

  /// Cuts the file to length 0 through a handle of its own (see openAgain)
  /// on a thread of its own, so that freeing the old blocks overlaps what
  /// the run does before its first write; without a second handle the file
  /// is cut here and now. ext4, XFS and btrfs take a file cut through the
  /// descriptor that then writes it for a file being replaced, and start
  /// writing back all of it when that descriptor is closed; a handle closed
  /// right after the cut leaves no such mark. Every later call that changes
  /// the file waits for the cut, and fails with its error if it failed:
  /// nothing is ever written over the old bytes.
  void emptyInBackground();

  /// Writes all of `bytes` at the file's position. Returns how many went
  /// and the error that stopped the rest (0 when all went). Prints nothing,
  /// so that it may run beside the console's thread.
  [[nodiscard]] Transfer write(std::span<const unsigned char> bytes);

  /// Writes all of `bytes` through the page cache, then moves the position
  /// back to where it was, so that the next write past the cache starts on
  /// a block again and writes these bytes a second time with what follows.
  [[nodiscard]] Transfer writeThroughPageCache(std::span<const unsigned char> bytes);

  /// Makes the `length` bytes of the file at `offset`, its end, share the
  /// blocks of `source` at `sourceOffset` (see shareBlocks), and moves on
  /// past them; 0, or the error that left the file as it was.
  [[nodiscard]] int shareFrom(const FileHandle& source, std::int64_t sourceOffset,
                              std::int64_t offset, std::int64_t length);

  /// Takes back the last share, whose range started at `offset`: the file
  /// ends there again, and the next write goes there. 0, or the error.
  [[nodiscard]] int unshareFrom(std::int64_t offset);

  /// The block shared ranges must start and end on in the file, or 0 where
  /// it shares none (a pipe, a device, standard output).
  [[nodiscard]] std::size_t shareBlock() const;

  /// Writes past the page cache from now on where the file allows blocks of
  /// at most `maxBlock` bytes; returns the block writes must then start and
  /// end on, or 0 where the output keeps the page cache.
  [[nodiscard]] std::size_t goPastPageCache(std::size_t maxBlock);

  /// The block writes start and end on past the page cache, or 0.
  [[nodiscard]] std::size_t directBlock() const { return directBlock_; }

  /// Cuts a regular file back to the first `length` bytes the run wrote, so
  /// that it never keeps part of a frame; pipes and devices keep what went.
  /// Quiet: a cut that fails leaves the failure that called for it to be
  /// reported.
  void cutBackTo(std::int64_t length);

  /// Prints the write-failure message for `error`.
  void reportWriteError(int error, Console& console) const;

  /// Closes the file, so that an error the system kept back (or a cut that
  /// failed) shows; false after printing why.
  [[nodiscard]] bool close(Console& console);

 private:
  /// Waits for the cut that emptyInBackground began, if any; 0, or the
  /// error that left the file as it was.
  [[nodiscard]] int waitForCut();

  FileHandle file_;
  std::future<int> cut_;  // the background cut's error
  int cutError_ = 0;
  std::string path_;
  bool regularFile_;
  Origin origin_;
  std::int64_t startsAt_ = 0;  // where the run's first byte goes
  std::size_t directBlock_ = 0;
  std::int64_t position_ = 0;  // where the next write goes: the file starts empty
};

}  // namespace tsa
