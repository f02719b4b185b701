// The program against a file system that fails it: a directory that does not exist, an output
// name taken by a directory, a disk that fills up in the middle of a write, a source too large to
// load. Each run ends with exit status 3 and a message naming the file; every file it did not
// finish keeps its old bytes, no temporary file is left, and no source is deleted.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/generate.h"
#include "platform/process.h"
#include "platform/server_io.h"
#include "tests/child_process.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::Contents;
using test::kCard;
using test::kForm;
using test::kGrid;
using test::kLineSource;
using test::kNotes;
using test::kPlan;
using test::kRecords;
using test::kTrainSource;
const std::set<std::string> kTexts = {kLineSource, kTrainSource, kCard, kForm, kNotes};

// The digests of the eight files of a successful build run: the two sources as `sources` writes
// them, and what the default build run left.
const std::map<std::string, std::string>& reference() {
  static const std::map<std::string, std::string> files = [] {
    test::ScratchDir texts;
    EXPECT_EQ(test::run_compactor({"sources", texts.str()}).exit_status, 0);
    std::map<std::string, std::string> all = test::snapshot(texts.path(), Contents::kDigest);
    for (const auto& [name, digest] :
         test::snapshot(test::default_run().dir.path(), Contents::kDigest)) {
      all[name] = digest;
    }
    return all;
  }();
  return files;
}

struct DiskCase {
  std::string name;
  bool compile;                                // compile the sources there, else the build run
  std::vector<std::string> options;            // further options of the run
  std::string subdirectory;                    // where the run is pointed, inside the scratch
  std::function<void(const fs::path&)> spoil;  // breaks the file system before the run
  rlim_t file_size_limit;                      // 0: none
  std::string message;                         // expected on stderr; DIR is the run's directory
  std::set<std::string> written;               // files that hold the new bytes afterwards
};

// Puts a directory, with a file in it, where the file `path` was.
void take_name(const fs::path& path) {
  fs::remove(path);
  fs::create_directory(path);
  test::write_bytes(path / "inside", "keep me");
}

// The three outputs are put in place together, once all are written: a run that fails in any of
// them leaves the three old ones.
std::vector<DiskCase> disk_cases() {
  return {
      {"build run into a directory that does not exist",
       false,
       {},
       "missing",
       nullptr,
       0,
       "compactor: cannot write DIR/" + kLineSource + ": ",
       {}},
      {"compile in a directory that does not exist",
       true,
       {},
       "missing",
       nullptr,
       0,
       ": the directory does not exist\n",
       {}},
      {"build run, grid output name taken by a directory",
       false,
       {},
       "",
       [](const fs::path& d) { take_name(d / kGrid); },
       0,
       "compactor: cannot write DIR/" + kGrid + ": ",
       kTexts},
      {"compile --delete-sources, grid output name taken by a directory",
       true,
       {"--delete-sources"},
       "",
       [](const fs::path& d) { take_name(d / kGrid); },
       0,
       "compactor: cannot write DIR/" + kGrid + ": ",
       {}},
      {"build run on a disk that fills up in the first text file",
       false,
       {},
       "",
       nullptr,
       4096,
       "compactor: cannot write DIR/" + kLineSource + ": ",
       {}},
      {"build run on a disk that fills up in the line output",
       false,
       {},
       "",
       nullptr,
       1 << 20,
       "compactor: cannot write DIR/" + kPlan + ": ",
       kTexts},
      {"compile --delete-sources on a disk that fills up in the line output",
       true,
       {"--delete-sources"},
       "",
       nullptr,
       1 << 20,
       "compactor: cannot write DIR/" + kPlan + ": ",
       {}},
      {"compile --no-plan --delete-sources on a disk that fills up in the grid output",
       true,
       {"--no-plan", "--delete-sources"},
       "",
       nullptr,
       16 << 10,
       "compactor: cannot write DIR/" + kGrid + ": ",
       {}},
      {"compile with a line source larger than 64 MiB",
       true,
       {"--delete-sources"},
       "",
       [](const fs::path& d) { fs::resize_file(d / kLineSource, (64u << 20) + 1); },
       0,
       "compactor: cannot read DIR/" + kLineSource + ": larger than 64 MiB",
       {}},
  };
}

TEST(FailingDisk, EndsWithStatus3AndLosesNoFile) {
  const auto& ref = reference();
  ASSERT_EQ(ref.size(), 8u);
  for (const DiskCase& c : disk_cases()) {
    SCOPED_TRACE(c.name);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    // What an earlier run and the author left: older outputs, and the sources for a compile.
    for (const std::string& out : {kPlan, kRecords, kGrid}) {
      test::write_bytes(d / out, "previous " + out);
    }
    if (c.compile) {
      ASSERT_EQ(test::run_compactor({"sources", d.string()}).exit_status, 0);
      for (const std::string& t : {kCard, kForm, kNotes}) fs::remove(d / t);
    }
    if (c.spoil) c.spoil(d);
    const auto before = test::snapshot(d, Contents::kDigest);

    const fs::path dir = c.subdirectory.empty() ? d : d / c.subdirectory;
    std::vector<std::string> args;
    if (c.compile) {
      args = {"compile", dir.string(), "-q"};
    } else {
      args = {"--dir", dir.string(), "-q"};
    }
    args.insert(args.end(), c.options.begin(), c.options.end());
    test::Result r = test::run_compactor(args, c.file_size_limit);

    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_EQ(r.exit_status, 3) << r.err;
    std::string message = c.message;
    if (size_t at = message.find("DIR"); at != std::string::npos) {
      message.replace(at, 3, dir.string());
    }
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected: " << message << "\n" << r.err;

    const auto after = test::snapshot(d, Contents::kDigest);
    for (const auto& [name, state] : after) {
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << "temporary file left: " << name;
      if (c.written.count(name) != 0) {
        EXPECT_EQ(state, ref.at(name)) << name << " is not the new file";
      } else if (before.count(name) == 0) {
        ADD_FAILURE() << "new file " << name;
      } else {
        EXPECT_EQ(state, before.at(name)) << name << " changed";
      }
    }
    for (const auto& [name, state] : before) {
      EXPECT_EQ(after.count(name), 1u) << name << " was deleted";
    }
  }
}

