// The file layer on POSIX systems: descriptors, with advisory locks
// (flock) for shared reading and exclusive writing.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/system/file.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

int fdOf(const FileHandle& file) { return static_cast<int>(file.native()); }

// Takes the advisory lock without waiting. A lock held elsewhere refuses the
// open; a file system without locks is used unlocked, since refusing it
// would make the tool unusable there (nothing of the tool's safety rests
// on the lock alone).
bool lockedElsewhere(int fd, int operation) {
  if (::flock(fd, operation | LOCK_NB) == 0) {
    return false;
  }
  return errno == EWOULDBLOCK || errno == EINTR;
}

// After a transfer that failed with `error`: true when the file was moving
// data past the page cache and the failure may be the alignment that this
// asks for (the end of a file that is not a whole number of blocks, a
// buffer moved on by a short transfer). The file then goes through the
// page cache from here on, and the caller tries again.
bool leftDirectTransfers(int fd, int error) {
  const int flags = ::fcntl(fd, F_GETFL);
  return error == EINVAL && flags >= 0 && (flags & O_DIRECT) != 0 &&
         ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) == 0;
}

OpenResult failed(int error) {
  OpenResult result;
  result.error = error;
  return result;
}

OpenResult opened(int fd) {
  OpenResult result;
  result.file = FileHandle(fd);
  return result;
}

OpenResult heldElsewhere() {
  OpenResult result = failed(EWOULDBLOCK);
  result.heldElsewhere = true;
  return result;
}

FileIdentity identityOfStatus(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Fills in what the open file is; false with errno set when that fails.
bool describeOpenFile(OpenResult& result, bool& directory) {
  struct stat status {};
  if (::fstat(fdOf(result.file), &status) != 0) {
    return false;
  }
  directory = S_ISDIR(status.st_mode);
  result.identity = identityOfStatus(status);
  result.regularFile = S_ISREG(status.st_mode);
  result.device = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
  result.size = status.st_size;
  return true;
}

}  // namespace

int FileHandle::close() {
  if (native_ == invalid) {
    return 0;
  }
  // On Linux the descriptor is gone even when close reports an error, so it
  // is never closed twice.
  const int result = ::close(static_cast<int>(std::exchange(native_, invalid)));
  return result == 0 ? 0 : errno;
}

OpenResult openForReading(const std::string& path, PipeOpen pipe) {
  // Unless asked to wait, opened without waiting: opening a named pipe for
  // reading would otherwise wait for a writer, and a pipe that an encoder
  // reads the output from would hang the output's probe for good. Reads
  // wait again afterwards.
  const int waiting = pipe == PipeOpen::WaitForWriter ? 0 : O_NONBLOCK;
  OpenResult result;
  do {
    result = opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | waiting));
    // A stop signal wakes the wait; any other signal goes back to it.
  } while (!result.file.isOpen() && errno == EINTR && !stopRequested());
  if (!result.file.isOpen()) {
    return failed(errno);
  }
  const int fd = fdOf(result.file);
  const int flags = ::fcntl(fd, F_GETFL);
  bool directory = false;
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      !describeOpenFile(result, directory)) {
    return failed(errno);
  }
  if (directory) {
    return failed(EISDIR);
  }
  if (lockedElsewhere(fd, LOCK_SH)) {
    return heldElsewhere();
  }
  return result;
}

