// SIGINT, SIGTERM and SIGHUP: the signals that end a run or a call. Blocked
// around steps that must not stop half-way (replacing a file, holding a
// lock file), so that a signal waits until the step is done.
#pragma once
#include <signal.h>

// Blocks the three signals; *old receives the mask to restore.
inline void BlockEndingSignals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, old);
}
inline void RestoreSignalMask(const sigset_t& old) { sigprocmask(SIG_SETMASK, &old, nullptr); }