// --- Interrupts, runs at once, and what stands beside the run -----------------------------------
// The runs below compile the generated 1,000,000 m scenario, whose line output (20 MB) takes long
// enough to write that a test can stop the run in the middle of it: it polls the directory for the
// line output's temporary file and stops the run with SIGSTOP, then does what it tests while the
// run stands still. A run that ends before it is caught is started again.

// A file's size and fingerprint: short enough to keep for a large file.
std::string digest(const std::string& bytes) {
  return std::to_string(bytes.size()) + ":" + std::to_string(test::fingerprint(bytes));
}

bool is_temporary(const std::string& name) {
  return name.find(".tmp") != std::string::npos;
}

std::vector<std::string> temporaries(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (is_temporary(e.path().filename().string())) found.push_back(e.path().filename().string());
  }
  return found;
}

// The generated scenario's sources, and the three outputs its compile gives.
struct LargeScenario {
  std::string line;
  std::string train;
  std::map<std::string, std::string> outputs;  // name -> digest
};

const LargeScenario& large_scenario() {
  static const LargeScenario scenario = [] {
    LargeScenario s;
    bench::GeneratedSources sources = bench::generate_scenario(bench::ScenarioShape{});
    s.line = sources.line;
    s.train = sources.train;
    test::ScratchDir d;
    test::write_bytes(d.path() / kLineSource, s.line);
    test::write_bytes(d.path() / kTrainSource, s.train);
    test::Result r = test::run_compactor({"compile", d.str(), "-q"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    for (const std::string& out : {kPlan, kRecords, kGrid}) {
      s.outputs[out] = digest(test::read_bytes(d.path() / out));
    }
    return s;
  }();
  return scenario;
}

// The large scenario's sources in dir, beside three older outputs.
void prepare_large(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  test::write_bytes(dir / kLineSource, large_scenario().line);
  test::write_bytes(dir / kTrainSource, large_scenario().train);
  for (const std::string& out : {kPlan, kRecords, kGrid}) {
    test::write_bytes(dir / out, "previous " + out);
  }
}

// Which set of outputs stands in dir: "old", "new" (the large scenario's) or "mixed".
std::string output_set(const fs::path& dir) {
  int old_ones = 0, new_ones = 0;
  for (const std::string& out : {kPlan, kRecords, kGrid}) {
    const std::string bytes = test::read_bytes(dir / out);
    if (bytes == "previous " + out) ++old_ones;
    if (digest(bytes) == large_scenario().outputs.at(out)) ++new_ones;
  }
  return old_ones == 3 ? "old" : new_ones == 3 ? "new" : "mixed";
}

// Polls dir until the line output's temporary file appears, then stops the run there: true when
// the run stands stopped with that file still being written (or written and not yet renamed).
// False when the run ended first or went past it; the run then goes on to its end.
bool stop_while_writing_line_output(test::Child& run, const fs::path& dir) {
  const std::string prefix = kPlan + ".tmp-";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto line_output_temporary = [&] {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().filename().string().rfind(prefix, 0) == 0) return true;
    }
    return false;
  };
  while (run.running() && std::chrono::steady_clock::now() < deadline) {
    if (!line_output_temporary()) continue;
    run.signal(SIGSTOP);
    if (line_output_temporary()) return true;
    run.signal(SIGCONT);
    return false;
  }
  return false;
}

constexpr int kAttempts = 20;

// SIGINT, SIGTERM and SIGHUP in the middle of the line output: the run removes its temporary
// files and ends by the signal (a shell shows 128 + N); the outputs are the old set or the new
// one, never a mix, and no source is deleted.
TEST(FailingDisk, InterruptWhileWritingLeavesOneSetAndNoTemporaryFile) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    bool caught = false;
    for (int attempt = 0; attempt < kAttempts && !caught; ++attempt) {
      prepare_large(d);
      auto run = test::start_compactor({"compile", d.string(), "-q", "--delete-sources"});
      caught = stop_while_writing_line_output(*run, d);
      if (caught) {
        run->signal(sig);
        run->signal(SIGCONT);
      }
      test::Result r = run->wait();
      if (!caught) continue;
      EXPECT_EQ(r.signal, sig) << "exit status " << r.exit_status << ": " << r.err;
      EXPECT_TRUE(temporaries(d).empty()) << temporaries(d).front();
      EXPECT_NE(output_set(d), "mixed");
      EXPECT_EQ(test::read_bytes(d / kLineSource), large_scenario().line);
      EXPECT_EQ(test::read_bytes(d / kTrainSource), large_scenario().train);
    }
    EXPECT_TRUE(caught) << "no run was caught writing its line output in " << kAttempts;
  }
}

