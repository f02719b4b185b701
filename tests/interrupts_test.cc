// The interrupt handlers and InterruptsHeld on POSIX systems, each case in a child process of its
// own (the handlers end the process). tests/failing_disk_test.cc signals the program itself.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

// Every signal that ends a process by default and that the program handles.
std::vector<int> handled_signals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                              SIGPIPE, SIGVTALRM, SIGPROF, SIGXCPU, SIGABRT, SIGTRAP, SIGSYS};
#ifdef __linux__
  signals.insert(signals.end(), {SIGPOLL, SIGPWR, SIGSTKFLT});
#endif
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) signals.push_back(sig);
  return signals;
}

void say(const char* text) {
  if (::write(STDOUT_FILENO, text, strlen(text)) < 0) _exit(126);
}

// While InterruptsHeld lives (as it does while StagedFiles::commit renames a set), a signal
// waits; once it is gone the signal removes the temporary files and ends the process by itself.
TEST(Interrupts, EveryHandledSignalWaitsWhileHeld) {
  for (int sig : handled_signals()) {
    SCOPED_TRACE(strsignal(sig));
    test::ScratchDir scratch;
    const std::string path = scratch.file("out.dat");
    test::Result r = test::run_in_child([&] {
      struct rlimit no_core = {0, 0};  // SIGQUIT, SIGABRT and others dump core by default
      setrlimit(RLIMIT_CORE, &no_core);
      install_interrupt_handlers(end_by_signal);
      StagedFiles staged;
      if (!staged.add(path, "new").ok) return 1;
      {
        InterruptsHeld held;
        ::raise(sig);
        say("held\n");
      }
      say("not ended\n");
      return 0;
    });
    EXPECT_EQ(r.signal, sig) << "exit status " << r.exit_status;
    EXPECT_EQ(r.out, "held\n");
    EXPECT_TRUE(fs::is_empty(scratch.path())) << "a temporary file was left";
  }
}

// A set of signals as text, in order: "2 15 ".
std::string text_of(const std::set<int>& signals) {
  std::string text;
  for (int sig : signals) text += std::to_string(sig) + " ";
  return text;
}

std::set<int> blocked_now() {
  sigset_t set;
  sigprocmask(SIG_BLOCK, nullptr, &set);
  std::set<int> blocked;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&set, sig) == 1) blocked.insert(sig);
  }
  return blocked;
}

// A hold blocks every handled signal and gives back exactly the mask it found: what the caller
// blocked stays blocked, and nothing else is left blocked. Nested holds end with the outermost.
TEST(Interrupts, AHoldGivesBackTheMaskItFound) {
  const std::set<int> callers_masks[] = {{}, {SIGTERM, SIGINT}, {SIGUSR2, SIGRTMIN + 2, SIGCHLD}};
  for (const std::set<int>& caller : callers_masks) {
    SCOPED_TRACE(text_of(caller));
    test::Result r = test::run_in_child([&] {
      sigset_t set;
      sigemptyset(&set);
      for (int sig : caller) sigaddset(&set, sig);
      sigprocmask(SIG_SETMASK, &set, nullptr);
      install_interrupt_handlers(end_by_signal);
      {
        InterruptsHeld held;
        { InterruptsHeld inner; }
        say(("held: " + text_of(blocked_now()) + "\n").c_str());
      }
      say(("after: " + text_of(blocked_now()) + "\n").c_str());
      return 0;
    });
    std::set<int> held = caller;
    for (int sig : handled_signals()) held.insert(sig);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "held: " + text_of(held) + "\nafter: " + text_of(caller) + "\n");
  }
}

// A run interrupted while "Attendere" stands on the terminal erases it, so the shell's prompt does
// not follow the mark.
TEST(Interrupts, AnInterruptErasesTheWaitMark) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const std::string side = ptsname(terminal);
  test::Result r = test::run_in_child([&] {
    const int fd = ::open(side.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) return 126;
    install_interrupt_handlers(end_by_signal);
    begin_wait(false);
    ::raise(SIGINT);
    return 0;
  });
  EXPECT_EQ(r.signal, SIGINT);
  std::string shown(256, '\0');
  ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  const ssize_t n = ::read(terminal, shown.data(), shown.size());
  ::close(terminal);
  shown.resize(n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_EQ(shown, "\033[1mAttendere\033[0m\r\033[K");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