OpenResult openForWriting(const std::string& path) {
  // No O_TRUNC: the file is cut only once it is ours alone and known not to
  // be one the run reads.
  OpenResult result = opened(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
  if (!result.file.isOpen()) {
    return failed(errno);
  }
  if (lockedElsewhere(fdOf(result.file), LOCK_EX)) {
    return heldElsewhere();
  }
  bool directory = false;
  if (!describeOpenFile(result, directory)) {
    return failed(errno);
  }
  return result;
}

namespace {

// A descriptor of its own for the standard stream `fd`, described.
OpenResult openStandardStream(int fd) {
  OpenResult result = opened(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  bool directory = false;
  if (!result.file.isOpen() || !describeOpenFile(result, directory)) {
    return failed(errno);
  }
  return result;
}

}  // namespace

OpenResult openStandardInput() { return openStandardStream(STDIN_FILENO); }

OpenResult openStandardOutput() { return openStandardStream(STDOUT_FILENO); }

OpenResult openAgain(const FileHandle& file) {
  // The descriptor's link in /proc leads to the very file it has open,
  // whatever became of its path; the identity check holds where /proc is
  // something else.
  const std::string self = "/proc/self/fd/" + std::to_string(fdOf(file));
  OpenResult again = opened(::open(self.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  struct stat original {};
  bool directory = false;
  if (!again.file.isOpen() || !describeOpenFile(again, directory) ||
      ::fstat(fdOf(file), &original) != 0) {
    return failed(errno);
  }
  return again.identity == identityOfStatus(original) ? std::move(again) : failed(EXDEV);
}

std::int64_t positionOf(const FileHandle& file) {
  const off_t position = ::lseek(fdOf(file), 0, SEEK_CUR);
  return position < 0 ? -1 : static_cast<std::int64_t>(position);
}

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return identityOfStatus(status);
}

bool pathExists(const std::string& path) { return identityOf(path).has_value(); }

std::string nameAsStored(std::string_view path) { return std::string(path); }

bool isPipeName(const std::string& /*path*/) { return false; }

PathInfo lookAt(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
    return {};
  }
  // A FIFO named in the file system itself; a link to a pipe (/dev/fd/N)
  // is not one.
  struct stat named {};
  const bool fifo = ::lstat(path.c_str(), &named) == 0 && S_ISFIFO(named.st_mode);
  return {::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0, S_ISREG(status.st_mode),
          fifo};
}

std::string describeError(int error) { return std::strerror(error); }

Transfer readSome(const FileHandle& file, std::span<unsigned char> buffer) {
  for (;;) {
    const ssize_t got = ::read(fdOf(file), buffer.data(), buffer.size());
    if (got >= 0) {
      return {static_cast<std::size_t>(got), 0};
    }
    // A stop signal wakes a read that waits on a pipe; the copy stops.
    if (const int error = errno;
        error == EINTR ? stopRequested() : !leftDirectTransfers(fdOf(file), error)) {
      return {0, error};
    }
  }
}

Transfer writeSome(const FileHandle& file, std::span<const unsigned char> bytes) {
  for (;;) {
    const ssize_t written = ::write(fdOf(file), bytes.data(), bytes.size());
    if (written > 0) {
      return {static_cast<std::size_t>(written), 0};
    }
    // A write that takes nothing and names no error would loop forever.
    if (written == 0) {
      return {0, EIO};
    }
    if (const int error = errno; error != EINTR && !leftDirectTransfers(fdOf(file), error)) {
      return {0, error};
    }
  }
}

std::size_t directTransferBlock(const FileHandle& file) {
#ifndef STATX_DIOALIGN
  (void)file;
  return 0;  // a system too old to say what direct transfers need
#else
  // The file system says which alignment direct transfers need; none at all
  // means it has none (tmpfs, a pipe, a device). What it accepts is not
  // what is fast: ext4 and XFS serve a transfer that starts or ends inside
  // one of their blocks on a slow path, and btrfs through its own cache.
  struct statx status {};
  if (::statx(fdOf(file), "", AT_EMPTY_PATH, STATX_DIOALIGN, &status) != 0 ||
      (status.stx_mask & STATX_DIOALIGN) == 0 || status.stx_dio_mem_align == 0 ||
      status.stx_dio_offset_align == 0) {
    return 0;
  }
  const auto block = std::max<std::size_t>(
      {status.stx_dio_offset_align, status.stx_dio_mem_align, status.stx_blksize});
  // Blocks that are not a power of two cannot be rounded to cheaply.
  return (block & (block - 1)) == 0 ? block : 0;
#endif
}

bool movePastPageCache(const FileHandle& file, bool past) {
  const int flags = ::fcntl(fdOf(file), F_GETFL);
  if (flags < 0) {
    return false;
  }
  const int wanted = past ? flags | O_DIRECT : flags & ~O_DIRECT;
  return wanted == flags || ::fcntl(fdOf(file), F_SETFL, wanted) == 0;
}

std::size_t shareBlock(const FileHandle& file) {
  struct stat status {};
  if (::fstat(fdOf(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_blksize <= 0) {
    return 0;
  }
  return static_cast<std::size_t>(status.st_blksize);
}

int shareBlocks(const FileHandle& source, std::int64_t sourceOffset, const FileHandle& target,
                std::int64_t targetOffset, std::int64_t length) {
  // The file system shares the whole range or refuses it: XFS and btrfs
  // share, ext4 and tmpfs refuse.
  file_clone_range range{};
  range.src_fd = fdOf(source);
  range.src_offset = static_cast<std::uint64_t>(sourceOffset);
  range.src_length = static_cast<std::uint64_t>(length);
  range.dest_offset = static_cast<std::uint64_t>(targetOffset);
  return ::ioctl(fdOf(target), FICLONERANGE, &range) == 0 ? 0 : errno;
}

bool isShareRefusal(int error) {
  return error == EOPNOTSUPP || error == ENOTTY || error == EXDEV || error == EINVAL ||
         error == ETXTBSY || error == EPERM || error == EBADF || error == ENOSYS;
}

int seekTo(const FileHandle& file, std::int64_t offset) {
  const auto target = static_cast<off_t>(offset);
  const off_t reached = ::lseek(fdOf(file), target, SEEK_SET);
  if (reached == target) {
    return 0;
  }
  return reached < 0 ? errno : EINVAL;
}

int cutToLength(const FileHandle& file, std::int64_t length) {
  return ::ftruncate(fdOf(file), static_cast<off_t>(length)) == 0 ? 0 : errno;
}

}  // namespace tsa
