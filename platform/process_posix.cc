// Interrupts, the temporary files they remove, and the directory lock on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/temporaries.h"

namespace compactor {

namespace {

// The temporary files an interrupt removes. A slot's name is written only while it is not in use
// and read by the handler only while it is, so the handler never sees half a name.
struct TemporarySlot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kSlots = 16;
TemporarySlot g_slots[kSlots];

void (*g_on_interrupt)(int) = nullptr;

// The signals that end a process by default and that a handler can catch: each removes the
// temporary files before the run ends. Not among them: SIGKILL and SIGSTOP, which cannot be
// caught; SIGXFSZ, ignored; SIGSEGV, SIGBUS, SIGFPE and SIGILL, the faults of the process's own
// memory or instructions, left to their default (docs/decisions.md).
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
    SIGPIPE,   SIGPROF, SIGVTALRM, SIGXCPU, SIGABRT, SIGTRAP, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Those signals, with the real-time ones the system leaves to programs (all end a process).
sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndingSignals) sigaddset(&set, sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
#endif
  return set;
}

void handle_interrupt(int sig) {
  remove_temporary_files();
  end_wait();  // the terminal's line is left as it was found
  if (g_on_interrupt != nullptr) g_on_interrupt(sig);
  end_by_signal(sig);
}

// How deep InterruptsHeld is nested, and the signal mask the outermost one found.
int held_depth = 0;
sigset_t mask_before_held;

}  // namespace

int register_temporary(const std::string& path) {
  if (path.size() >= sizeof g_slots[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    TemporarySlot& slot = g_slots[i];
    if (slot.used.load(std::memory_order_acquire)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void forget_temporary(int registration) {
  if (registration < 0 || registration >= kSlots) return;
  g_slots[registration].used.store(false, std::memory_order_release);
}

// Called from the signal handler: unlink only.
void remove_temporary_files() {
  for (TemporarySlot& slot : g_slots) {
    if (!slot.used.load(std::memory_order_acquire)) continue;
    ::unlink(slot.path);
    slot.used.store(false, std::memory_order_release);
  }
}

int64_t current_process_id() {
  return static_cast<int64_t>(::getpid());
}

bool process_is_running(int64_t pid) {
  if (pid <= 0 || pid > INT_MAX) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void install_interrupt_handlers(void (*on_interrupt)(int signal_number)) {
  g_on_interrupt = on_interrupt;
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = handle_interrupt;
  action.sa_mask = ending_signals();
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&action.sa_mask, sig) != 1) continue;
    // A signal ignored by whoever started the run (nohup, a background job, a parent that
    // ignores SIGPIPE) stays ignored.
    struct sigaction old = {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
}

void end_by_signal(int signal_number) {
  ::signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);
}

// Every handled signal waits while one lives; the outermost gives back the mask it found, so
// that a signal the caller blocked stays blocked.
InterruptsHeld::InterruptsHeld() {
  if (held_depth++ > 0) return;
  sigset_t set = ending_signals();
  ::sigprocmask(SIG_BLOCK, &set, &mask_before_held);
}

InterruptsHeld::~InterruptsHeld() {
  if (--held_depth > 0) return;
  ::sigprocmask(SIG_SETMASK, &mask_before_held, nullptr);
}

// --- The directory lock -------------------------------------------------------------------------

DirectoryLock::~DirectoryLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

LockOutcome DirectoryLock::try_take(const std::string& dir, LockMode mode) {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  dir_ = dir;
  mode_ = mode;
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LockOutcome::kUnavailable;
  handle_ = fd;
  const int operation = (mode == LockMode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (;;) {
    if (::flock(fd, operation) == 0) return LockOutcome::kTaken;
    if (errno == EWOULDBLOCK) return LockOutcome::kBusy;
    if (errno != EINTR) break;
  }
  ::close(fd);
  handle_ = -1;
  return LockOutcome::kUnavailable;
}

LockOutcome DirectoryLock::wait() {
  if (handle_ < 0) return LockOutcome::kUnavailable;
  const int fd = static_cast<int>(handle_);
  const int operation = mode_ == LockMode::kExclusive ? LOCK_EX : LOCK_SH;
  for (;;) {
    if (::flock(fd, operation) == 0) return LockOutcome::kTaken;
    if (errno != EINTR) break;
  }
  ::close(fd);
  handle_ = -1;
  return LockOutcome::kUnavailable;
}

}  // namespace compactor