// The signals that end a run by default, besides SIGINT, SIGTERM and SIGHUP, that a handler can
// catch. Not among them: SIGKILL, SIGXFSZ (ignored: a write past a file-size limit fails) and
// SIGSEGV, SIGBUS, SIGFPE and SIGILL, the faults of the run's own memory or instructions.
std::vector<int> other_ending_signals() {
  std::vector<int> signals = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGVTALRM,
                              SIGPROF, SIGXCPU, SIGABRT, SIGTRAP, SIGSYS};
#ifdef __linux__
  signals.insert(signals.end(), {SIGPOLL, SIGPWR, SIGSTKFLT});
#endif
  signals.insert(signals.end(), {SIGRTMIN, SIGRTMIN + 1, SIGRTMAX});
  return signals;
}

// Stops a `compile --delete-sources` of the large scenario in d while it writes its line output,
// sends it `signals` and lets it go on. The result of the first run caught there; nullopt when
// none was in kAttempts.
std::optional<test::Result> signal_while_writing(const fs::path& d, const std::vector<int>& signals,
                                                 const test::Launch& launch = {}) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    prepare_large(d);
    auto run = test::start_compactor({"compile", d.string(), "-q", "--delete-sources"}, launch);
    const bool caught = stop_while_writing_line_output(*run, d);
    if (caught) {
      for (int sig : signals) run->signal(sig);
      run->signal(SIGCONT);
    }
    test::Result r = run->wait();
    if (caught) return r;
  }
  return std::nullopt;
}

// Every other signal that would end the run removes its temporary files first, and the run ends
// by it; the outputs are one set and no source is deleted.
TEST(FailingDisk, EverySignalThatEndsARunRemovesItsTemporaryFiles) {
  for (int sig : other_ending_signals()) {
    SCOPED_TRACE(strsignal(sig));
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    std::optional<test::Result> r = signal_while_writing(d, {sig});
    ASSERT_TRUE(r) << "no run was caught writing its line output in " << kAttempts;
    EXPECT_EQ(r->signal, sig) << "exit status " << r->exit_status << ": " << r->err;
    EXPECT_TRUE(temporaries(d).empty()) << temporaries(d).front();
    EXPECT_NE(output_set(d), "mixed");
    EXPECT_EQ(test::read_bytes(d / kLineSource), large_scenario().line);
    EXPECT_EQ(test::read_bytes(d / kTrainSource), large_scenario().train);
  }
}

// A signal that whoever started the run set to be ignored (nohup, a parent that ignores SIGPIPE)
// stays ignored: all of them sent in the middle of the run change nothing.
TEST(FailingDisk, SignalsTheCallerIgnoresStayIgnored) {
  std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP};
  for (int sig : other_ending_signals()) signals.push_back(sig);
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  test::Launch launch;
  launch.ignored_signals = signals;
  std::optional<test::Result> r = signal_while_writing(d, signals, launch);
  ASSERT_TRUE(r) << "no run was caught writing its line output in " << kAttempts;
  EXPECT_EQ(r->signal, 0);
  EXPECT_EQ(r->exit_status, 0) << r->err;
  EXPECT_TRUE(temporaries(d).empty()) << temporaries(d).front();
  EXPECT_EQ(output_set(d), "new");
  EXPECT_FALSE(fs::exists(d / kTrainSource));
}

// Signals that the caller blocked stay blocked for the whole run: SIGTERM and SIGINT sent as it
// starts wait, and the run goes to its end, with its whole listing and the sources deleted.
TEST(FailingDisk, SignalsTheCallerBlockedWaitForTheWholeRun) {
  struct Case {
    std::vector<std::string> args;  // D: the directory, which holds the five texts for compile
    bool sources_first;
    size_t lines;  // of the listing
  };
  const Case cases[] = {
      {{"--dir", "D", "-v"}, false, 10},
      {{"compile", "D", "-v", "--delete-sources"}, true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    if (c.sources_first) {
      ASSERT_EQ(test::run_compactor({"sources", d.string()}).exit_status, 0);
    }
    std::vector<std::string> args = c.args;
    args[1] = d.string();
    test::Launch launch;
    launch.blocked_signals = {SIGTERM, SIGINT};
    auto run = test::start_compactor(args, launch);
    run->signal(SIGTERM);
    run->signal(SIGINT);
    test::Result r = run->wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), c.lines) << r.out;
    const std::string last = "read and deleted " + (d / kTrainSource).string() + "\n";
    EXPECT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), last.size())), last);
    const auto after = test::snapshot(d, Contents::kDigest);
    EXPECT_EQ(after.size(), 6u);
    for (const auto& [name, state] : after) EXPECT_EQ(state, reference().at(name)) << name;
  }
}

