// Children started and watched while they run (POSIX only: fork, kill, setrlimit): for the tests
// that signal the program, run two at once or limit its memory.
#pragma once
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace compactor::test {

// How a child is started beyond its program and arguments.
struct Launch {
  rlim_t file_size_limit = 0;      // RLIMIT_FSIZE in bytes; 0: none
  bool ignore_sigxfsz = false;     // else the default: the write past the limit ends the child
  bool ignore_sigpipe = false;     // as a parent that ignores SIGPIPE leaves it to its children
  rlim_t address_space_limit = 0;  // RLIMIT_AS in bytes; 0: none
  int umask = -1;                  // the child's umask; -1: the test's own
  std::string stdin_path;          // where stdin comes from; "": /dev/null
  std::string stdout_path;         // where stdout goes; "": captured into Result::out
  bool stdout_reader_gone = false; // or a pipe whose reading end is closed
  // Signals set to be ignored, and signals blocked, when the program starts.
  std::vector<int> ignored_signals;
  std::vector<int> blocked_signals;
};

// A child process that runs while the test watches it. Killed (SIGKILL) and reaped when it is
// destroyed still running, so that no test leaves one behind.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args,
        const Launch& launch = {}) {
    captured_ = launch.stdout_path.empty() && !launch.stdout_reader_gone;
    out_path_ = launch.stdout_path.empty() ? scratch_.file("stdout") : launch.stdout_path;
    err_path_ = scratch_.file("stderr");
    std::vector<std::string> store = {program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The mask is set before the fork, so that a signal sent as soon as the child exists waits.
    sigset_t blocked, before;
    sigemptyset(&blocked);
    for (int sig : launch.blocked_signals) sigaddset(&blocked, sig);
    sigprocmask(SIG_BLOCK, &blocked, &before);
    pid_ = fork();
    if (pid_ == 0) {
      sigprocmask(SIG_SETMASK, &blocked, nullptr);
      start(launch, argv);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (pid_ < 0) ADD_FAILURE() << "cannot run " << program;
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::kill(pid_, SIGCONT);
      int wstatus = 0;
      waitpid(pid_, &wstatus, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int sig) const { ::kill(pid_, sig); }

  // Whether it still runs (a stopped child runs); reaps it when it has ended.
  bool running() {
    if (ended_) return false;
    int wstatus = 0;
    if (waitpid(pid_, &wstatus, WNOHANG) == 0) return true;
    record(wstatus);
    return false;
  }

  // Waits for its end, at most `timeout_seconds` (then it is killed and the test fails), and
  // gives its status and output.
  Result wait(int timeout_seconds = 60) {
    for (int waited_ms = 0; running(); waited_ms += 2) {
      if (waited_ms >= timeout_seconds * 1000) {
        ADD_FAILURE() << "the child ran longer than " << timeout_seconds << " s: killed";
        ::kill(pid_, SIGKILL);
        ::kill(pid_, SIGCONT);
      }
      usleep(2000);
    }
    if (captured_) result_.out = read_bytes(out_path_);
    result_.err = read_bytes(err_path_);
    return result_;
  }

  // What it has written on stderr so far.
  std::string err_so_far() const { return read_bytes(err_path_); }

 private:
  [[noreturn]] void start(const Launch& launch, std::vector<char*>& argv) {
    int in_fd =
        open(launch.stdin_path.empty() ? "/dev/null" : launch.stdin_path.c_str(), O_RDONLY);
    int out_fd = -1;
    if (int ends[2]; !launch.stdout_reader_gone) {
      out_fd = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else if (pipe(ends) == 0) {
      close(ends[0]);
      out_fd = ends[1];
    }
    int err_fd = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(scratch_.path().c_str()) != 0) _exit(127);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    auto limit = [](int resource, rlim_t value) {
      struct rlimit l = {value, value};
      if (value > 0 && setrlimit(resource, &l) != 0) _exit(126);
    };
    limit(RLIMIT_FSIZE, launch.file_size_limit);
    limit(RLIMIT_AS, launch.address_space_limit);
    ::signal(SIGXFSZ, launch.ignore_sigxfsz ? SIG_IGN : SIG_DFL);
    ::signal(SIGPIPE, launch.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    for (int sig : launch.ignored_signals) ::signal(sig, SIG_IGN);
    struct rlimit no_core = {0, 0};  // a signal that dumps core leaves no core file
    setrlimit(RLIMIT_CORE, &no_core);
    if (launch.umask >= 0) ::umask(static_cast<mode_t>(launch.umask));
    execv(argv[0], argv.data());
    _exit(127);
  }
  void record(int wstatus) {
    ended_ = true;
    if (WIFEXITED(wstatus)) result_.exit_status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result_.signal = WTERMSIG(wstatus);
  }

  ScratchDir scratch_;
  bool captured_ = true;  // stdout went to a file of the child's own
  std::string out_path_;
  std::string err_path_;
  pid_t pid_ = -1;
  bool ended_ = false;
  Result result_;
};

// The compactor built with the tests, as a Child.
inline std::unique_ptr<Child> start_compactor(const std::vector<std::string>& args,
                                              const Launch& launch = {}) {
  return std::make_unique<Child>(COMPACTOR_BINARY, args, launch);
}

}  // namespace compactor::test

#endif  // _WIN32
