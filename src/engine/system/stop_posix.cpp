// Stop signals on POSIX systems: SIGINT, SIGTERM and SIGHUP.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "engine/system/stop.h"

namespace tsa {
namespace {

// The signal that asked the run to stop, or 0. Set by the handler only.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

sigset_t stopSignals() {
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaddset(&signals, signal);
  }
  return signals;
}

void setAction(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // No SA_RESTART: a read waiting on a pipe returns, so the copy sees the
  // flag. The other stop signals wait while the handler runs.
  action.sa_mask = stopSignals();
  ::sigaction(signal, &action, nullptr);
}

extern "C" void onStopSignal(int signal) {
  int none = 0;
  if (!caughtSignal.compare_exchange_strong(none, signal)) {
    // A second signal while stopping: the user means now. It is raised with
    // its default action and arrives as this handler returns.
    setAction(signal, SIG_DFL);
    ::raise(signal);
  }
}

}  // namespace

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void catchStopSignals() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start stays ignored: nohup, or a shell's
    // background job, means the run is not to be stopped by it.
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      setAction(signal, onStopSignal);
    }
  }
}

bool stopRequested() { return caughtSignal.load() != 0; }

StopSignalsBlocked::StopSignalsBlocked() {
  const sigset_t signals = stopSignals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopSignalsBlocked::~StopSignalsBlocked() {
  const sigset_t signals = stopSignals();
  ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

void endAsStopped() {
  const int signal = caughtSignal.load();
  setAction(signal, SIG_DFL);
  ::raise(signal);
  // Only a signal that cannot end the process comes back here.
  std::_Exit(128 + signal);
}

}  // namespace tsa