// A run killed outright leaves its temporary files; the next run in that directory removes them,
// and only them: not one that a live process made, not one beside another file's name.
TEST(FailingDisk, NextRunRemovesWhatAKilledRunLeft) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  std::vector<std::string> left;
  for (int attempt = 0; attempt < kAttempts && left.empty(); ++attempt) {
    prepare_large(d);
    auto run = test::start_compactor({"compile", d.string(), "-q"});
    if (stop_while_writing_line_output(*run, d)) run->signal(SIGKILL);
    test::Result r = run->wait();
    if (r.signal == SIGKILL) left = temporaries(d);
  }
  ASSERT_FALSE(left.empty()) << "no killed run left a temporary file";
  const std::string live = kRecords + ".tmp-" + std::to_string(getpid()) + "-abc123";
  const std::string foreign = "notes.txt.tmp-999999999-abc123";
  const std::string without_process = kGrid + ".tmp-Ab1234";
  for (const std::string& name : {live, foreign, without_process}) {
    test::write_bytes(d / name, "not the run's");
  }

  test::Result r = test::run_compactor({"compile", d.string(), "-v"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  for (const std::string& name : left) {
    EXPECT_FALSE(fs::exists(d / name)) << name;
    EXPECT_NE(r.out.find("removed " + (d / name).string() + ", left by a run that was stopped\n"),
              std::string::npos)
        << r.out;
  }
  std::vector<std::string> after = temporaries(d);
  std::sort(after.begin(), after.end());
  std::vector<std::string> kept = {live, foreign, without_process};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(after, kept);
  EXPECT_EQ(output_set(d), "new");
}

// plot and view write their page beside other files too: what a killed run of theirs left beside
// the page goes when the page is next written, and a live process's file stays.
TEST(FailingDisk, APageReplacesWhatAKilledRunLeftBesideIt) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  ASSERT_EQ(test::run_compactor({"--dir", d.string(), "-q"}).exit_status, 0);
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::vector<std::string> pages = {"QUELDRANO 2_555.svg", "elsewhere.html"};
  for (const std::string& page : pages) {
    test::write_bytes(d / (page + ".tmp-" + std::to_string(ended) + "-abc123"), "left");
    test::write_bytes(d / (page + ".tmp-" + std::to_string(getpid()) + "-abc123"), "live");
  }
  EXPECT_EQ(test::run_compactor({"plot", d.string(), "-q"}).exit_status, 0);
  EXPECT_EQ(test::run_compactor({"view", d.string(), "-q", "-o", (d / pages[1]).string()})
                .exit_status,
            0);
  std::vector<std::string> after = temporaries(d);
  std::sort(after.begin(), after.end());
  std::vector<std::string> live;
  for (const std::string& page : pages) {
    live.push_back(page + ".tmp-" + std::to_string(getpid()) + "-abc123");
  }
  std::sort(live.begin(), live.end());
  EXPECT_EQ(after, live);
}

// The default SIGXFSZ would end the run silently at a file-size limit: it is ignored, and the
// write that passes the limit fails as on a full disk.
TEST(FailingDisk, FileSizeLimitIsAWriteFailureAlsoWithTheDefaultSigxfsz) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  test::Launch launch;
  launch.file_size_limit = 16 << 10;  // ulimit -f 16
  test::Result r = test::start_compactor({"--dir", d.string()}, launch)->wait();
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_EQ(r.err, "compactor: cannot write " + (d / kPlan).string() + ": File too large\n");
  EXPECT_TRUE(temporaries(d).empty());
  EXPECT_FALSE(fs::exists(d / kRecords));
}

// Two build runs in one directory at once, again and again: the second waits for the first, both
// succeed, and the directory holds what one run leaves.
TEST(FailingDisk, TwoRunsAtOnceBothSucceed) {
  const auto& ref = reference();
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    auto first = test::start_compactor({"--dir", d.string(), "-q"});
    auto second = test::start_compactor({"--dir", d.string(), "-q"});
    for (test::Child* run : {first.get(), second.get()}) {
      test::Result r = run->wait();
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_EQ(r.err, "");
    }
    const auto after = test::snapshot(d, Contents::kDigest);
    EXPECT_EQ(after.size(), 6u);
    for (const auto& [name, state] : after) EXPECT_EQ(state, ref.at(name)) << name;
  }
}

// While one run holds the directory, every command that works there fails at once with
// --no-wait, and waits without it, saying so after a second; it goes on once the first ends.
TEST(FailingDisk, ASecondRunWaitsOrWithNoWaitFailsAtOnce) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  std::unique_ptr<test::Child> holder;
  for (int attempt = 0; attempt < kAttempts && !holder; ++attempt) {
    prepare_large(d);
    holder = test::start_compactor({"compile", d.string(), "-q"});
    if (!stop_while_writing_line_output(*holder, d)) {
      holder->wait();
      holder.reset();
    }
  }
  ASSERT_TRUE(holder) << "no run was caught writing its line output";

  const std::string busy =
      "compactor: another run is working in " + d.string() + " (--no-wait: not waiting)\n";
  const std::vector<std::vector<std::string>> commands = {
      {"--dir", d.string()}, {"sources", d.string()}, {"compile", d.string()},
      {"check", d.string()}, {"plot", d.string()},    {"view", d.string()},
  };
  for (std::vector<std::string> args : commands) {
    SCOPED_TRACE(args[0]);
    args.push_back("--no-wait");
    test::Result r = test::start_compactor(args)->wait(10);
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.err, busy);
  }
  EXPECT_TRUE(holder->running());

  auto waiting = test::start_compactor({"compile", d.string()});
  const std::string message =
      "compactor: waiting for another run in " + d.string() + " to finish\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waiting->running() && waiting->err_so_far() != message &&
         std::chrono::steady_clock::now() < deadline) {
    usleep(10000);
  }
  EXPECT_TRUE(waiting->running());
  EXPECT_EQ(waiting->err_so_far(), message);
  holder->signal(SIGCONT);
  EXPECT_EQ(holder->wait().exit_status, 0);
  test::Result r = waiting->wait();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, message);
  EXPECT_TRUE(temporaries(d).empty());
  EXPECT_EQ(output_set(d), "new");
}

// A run that waited while a compile --delete-sources consumed the sources: a second compile has
// nothing left to do, a check still reports what stands there (JSON on stdout for --json).
struct WaitingRun {
  std::vector<std::string> args;  // after the directory
  int exit_status;
  std::string err_begins;  // `DIR` stands for the directory
  std::string out_holds;
};

