// A library preloaded into the tool (LD_PRELOAD) that makes one of the
// system calls the tool makes fail, as a full disk, a failing drive or a
// file system without locks would.
//
//   TSA_FAULT=CALL:N:ERRNO   the N-th call of CALL fails with errno ERRNO
//   TSA_FAULT=CALL:0:ERRNO   every call of CALL fails
//   TSA_FAULT=write:N:half   the N-th write takes half its bytes and the
//                            next one fails with ENOSPC
//   TSA_FAULT_SLOW_CUT=N:MS  a cut to length 0 off the main thread (an
//                            older output's, slow as on a trimming disk)
//                            waits for N frame reads, MS ms at most
//   TSA_FAULT_COUNTS=PATH    at exit, writes "CALL COUNT" lines to PATH,
//                            then "direct N" and "misaligned N": reads and
//                            writes on a descriptor with O_DIRECT set, and
//                            those whose file offset, length or buffer is
//                            off a 4 KiB block (the slow path of ext4 and
//                            XFS, btrfs's own cache); and "cutThenWritten
//                            N": writes through a descriptor that cut its
//                            file to length 0 (which ext4, XFS and btrfs
//                            then write back when it is closed); and
//                            "framesReadAhead N": frame reads (over 1 MiB)
//                            before the first write of 1 MiB or more
//
// CALL is one of open, read, write, lseek, fstat, ftruncate, flock, fcntl,
// close, clone; the 64-bit names count as the same call, and clone is the
// ioctl that shares blocks between files (FICLONERANGE).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

enum Call { Open, Read, Write, Lseek, Fstat, Ftruncate, Flock, Fcntl, Close, Clone, CallCount };
constexpr std::array<const char*, CallCount> callNames = {
    "open", "read", "write", "lseek", "fstat", "ftruncate", "flock", "fcntl", "close", "clone"};

struct Plan {
  int call = -1;
  long nth = -1;  // 0: every call
  int error = 0;
  bool halfWrite = false;
};

std::array<long, CallCount> counts{};
bool failNextWrite = false;
std::atomic<long> directTransfers{0};  // the writer's thread counts too
std::atomic<long> misalignedTransfers{0};
std::atomic<int> cutDescriptor{-1};  // the last to cut a file to length 0, until closed
std::atomic<long> cutThenWritten{0};
std::atomic<bool> framesWritten{false};
std::atomic<long> framesRead{0};
std::atomic<long> framesReadAhead{0};

Plan readPlan() {
  Plan plan;
  const char* text = std::getenv("TSA_FAULT");
  if (text == nullptr) {
    return plan;
  }
  const std::string_view setting(text);
  const auto first = setting.find(':');
  const auto second = setting.find(':', first + 1);
  for (int call = 0; call < CallCount; ++call) {
    if (setting.substr(0, first) == callNames[call]) {
      plan.call = call;
    }
  }
  plan.nth = std::strtol(text + first + 1, nullptr, 10);
  plan.halfWrite = setting.substr(second + 1) == "half";
  plan.error = plan.halfWrite ? ENOSPC : std::atoi(text + second + 1);
  return plan;
}

const Plan plan = readPlan();

// Counts a call; true when it is the one to fail.
bool strikes(Call call) {
  ++counts[call];
  return plan.call == call && !plan.halfWrite && (plan.nth == 0 || plan.nth == counts[call]);
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

struct CountsAtExit {
  ~CountsAtExit() {
    const char* path = std::getenv("TSA_FAULT_COUNTS");
    if (path == nullptr) {
      return;
    }
    if (std::FILE* out = std::fopen(path, "w")) {
      for (int call = 0; call < CallCount; ++call) {
        std::fprintf(out, "%s %ld\n", callNames[call], counts[call]);
      }
      std::fprintf(out, "direct %ld\nmisaligned %ld\ncutThenWritten %ld\nframesReadAhead %ld\n",
                   directTransfers.load(), misalignedTransfers.load(), cutThenWritten.load(),
                   framesReadAhead.load());
      std::fclose(out);
    }
  }
} countsAtExit;

// Fails the call named `name` when its turn has come, else makes it.
template <typename Function, typename... Args>
auto failOrCall(Call call, const char* name, Args... args) {
  using Result = decltype(real<Function>(name)(args...));
  if (strikes(call)) {
    errno = plan.error;
    return Result{-1};
  }
  return real<Function>(name)(args...);
}

using OpenFunction = int (*)(const char*, int, ...);
using FcntlFunction = int (*)(int, int, ...);
using SeekFunction = off_t (*)(int, off_t, int);

// Counts a transfer past the page cache, and whether it is off a block.
void checkShape(int fd, const void* buffer, std::size_t count) {
  static const auto realFcntl = real<FcntlFunction>("fcntl");
  static const auto realLseek = real<SeekFunction>("lseek");
  const int flags = realFcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_DIRECT) == 0) {
    return;
  }
  constexpr long block = 4096;
  const off_t offset = realLseek(fd, 0, SEEK_CUR);
  ++directTransfers;
  if (offset % block != 0 || static_cast<long>(count) % block != 0 ||
      reinterpret_cast<std::uintptr_t>(buffer) % block != 0) {
    ++misalignedTransfers;
  }
}

}  // namespace

