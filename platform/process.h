// The run as a process: what happens when it is interrupted, and the lock that keeps one run per
// directory. The mechanisms are here; app/ decides when to use them and what to print.
#pragma once

#include <cstdint>
#include <string>

namespace compactor {

// The signal numbers the program handles, the same on every platform (Windows has no signals:
// Ctrl-C is reported as kSigInt, Ctrl-Break and the closing of the console as the others).
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigPipe = 13;
constexpr int kSigTerm = 15;

// Installs the handlers of the interrupts that can be caught: on POSIX systems every signal that
// ends a process by default (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, the
// real-time signals and the others) but SIGKILL and the faults of the process's own memory or
// instructions (SIGSEGV, SIGBUS, SIGFPE, SIGILL); on Windows the console's Ctrl-C, Ctrl-Break and
// close events. A signal the caller set to be ignored stays ignored. Each handler removes this
// run's temporary files, then calls `on_interrupt`, which must end the process (end_by_signal)
// and may only do what is safe in a signal handler. SIGXFSZ is ignored, so that a file-size
// limit makes a write fail with EFBIG instead of ending the run.
void install_interrupt_handlers(void (*on_interrupt)(int signal_number));

// Ends the process as the signal would have, so that the caller sees it (a shell reports
// 128 + N); on Windows, exit status 128 + N.
[[noreturn]] void end_by_signal(int signal_number);

// Removes every temporary file this run has made and not yet renamed.
void remove_temporary_files();

// While one lives, the interrupts above wait (on POSIX systems: they are blocked); they are
// handled once it is gone, when the signal mask the caller had is given back as it was.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

enum class LockMode {
  kShared,     // for a run that only reads the directory
  kExclusive,  // for a run that writes or deletes there
};

enum class LockOutcome {
  kTaken,
  kBusy,         // another run holds it
  kUnavailable,  // the directory cannot be opened or locked: the run goes on without the lock
};

// An advisory lock on a directory (POSIX: flock on the directory itself; Windows: a lock file in
// it, opened without sharing and deleted when closed). The system releases it when the process
// ends, however it ends.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Takes the lock without waiting.
  LockOutcome try_take(const std::string& dir, LockMode mode);
  // After try_take said kBusy: waits until the lock is taken.
  LockOutcome wait();

 private:
  std::string dir_;
  LockMode mode_ = LockMode::kShared;
  intptr_t handle_ = -1;
};

}  // namespace compactor