TEST(FailingDisk, ARunThatWaitedFindsTheSourcesConsumed) {
  const std::vector<WaitingRun> runs = {
      {{"compile", "-q", "--delete-sources"},
       0,
       "compactor: nothing to compile in DIR: another run compiled and deleted the sources as "
       "this one started\n",
       ""},
      {{"check", "-q", "--json"}, 3, "", "\"code\": 101"},
      {{"check", "-q"},
       3,
       "compactor: another run compiled and deleted the sources in DIR as this check started\n"
       "DIR/QUELDRANO 2_linea.txt: error 101: the line source file does not exist\n",
       ""},
  };
  for (const WaitingRun& waiting : runs) {
    SCOPED_TRACE(waiting.args[0]);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    std::unique_ptr<test::Child> holder;
    for (int attempt = 0; attempt < kAttempts && !holder; ++attempt) {
      prepare_large(d);
      holder = test::start_compactor({"compile", d.string(), "-q", "--delete-sources"});
      if (!stop_while_writing_line_output(*holder, d)) {
        holder->wait();
        holder.reset();
      }
    }
    ASSERT_TRUE(holder) << "no run was caught writing its line output";
    std::vector<std::string> args = waiting.args;
    args.insert(args.begin() + 1, d.string());
    auto second = test::start_compactor(args);
    usleep(300000);
    EXPECT_TRUE(second->running());
    holder->signal(SIGCONT);
    EXPECT_EQ(holder->wait().exit_status, 0);
    test::Result r = second->wait();
    EXPECT_EQ(r.exit_status, waiting.exit_status);
    std::string err = waiting.err_begins;
    for (size_t at; (at = err.find("DIR")) != std::string::npos;) err.replace(at, 3, d.string());
    EXPECT_EQ(r.err.substr(0, err.size()), err) << r.err;
    if (waiting.err_begins.empty()) {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(r.out.find(waiting.out_holds), std::string::npos) << r.out;
    EXPECT_EQ(output_set(d), "new");
    EXPECT_FALSE(fs::exists(d / kLineSource));
  }
}

// A compile that finds no source when it starts is not one that met another run, however close
// after a compile that consumed them it comes, and whatever time its outputs carry: error 101.
TEST(FailingDisk, ACompileAfterTheSourcesWereConsumedFindsThemMissing) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(test::run_compactor({"sources", d.string(), "-q"}).exit_status, 0);
    ASSERT_EQ(test::run_compactor({"compile", d.string(), "-q", "--delete-sources"}).exit_status, 0);
    if (round % 2 == 1) {
      fs::last_write_time(d / test::kRecords,
                          fs::file_time_type::clock::now() + std::chrono::hours(1));
    }
    test::Result r = test::run_compactor({"compile", d.string(), "-q"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_NE(r.err.find("error 101: the line source file does not exist"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("another run"), std::string::npos) << r.err;
  }
}

// Sources removed by someone else while a compile waits, where no compile made outputs from them,
// are missing sources, not sources another run consumed.
TEST(FailingDisk, SourcesRemovedWhileACompileWaitsAreMissing) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  ASSERT_EQ(test::run_compactor({"sources", d.string(), "-q"}).exit_status, 0);
  auto lock = std::make_unique<DirectoryLock>();
  ASSERT_EQ(lock->try_take(d.string(), LockMode::kExclusive), LockOutcome::kTaken);
  auto run = test::start_compactor({"compile", d.string(), "-q", "--delete-sources"});
  usleep(300000);
  EXPECT_TRUE(run->running());
  fs::remove(d / kLineSource);
  fs::remove(d / kTrainSource);
  lock.reset();
  test::Result r = run->wait();
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_NE(r.err.find("error 101: the line source file does not exist"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("another run"), std::string::npos) << r.err;
}

// compile --delete-sources deletes a source only while it is still the file it read. What an
// editor or another program does to the train source between the reading and the deleting:
struct SourceChange {
  std::string name;
  std::function<void(const fs::path& train)> change;
  bool kept;  // the file stays, with a warning
};

std::vector<SourceChange> source_changes() {
  const std::string saved = "[generale]\r\n[fine]\r\n";
  return {
      {"saved as a new file renamed over it",
       [saved](const fs::path& train) {
         test::write_bytes(train.string() + ".new", saved);
         fs::rename(train.string() + ".new", train);
       },
       true},
      {"rewritten in place with the same size a second later",
       [](const fs::path& train) {
         std::string bytes = test::read_bytes(train);
         bytes[bytes.size() - 3] = 'X';
         const auto written = fs::last_write_time(train);
         test::write_bytes(train, bytes);
         fs::last_write_time(train, written + std::chrono::seconds(1));
       },
       true},
      {"deleted by someone else", [](const fs::path& train) { fs::remove(train); }, false},
      {"rewritten in place with the same size, its modification time set back",
       [](const fs::path& train) {
         std::string bytes = test::read_bytes(train);
         bytes[bytes.size() - 3] = 'X';
         const auto written = fs::last_write_time(train);
         test::write_bytes(train, bytes);
         fs::last_write_time(train, written);
       },
       true},
  };
}

TEST(FailingDisk, DeletesOnlyTheSourceItRead) {
  for (const SourceChange& c : source_changes()) {
    SCOPED_TRACE(c.name);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    const fs::path train = d / kTrainSource;
    bool caught = false;
    for (int attempt = 0; attempt < kAttempts && !caught; ++attempt) {
      prepare_large(d);
      auto run = test::start_compactor({"compile", d.string(), "-q", "--delete-sources"});
      caught = stop_while_writing_line_output(*run, d) && fs::exists(train);
      std::string expected;
      if (caught) {
        c.change(train);
        expected = test::read_bytes(train);
        run->signal(SIGCONT);
      }
      test::Result r = run->wait();
      if (!caught) continue;
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_FALSE(fs::exists(d / kLineSource)) << "the unchanged line source is deleted";
      EXPECT_EQ(fs::exists(train), c.kept);
      if (c.kept) {
        EXPECT_EQ(test::read_bytes(train), expected);
        EXPECT_EQ(r.err, "compactor: warning: kept " + train.string() +
                             ": it is not the file that was read (it changed or was replaced)\n");
      } else {
        EXPECT_EQ(r.err, "");
      }
      EXPECT_EQ(output_set(d), "new");
    }
    EXPECT_TRUE(caught) << "no run was caught writing its line output in " << kAttempts;
  }
}

// dump and plot whose output cannot be written: exit status 3 with the reason, or, for a reader
// that has gone, the quiet end SIGPIPE gives (also when SIGPIPE was ignored by the caller).
struct OutputCase {
  std::string name;
  std::vector<std::string> args;  // DIR is the directory of a build run's outputs
  std::string stdout_path;        // "": a pipe whose reader has gone
  rlim_t file_size_limit;
  bool ignore_sigpipe;
  int status;  // -1: ended by SIGPIPE
  std::string err;
};

// Whatever a command writes on stdout is checked: a listing, a report or a help cut short ends
// with status 3 and the reason, never as a success.
TEST(FailingDisk, StandardOutputThatCannotBeWrittenIsReported) {
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  ASSERT_EQ(test::run_compactor({"--dir", d.string(), "-q"}).exit_status, 0);
  const std::string full = "compactor: cannot write standard output: No space left on device\n";
  const std::string too_large = "compactor: cannot write standard output: File too large\n";
  const std::string listing = scratch.file("listing");
  const std::vector<OutputCase> cases = {
      {"dump of the records to /dev/full",
       {"dump", "DIR/" + kRecords},
       "/dev/full",
       0,
       false,
       3,
       full},
      {"dump --json of the grid to /dev/full",
       {"dump", "DIR/" + kGrid, "--json"},
       "/dev/full",
       0,
       false,
       3,
       full},
      {"plot's line to /dev/full", {"plot", "DIR"}, "/dev/full", 0, false, 3, full},
      {"check --json to /dev/full", {"check", "DIR", "--json"}, "/dev/full", 0, false, 3, full},
      {"the files sources -v lists, to /dev/full",
       {"sources", "DIR", "-v"},
       "/dev/full",
       0,
       false,
       3,
       full},
      {"--help to /dev/full", {"--help"}, "/dev/full", 0, false, 3, full},
      {"dump of the plan into a file that reaches the size limit",
       {"dump", "DIR/" + kPlan},
       listing,
       64 << 10,
       false,
       3,
       too_large},
      {"dump into a pipe whose reader has gone", {"dump", "DIR/" + kGrid}, "", 0, false, -1, ""},
      {"the same with SIGPIPE ignored", {"dump", "DIR/" + kGrid}, "", 0, true, -1, ""},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a.rfind("DIR", 0) == 0) a.replace(0, 3, d.string());
    }
    test::Launch launch;
    launch.stdout_path = c.stdout_path;
    launch.file_size_limit = c.file_size_limit;
    launch.ignore_sigpipe = c.ignore_sigpipe;
    launch.stdout_reader_gone = c.stdout_path.empty();
    auto run = test::start_compactor(args, launch);
    test::Result r = run->wait(10);
    if (c.status < 0) {
      EXPECT_EQ(r.signal, SIGPIPE) << "exit status " << r.exit_status;
    } else {
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.exit_status, c.status);
    }
    EXPECT_EQ(r.err, c.err);
  }
}