// The names of the parameters are this file's own, not the C library's.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const auto mode = static_cast<mode_t>(va_arg(args, int));
  va_end(args);
  return failOrCall<OpenFunction>(Open, "open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const auto mode = static_cast<mode_t>(va_arg(args, int));
  va_end(args);
  return failOrCall<OpenFunction>(Open, "open64", path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
  checkShape(fd, buffer, count);
  if (count > (std::size_t{1} << 20)) {
    ++framesRead;
    framesReadAhead += framesWritten.load() ? 0 : 1;
  }
  return failOrCall<ssize_t (*)(int, void*, size_t)>(Read, "read", fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count) {
  checkShape(fd, buffer, count);
  if (fd == cutDescriptor.load()) {
    ++cutThenWritten;
  }
  if (count >= (std::size_t{1} << 20)) {
    framesWritten = true;
  }
  if (failNextWrite) {
    failNextWrite = false;
    errno = plan.error;
    return -1;
  }
  if (plan.halfWrite && plan.call == Write && plan.nth == counts[Write] + 1 && count > 1) {
    failNextWrite = true;
    count /= 2;
  }
  return failOrCall<ssize_t (*)(int, const void*, size_t)>(Write, "write", fd, buffer, count);
}

off_t lseek(int fd, off_t offset, int whence) {
  return failOrCall<SeekFunction>(Lseek, "lseek", fd, offset, whence);
}

off_t lseek64(int fd, off_t offset, int whence) {
  return failOrCall<SeekFunction>(Lseek, "lseek64", fd, offset, whence);
}

int fstat(int fd, struct stat* status) {
  return failOrCall<int (*)(int, struct stat*)>(Fstat, "fstat", fd, status);
}

int ftruncate(int fd, off_t length) {
  static const char* slowCut = std::getenv("TSA_FAULT_SLOW_CUT");
  if (length == 0 && slowCut != nullptr && ::gettid() != ::getpid()) {
    const long reads = std::strtol(slowCut, nullptr, 10);
    const long most = std::strtol(std::strchr(slowCut, ':') + 1, nullptr, 10);
    for (long waited = 0; framesRead.load() < reads && waited < most; ++waited) {
      ::usleep(1000);
    }
  }
  const int result = failOrCall<int (*)(int, off_t)>(Ftruncate, "ftruncate", fd, length);
  if (result == 0 && length == 0) {
    cutDescriptor = fd;
  }
  return result;
}

int flock(int fd, int operation) {
  return failOrCall<int (*)(int, int)>(Flock, "flock", fd, operation);
}

int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return failOrCall<FcntlFunction>(Fcntl, "fcntl", fd, command, argument);
}

int fcntl64(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return failOrCall<FcntlFunction>(Fcntl, "fcntl64", fd, command, argument);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  using IoctlFunction = int (*)(int, unsigned long, ...);
  if (request == FICLONERANGE) {
    return failOrCall<IoctlFunction>(Clone, "ioctl", fd, request, argument);
  }
  return real<IoctlFunction>("ioctl")(fd, request, argument);
}

int close(int fd) {
  const auto realClose = real<int (*)(int)>("close");
  int cut = fd;
  cutDescriptor.compare_exchange_strong(cut, -1);
  if (strikes(Close)) {
    realClose(fd);  // the descriptor is gone even when close reports an error
    errno = plan.error;
    return -1;
  }
  return realClose(fd);
}

}  // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
