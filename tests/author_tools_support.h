// Helpers for the tests of the authoring commands (check, dump, plot): scratch directories,
// running the program as a child process, and the default scenario compiled once.
#pragma once
// POSIX only (mkdtemp, fork, waitpid): the Windows test build leaves these tests out.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/build_run.h"
#include "model/model.h"

namespace compactor::author_test {

namespace fs = std::filesystem;

inline const std::string kLineSource = "QUELDRANO 2_linea.txt";
inline const std::string kTrainSource = "QUELDRANO 2_555-.txt";
inline const std::string kRecords = "QUELDRANO 2_555.sim";
inline const std::string kGrid = "QUELDRANO 2_555.dat";
inline const std::string kLine = "QUELDRANO 2_linea.dat";

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "compactor-author-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Every file of a directory with its bytes.
inline std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& n : names) out.emplace_back(n, read_bytes(dir / n));
  return out;
}

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs the compactor with these arguments, stdin empty, stdout and stderr captured.
inline ProgramRun run_compactor(const std::vector<std::string>& args) {
  TempDir scratch;
  const std::string out_path = scratch.file("stdout");
  const std::string err_path = scratch.file("stderr");
  std::vector<std::string> argv_store = {COMPACTOR_BINARY};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  ProgramRun r;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
    ADD_FAILURE() << "cannot run " << COMPACTOR_BINARY;
    return r;
  }
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = read_bytes(out_path);
  r.err = read_bytes(err_path);
  return r;
}

// A directory that holds the outputs of the default build run, made once for all tests.
inline const TempDir& default_run() {
  static TempDir dir;
  static const bool made = [] {
    ProgramRun r = run_compactor({"--dir", dir.str(), "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    return true;
  }();
  (void)made;
  return dir;
}

// The default scenario compiled in memory from the writers' sources, as the build run does.
inline const Model& default_model() {
  static Model model;
  static const bool made = [] {
    TempDir dir;
    RunOptions opts;
    opts.dir = dir.str();
    opts.quiet = true;
    opts.write_outputs = false;
    EXPECT_EQ(write_sources(opts), 0);
    EXPECT_EQ(memorizza_percorso(model, opts), 0);
    return true;
  }();
  (void)made;
  return model;
}

}  // namespace compactor::author_test

#endif  // _WIN32