// The language server's replies that cannot be written: a full disk is told, status 3; an editor
// that has gone (a closed pipe) ends the server quietly, as an exit without shutdown does.
TEST(FailingDisk, LanguageServerOutputThatCannotBeWritten) {
  test::ScratchDir scratch;
  const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})";
  const std::string input = scratch.file("input");
  test::write_bytes(input, "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  struct Case {
    const char* name;
    std::string stdout_path;  // "": a pipe whose reader has gone
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"/dev/full", "/dev/full", 3,
       "compactor: cannot write standard output: No space left on device\n"},
      {"a pipe whose reader has gone", "", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Launch launch;
    launch.stdin_path = input;
    launch.stdout_path = c.stdout_path;
    launch.stdout_reader_gone = c.stdout_path.empty();
    auto run = test::start_compactor({"lsp"}, launch);
    test::Result r = run->wait(10);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.err, c.err);
  }
}

// An editor may hand the language server a non-blocking pipe: a reply larger than the pipe holds
// waits for the editor to read, and arrives whole.
TEST(FailingDisk, LanguageServerWaitsForANonBlockingOutput) {
  test::Result r = test::run_in_child([] {
    int ends[2];
    if (pipe(ends) != 0 || fcntl(ends[1], F_SETFL, O_NONBLOCK) != 0 ||
        dup2(ends[1], STDOUT_FILENO) < 0) {
      return 126;
    }
    close(ends[1]);
    const std::string reply(1 << 20, 'x');
    size_t arrived = 0;
    std::thread editor([&] {
      char buffer[4096];
      for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0; usleep(100)) arrived += n;
    });
    std::string reason;
    const bool written = write_standard_output(reply, reason);
    close(STDOUT_FILENO);
    editor.join();
    std::fprintf(stderr, "%s %zu %s", written ? "written" : "failed", arrived, reason.c_str());
    return 0;
  });
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "written 1048576 ");
}

