// Stopping a run from outside: Ctrl-C, termination and hang-up (on Windows
// Ctrl-C, Ctrl-Break and the console window closing), and an output pipe
// whose reader has gone.
//
// During the copy a stop signal only sets a flag, which the copy loop reads
// between frames, so that the output keeps whole frames; the process then
// ends the way the signal would have ended it. Before the copy, with no
// frame copied yet, a signal ends the process at once, as it always does.
#pragma once

namespace tsa {

/// Makes a write to a pipe whose reader has gone fail (EPIPE) instead of
/// ending the process, for the whole run.
void ignoreBrokenPipes();

/// From now on a stop signal asks the run to stop (see stopRequested). A
/// second one, while the run is stopping, ends the process at once.
void catchStopSignals();

/// True once a stop signal has arrived since catchStopSignals().
[[nodiscard]] bool stopRequested();

/// Keeps stop signals away from the calling thread while it lives, and so
/// from the threads it starts meanwhile: they reach the thread that copies
/// and wake it where it waits for a source.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;
};

/// Ends the process as the stop signal that arrived ends a program: on
/// POSIX systems with the signal's default action, raised again (a shell
/// then reports 128 plus its number); on Windows with the status of a
/// program stopped by Ctrl-C (0xC000013A). Called by main only, after the
/// console is flushed.
[[noreturn]] void endAsStopped();

}  // namespace tsa
