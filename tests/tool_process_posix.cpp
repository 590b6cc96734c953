// Runs of the built tool on POSIX systems: fork and exec, with standard
// output and error caught in memory files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "test_support.h"

namespace tsa::testing {
namespace {

int fdOf(std::intptr_t descriptor) { return static_cast<int>(descriptor); }

std::string readAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char chunk[65536];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

ToolProcess::ToolProcess(const std::string& workDir, const std::vector<std::string>& args,
                         const std::string& input, int extraFd, int extraFdNumber,
                         const std::vector<std::string>& environment) {
  // A tool that ends before reading its input must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  out_ = ::memfd_create("tool-stdout", MFD_CLOEXEC);
  err_ = ::memfd_create("tool-stderr", MFD_CLOEXEC);
  int inPipe[2];
  if (out_ < 0 || err_ < 0 || ::pipe(inPipe) != 0) {
    ADD_FAILURE() << "cannot set up the tool's streams: " << std::strerror(errno);
    return;
  }
  const std::vector<const char*> argv = toolArgv(args);

  process_ = ::fork();
  if (process_ == 0) {
    if (::chdir(workDir.c_str()) != 0) {
      ::_exit(127);
    }
    for (const std::string& setting : environment) {
      ::putenv(const_cast<char*>(setting.c_str()));
    }
    // The tool starts as a shell starts it: every signal at its default
    // action and none blocked, whatever this test process set for itself.
    for (int signal = 1; signal < NSIG; ++signal) {
      std::signal(signal, SIG_DFL);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(inPipe[0], 0);
    ::dup2(fdOf(out_), 1);
    ::dup2(fdOf(err_), 2);
    if (extraFd >= 0) {
      ::dup2(extraFd, extraFdNumber);
      if (extraFdNumber > 3) {
        ::close_range(3, static_cast<unsigned>(extraFdNumber) - 1, 0);
      }
      ::close_range(std::max(3U, static_cast<unsigned>(extraFdNumber) + 1), ~0U, 0);
    } else {
      ::close_range(3, ~0U, 0);
    }
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(inPipe[0]);
  if (!input.empty() && ::write(inPipe[1], input.data(), input.size()) < 0) {
    // The tool ended without reading; its status tells the rest.
  }
  ::close(inPipe[1]);
}

ToolProcess::~ToolProcess() {
  if (process_ > 0) {
    (void)finish();
  }
  ::close(fdOf(out_));
  ::close(fdOf(err_));
}

ToolRun ToolProcess::finish() {
  ToolRun run;
  if (process_ <= 0) {
    return run;
  }
  int waitStatus = 0;
  ::waitpid(static_cast<pid_t>(process_), &waitStatus, 0);
  process_ = -1;
  run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  run.signal = WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0;
  run.out = readAll(fdOf(out_));
  run.err = readAll(fdOf(err_));
  return run;
}

void ToolProcess::sendSignal(int number) const { ::kill(static_cast<pid_t>(process_), number); }

}  // namespace tsa::testing