// What stands at a name the program reads may be no regular file at all. It is refused at once,
// with what it is, or the system's own reason: a FIFO no longer makes the run wait for a writer,
// and a directory or a dangling link is no longer taken for a missing source.
struct ReasonCase {
  std::string name;
  std::function<void(const fs::path& d)> spoil;  // on a directory holding a build run's outputs
                                                 // and the two sources
  std::vector<std::string> args;                 // DIR: that directory
  std::string message;                           // all of stderr; DIR: that directory
};

std::vector<ReasonCase> reason_cases() {
  auto fifo = [](const std::string& name) {
    return [name](const fs::path& d) {
      fs::remove(d / name);
      ASSERT_EQ(mkfifo((d / name).c_str(), 0644), 0);
    };
  };
  auto directory = [](const std::string& name) {
    return [name](const fs::path& d) {
      fs::remove(d / name);
      fs::create_directory(d / name);
    };
  };
  const std::string fifo_reason = ": Is a FIFO, not a regular file\n";
  return {
      {"dump of a FIFO",
       fifo(kRecords),
       {"dump", "DIR/" + kRecords},
       "compactor: cannot read DIR/" + kRecords + fifo_reason},
      {"dump of a directory",
       directory(kRecords),
       {"dump", "DIR/" + kRecords},
       "compactor: cannot read DIR/" + kRecords + ": Is a directory\n"},
      {"dump of a device",
       nullptr,
       {"dump", "/dev/null", "--as", "sim"},
       "compactor: cannot read /dev/null: Is a character device, not a regular file\n"},
      {"plot with a FIFO as line output",
       fifo(kPlan),
       {"plot", "DIR"},
       "compactor: cannot read DIR/" + kPlan + fifo_reason},
      {"compile with a FIFO as line source",
       fifo(kLineSource),
       {"compile", "DIR"},
       "compactor: cannot read DIR/" + kLineSource + fifo_reason},
      {"compile with a directory as line source",
       directory(kLineSource),
       {"compile", "DIR"},
       "compactor: cannot read DIR/" + kLineSource + ": Is a directory\n"},
      {"compile with a directory as train source",
       directory(kTrainSource),
       {"compile", "DIR"},
       "compactor: cannot read DIR/" + kTrainSource + ": Is a directory\n"},
      {"compile with a dangling symbolic link as train source",
       [](const fs::path& d) {
         fs::remove(d / kTrainSource);
         fs::create_symlink(d / "gone.txt", d / kTrainSource);
       },
       {"compile", "DIR"},
       "compactor: cannot read DIR/" + kTrainSource +
           ": No such file or directory (a symbolic link whose target does not exist)\n"},
      {"check where the line source's path has 5,030 characters", nullptr, {"check", "LONG"}, ""},
  };
}

// Every entry of dir with its type, and the digest of each regular file (a FIFO is not read).
std::map<std::string, std::string> names_and_kinds(const fs::path& dir) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::directory_iterator(dir)) {
    const fs::file_status st = fs::symlink_status(e.path());
    state[e.path().filename().string()] =
        std::to_string(static_cast<int>(st.type())) +
        (st.type() == fs::file_type::regular ? ":" + digest(test::read_bytes(e.path())) : "");
  }
  return state;
}

TEST(FailingDisk, WhatIsNotARegularFileIsRefusedAtOnceWithItsReason) {
  for (const ReasonCase& c : reason_cases()) {
    SCOPED_TRACE(c.name);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    ASSERT_EQ(test::run_compactor({"--dir", d.string(), "-q"}).exit_status, 0);
    ASSERT_EQ(test::run_compactor({"sources", d.string()}).exit_status, 0);
    if (c.spoil) c.spoil(d);
    const auto before = names_and_kinds(d);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a.rfind("DIR", 0) == 0) a.replace(0, 3, d.string());
      // A directory that does not exist, named so that its line source's path is 5,030 long.
      if (a == "LONG")
        a = d.string() + "/" + std::string(5030 - d.string().size() - 2 - kLineSource.size(), 'd');
    }
    test::Result r = test::start_compactor(args)->wait(10);
    EXPECT_EQ(r.exit_status, 3);
    std::string message = c.message;
    if (message.empty()) {  // the long path: its line source, by the system's reason
      message = "compactor: cannot read " + args[1] + "/" + kLineSource + ": File name too long\n";
      EXPECT_EQ(args[1].size() + 1 + kLineSource.size(), 5030u);
    }
    for (size_t at; (at = message.find("DIR")) != std::string::npos;) {
      message.replace(at, 3, d.string());
    }
    EXPECT_EQ(r.err.substr(0, r.err.find("compactor: 0 warnings")), message);
    EXPECT_EQ(names_and_kinds(d), before);
  }
}

// New files get 0666 less the umask, as any tool gives them; an output that is replaced keeps the
// mode it had.
struct ModeCase {
  int umask;
  int old_output_mode;  // -1: no old outputs
  int text_mode;        // of the five texts, all new
  int output_mode;      // of the three outputs
};

