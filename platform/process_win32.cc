// Interrupts, the temporary files they remove, and the directory lock on Windows. The console's
// Ctrl-C handler runs in a thread of its own: it takes the registry's lock, removes the files and
// ends the process while holding it, so the run can neither make a new temporary file after the
// files are removed nor be ended between the renames of an output set (StagedFiles::commit holds
// the same lock).
#include "platform/text_win32.h"

#include <string>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/temporaries.h"

namespace compactor {

namespace {

// The registry's lock: a critical section, which the thread that holds it may take again.
CRITICAL_SECTION& registry_lock() {
  static CRITICAL_SECTION* lock = [] {
    static CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return &section;
  }();
  return *lock;
}

constexpr int kSlots = 16;
std::wstring g_temporaries[kSlots];
bool g_used[kSlots] = {};

void (*g_on_interrupt)(int) = nullptr;

int signal_of_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return kSigInt;
    case CTRL_CLOSE_EVENT:
      return kSigHup;
    default:
      return kSigTerm;
  }
}

BOOL WINAPI handle_console_event(DWORD event) {
  EnterCriticalSection(&registry_lock());  // held until the process ends
  remove_temporary_files();
  const int sig = signal_of_event(event);
  if (g_on_interrupt != nullptr) g_on_interrupt(sig);
  end_by_signal(sig);
}

// The lock file a run holds in a directory while it works: opened without the sharing the other
// runs ask for, and deleted by the system when its last handle is closed.
constexpr wchar_t kLockFileName[] = L"compactor.lock";

}  // namespace

int register_temporary(const std::string& path) {
  EnterCriticalSection(&registry_lock());
  int found = -1;
  for (int i = 0; i < kSlots && found < 0; ++i) {
    if (g_used[i]) continue;
    g_temporaries[i] = to_wide(path);
    g_used[i] = true;
    found = i;
  }
  LeaveCriticalSection(&registry_lock());
  return found;
}

void forget_temporary(int registration) {
  if (registration < 0 || registration >= kSlots) return;
  EnterCriticalSection(&registry_lock());
  g_used[registration] = false;
  LeaveCriticalSection(&registry_lock());
}

void remove_temporary_files() {
  EnterCriticalSection(&registry_lock());
  for (int i = 0; i < kSlots; ++i) {
    if (!g_used[i]) continue;
    // The file may still be open for writing: it goes when that handle is closed.
    DeleteFileW(g_temporaries[i].c_str());
    g_used[i] = false;
  }
  LeaveCriticalSection(&registry_lock());
}

int64_t current_process_id() {
  return static_cast<int64_t>(GetCurrentProcessId());
}

bool process_is_running(int64_t pid) {
  if (pid <= 0 || pid > 0xFFFFFFFFll) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

void install_interrupt_handlers(void (*on_interrupt)(int signal_number)) {
  g_on_interrupt = on_interrupt;
  registry_lock();
  SetConsoleCtrlHandler(handle_console_event, TRUE);
}

// TerminateProcess, not ExitProcess: the run's other thread may hold the C runtime's locks, which
// ExitProcess's clean-up would wait for; a process a signal ends flushes nothing either.
void end_by_signal(int signal_number) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + signal_number));
  for (;;) Sleep(INFINITE);
}

InterruptsHeld::InterruptsHeld() {
  EnterCriticalSection(&registry_lock());
}

InterruptsHeld::~InterruptsHeld() {
  LeaveCriticalSection(&registry_lock());
}

// --- The directory lock -------------------------------------------------------------------------

DirectoryLock::~DirectoryLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

LockOutcome DirectoryLock::try_take(const std::string& dir, LockMode mode) {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  dir_ = dir;
  mode_ = mode;
  // Shared holders read and share reading; the exclusive one also writes and shares nothing.
  const bool exclusive = mode == LockMode::kExclusive;
  const DWORD access = GENERIC_READ | DELETE | (exclusive ? GENERIC_WRITE : 0);
  const DWORD sharing = exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_DELETE;
  const std::wstring path = to_wide(join_path(dir, "")) + kLockFileName;
  HANDLE h = CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    handle_ = reinterpret_cast<intptr_t>(h);
    return LockOutcome::kTaken;
  }
  const DWORD err = GetLastError();
  if (err == ERROR_SHARING_VIOLATION) return LockOutcome::kBusy;
  // A lock file on its way out (deleted, another holder still has it open) refuses access.
  if (err == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return LockOutcome::kBusy;
  }
  return LockOutcome::kUnavailable;
}

LockOutcome DirectoryLock::wait() {
  for (;;) {
    LockOutcome outcome = try_take(dir_, mode_);
    if (outcome != LockOutcome::kBusy) return outcome;
    Sleep(50);
  }
}

}  // namespace compactor
