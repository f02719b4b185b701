// For the tests that look at the program from outside: whole files read and written, a scratch
// directory, the names of the default scenario's files, and the compactor run as a child process.
#pragma once
// POSIX only (mkdtemp, fork, waitpid, setrlimit): the Windows test build leaves these tests out.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace compactor::child {

namespace fs = std::filesystem;

// The files of the default scenario: the two sources, the three further texts and the three
// binary outputs.
inline const std::string kLineSource = "QUELDRANO 2_linea.txt";
inline const std::string kTrainSource = "QUELDRANO 2_555-.txt";
inline const std::string kCard = "QUELDRANO 2_555_scheda_treno.txt";
inline const std::string kForm = "QUELDRANO 2_555_rallentamenti.txt";
inline const std::string kNotes = "QUELDRANO 2_555_note.txt";
inline const std::string kRecords = "QUELDRANO 2_555.sim";
inline const std::string kGrid = "QUELDRANO 2_555.dat";
inline const std::string kPlan = "QUELDRANO 2_linea.dat";

// The bytes of a file; "" when it cannot be read.
inline std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes the file hold exactly these bytes; a test failure when it cannot.
inline void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) ADD_FAILURE() << "cannot write " << p;
}

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "compactor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

struct Result {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the signal that ended it, if one did
  std::string out;       // what it wrote on stdout
  std::string err;       // what it wrote on stderr
};

// Runs `program` with these arguments in a scratch working directory, stdin on /dev/null, stdout
// and stderr captured. With file_size_limit > 0 no file the child writes can grow beyond that many
// bytes, as on a disk that fills up; SIGXFSZ is ignored, so the write that passes the limit fails
// with EFBIG.
inline Result run_program(const std::string& program, const std::vector<std::string>& args,
                          rlim_t file_size_limit = 0) {
  ScratchDir scratch;
  const std::string out_path = scratch.file("stdout");
  const std::string err_path = scratch.file("stderr");
  std::vector<std::string> store = {program};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(scratch.path().c_str()) != 0) _exit(127);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (file_size_limit > 0) {
      struct rlimit limit = {file_size_limit, file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      signal(SIGXFSZ, SIG_IGN);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  Result r;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
    ADD_FAILURE() << "cannot run " << program;
    return r;
  }
  if (WIFEXITED(wstatus)) r.exit_status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  r.out = read_bytes(out_path);
  r.err = read_bytes(err_path);
  return r;
}

// Runs the compactor built with the tests, as run_program does.
inline Result run_compactor(const std::vector<std::string>& args, rlim_t file_size_limit = 0) {
  return run_program(COMPACTOR_BINARY, args, file_size_limit);
}

// --- Children started and watched while they run ---------------------------------------------

// How a child is started beyond its program and arguments.
struct Launch {
  rlim_t file_size_limit = 0;      // RLIMIT_FSIZE in bytes; 0: none
  bool ignore_sigxfsz = false;     // else the default: the write past the limit ends the child
  bool ignore_sigpipe = false;     // as a parent that ignores SIGPIPE leaves it to its children
  rlim_t address_space_limit = 0;  // RLIMIT_AS in bytes; 0: none
  int umask = -1;                  // the child's umask; -1: the test's own
  std::string stdout_path;         // where stdout goes; "": captured into Result::out
  int stdout_fd = -1;              // or this descriptor (a pipe's end), when not -1
};

// A child process that runs while the test watches it. Killed (SIGKILL) and reaped when it is
// destroyed still running, so that no test leaves one behind.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args,
        const Launch& launch = {}) {
    captured_ = launch.stdout_path.empty() && launch.stdout_fd < 0;
    out_path_ = launch.stdout_path.empty() ? scratch_.file("stdout") : launch.stdout_path;
    err_path_ = scratch_.file("stderr");
    std::vector<std::string> store = {program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) start(launch, argv);
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
    int null_fd = open("/dev/null", O_RDONLY);
    int out_fd = launch.stdout_fd >= 0
                     ? launch.stdout_fd
                     : open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(scratch_.path().c_str()) != 0) _exit(127);
    dup2(null_fd, 0);
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

}  // namespace compactor::child

#endif  // _WIN32