TEST(FailingDisk, NewFilesFollowTheUmaskReplacedOutputsKeepTheirMode) {
  const ModeCase cases[] = {
      {022, -1, 0644, 0644}, {077, -1, 0600, 0600},   {0, -1, 0666, 0666},
      {002, -1, 0664, 0664}, {022, 0600, 0644, 0600}, {077, 0664, 0600, 0664},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE("umask " + std::to_string(c.umask) + ", old mode " +
                 std::to_string(c.old_output_mode));
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    for (const std::string& out : {kPlan, kRecords, kGrid}) {
      if (c.old_output_mode < 0) continue;
      test::write_bytes(d / out, "previous");
      ASSERT_EQ(chmod((d / out).c_str(), static_cast<mode_t>(c.old_output_mode)), 0);
    }
    test::Launch launch;
    launch.umask = c.umask;
    ASSERT_EQ(test::start_compactor({"sources", d.string()}, launch)->wait().exit_status, 0);
    for (const std::string& text : kTexts) {
      EXPECT_EQ(static_cast<int>(fs::status(d / text).permissions()), c.text_mode) << text;
    }
    ASSERT_EQ(test::start_compactor({"compile", d.string()}, launch)->wait().exit_status, 0);
    for (const std::string& out : {kPlan, kRecords, kGrid}) {
      EXPECT_EQ(static_cast<int>(fs::status(d / out).permissions()), c.output_mode) << out;
    }
  }
}

// --- Memory ------------------------------------------------------------------------------------
// Address-space limits do not go with the address sanitizer, which reserves terabytes.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Warnings past the 200 shown are counted, not kept: five million stray lines are checked within
// 200 MiB of address space, with the same report.
TEST(FailingDisk, MillionsOfStrayLinesAreCheckedInBoundedMemory) {
  if (kSanitized) GTEST_SKIP() << "RLIMIT_AS and the address sanitizer do not mix";
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  ASSERT_EQ(test::run_compactor({"sources", d.string()}).exit_status, 0);
  std::string train = test::read_bytes(d / kTrainSource);
  const std::string end = "[fine]\r\n";
  ASSERT_EQ(train.substr(train.size() - end.size()), end);
  train.resize(train.size() - end.size());
  const size_t first_stray = static_cast<size_t>(std::count(train.begin(), train.end(), '\n')) + 1;
  std::string strays;
  for (int i = 0; i < 5000000; ++i) strays += "x\r\n";
  test::write_bytes(d / kTrainSource, train + strays + end);

  test::Launch launch;
  launch.address_space_limit = 200ull << 20;
  test::Result r = test::start_compactor({"check", d.string()}, launch)->wait(300);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_status, 1);
  const std::string first =
      (d / kTrainSource).string() + ":" + std::to_string(first_stray) +
      ":1: error unknown-keyword: \"x\" is not a record keyword, and the line is not read\n";
  EXPECT_EQ(r.err.substr(0, first.size()), first);
  const std::string tail =
      "compactor: 4999800 more errors not shown\n"
      "compactor: 0 warnings, 5000000 errors; outcome: no error\n";
  ASSERT_GE(r.err.size(), tail.size());
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

// The least address-space limit, to 64 KiB, under which `run` succeeds, given one under which it
// does.
template <class Run>
rlim_t least_limit(Run&& run, rlim_t suffices) {
  rlim_t fails = 1 << 20;
  while (suffices - fails > (64 << 10)) {
    rlim_t middle = (fails + suffices) / 2;
    (run(middle) ? suffices : fails) = middle;
  }
  return suffices;
}

// A compile that runs out of memory at any point ends with "compactor: out of memory" and status
// 3, the old outputs whole and no temporary file. The limits tried are those just below the least
// the large scenario needs, where it fails late: while its outputs are written. Those under which
// the program cannot even start (its stack and its own image do not fit) are left out.
TEST(FailingDisk, OutOfMemoryEndsTheRunWithTheOldOutputs) {
  if (kSanitized) GTEST_SKIP() << "RLIMIT_AS and the address sanitizer do not mix";
  test::ScratchDir scratch;
  const fs::path& d = scratch.path();
  auto run_within = [&](rlim_t limit, const std::vector<std::string>& args) {
    test::Launch launch;
    launch.address_space_limit = limit;
    return test::start_compactor(args, launch)->wait();
  };
  auto compile_within = [&](rlim_t limit) {
    prepare_large(d);
    return run_within(limit, {"compile", d.string(), "-q"});
  };
  ASSERT_EQ(compile_within(1u << 30).exit_status, 0);
  const rlim_t suffices =
      least_limit([&](rlim_t limit) { return compile_within(limit).exit_status == 0; }, 1u << 30);
  const rlim_t starts = least_limit(
      [&](rlim_t limit) { return run_within(limit, {"--help"}).exit_status == 0; }, suffices);
  int out_of_memory = 0;
  for (rlim_t below = 64 << 10; below <= (2 << 20) && suffices - below >= starts + (256 << 10);
       below += 128 << 10) {
    SCOPED_TRACE("limit " + std::to_string((suffices - below) >> 10) + " KiB");
    test::Result r = compile_within(suffices - below);
    EXPECT_EQ(r.signal, 0);
    if (r.exit_status == 0) continue;  // the least that suffices is not sharp
    ++out_of_memory;
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.err, "compactor: out of memory\n");
    EXPECT_EQ(output_set(d), "old");
    EXPECT_TRUE(temporaries(d).empty()) << temporaries(d).front();
  }
  EXPECT_GT(out_of_memory, 0);
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
