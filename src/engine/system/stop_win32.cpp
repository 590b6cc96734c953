// Stop events on Windows: Ctrl-C, Ctrl-Break and the console window closing,
// through SetConsoleCtrlHandler.
#include <windows.h>

#include <atomic>

#include "engine/system/stop.h"

namespace tsa {
namespace {

// What a program stopped by Ctrl-C ends with.
constexpr UINT controlCExit = 0xC000013A;

std::atomic<bool> caught{false};
HANDLE copyThread = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (caught.exchange(true)) {
    ::ExitProcess(controlCExit);  // a second event while stopping
  }
  // A read waiting on a pipe returns, so the copy sees the flag.
  if (copyThread != nullptr) {
    ::CancelSynchronousIo(copyThread);
  }
  if (event == CTRL_CLOSE_EVENT) {
    // Windows ends the process as soon as this returns; the copy thread ends
    // it first, once the output holds whole frames.
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void ignoreBrokenPipes() {
  // A write to a pipe whose reader has gone fails on Windows anyway.
}

void catchStopSignals() {
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &copyThread,
                    0, FALSE, DUPLICATE_SAME_ACCESS);
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested() { return caught.load(); }

// Console events arrive on a thread of their own, not on any of the tool's.
StopSignalsBlocked::StopSignalsBlocked() = default;
StopSignalsBlocked::~StopSignalsBlocked() = default;

void endAsStopped() { ::ExitProcess(controlCExit); }

}  // namespace tsa
