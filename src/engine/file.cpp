#include "engine/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tsa {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    (void)close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileHandle::~FileHandle() { (void)close(); }

int FileHandle::close() {
  if (fd_ < 0) {
    return 0;
  }
  // On Linux the descriptor is gone even when close reports an error, so it
  // is never closed twice.
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0 ? 0 : errno;
}

namespace {

// Takes the advisory lock without waiting. A lock held elsewhere refuses the
// open (EWOULDBLOCK); a file system without locks is used unlocked, since
// refusing it would make the tool unusable there.
int lockWithoutWaiting(int fd, int operation) {
  if (::flock(fd, operation | LOCK_NB) == 0) {
    return 0;
  }
  const int error = errno;
  return error == EWOULDBLOCK || error == EINTR ? EWOULDBLOCK : 0;
}

OpenResult failed(int error) { return OpenResult{FileHandle(), error}; }

}  // namespace

OpenResult openForReading(const std::string& path) {
  // Opened without waiting: opening a named pipe for reading would otherwise
  // wait for a writer, and a pipe that an encoder reads the output from
  // would hang the existence probe for good. Reads wait again afterwards.
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.isOpen()) {
    return failed(errno);
  }
  const int flags = ::fcntl(file.fd(), F_GETFL);
  if (flags < 0 || ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return failed(errno);
  }
  struct stat status {};
  if (::fstat(file.fd(), &status) != 0) {
    return failed(errno);
  }
  if (S_ISDIR(status.st_mode)) {
    return failed(EISDIR);
  }
  if (const int error = lockWithoutWaiting(file.fd(), LOCK_SH); error != 0) {
    return failed(error);
  }
  return OpenResult{std::move(file), 0};
}

OpenResult openForWriting(const std::string& path) {
  // No O_TRUNC: the file is cut only once it is ours alone, so a file that
  // another open holds is never touched.
  FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
  if (!file.isOpen()) {
    return failed(errno);
  }
  if (const int error = lockWithoutWaiting(file.fd(), LOCK_EX); error != 0) {
    return failed(error);
  }
  struct stat status {};
  if (::fstat(file.fd(), &status) != 0) {
    return failed(errno);
  }
  // Devices and pipes (/dev/null, a terminal) have no length to cut. An
  // empty file is left alone: on ext4, cutting a file to length 0 makes its
  // close wait for the data to reach the disk.
  if (S_ISREG(status.st_mode) && status.st_size > 0 && ::ftruncate(file.fd(), 0) != 0) {
    return failed(errno);
  }
  return OpenResult{std::move(file), 0};
}

bool OutputFile::write(std::span<const unsigned char> bytes, Console& console) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file_.fd(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      // A write that takes nothing and names no error would loop forever.
      reportWriteError(written < 0 ? errno : EIO, console);
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool OutputFile::close(Console& console) {
  if (const int error = file_.close(); error != 0) {
    reportWriteError(error, console);
    return false;
  }
  return true;
}

void OutputFile::reportWriteError(int error, Console& console) const {
  console.print("Error: cannot write to output file \"%s\" (%s)\n", path_.c_str(),
                std::strerror(error));
}

bool pathExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace tsa
