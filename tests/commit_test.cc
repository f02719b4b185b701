// A set of files put in place as one step: its record, what the next command does with a set a
// killed run left, the order of syncs, renames and deletes, and a run killed at every step of its
// commit. The kill tests run the program as a POSIX child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/build_run.h"
#include "platform/files.h"
#include "platform/set_record.h"
#include "platform/temporaries.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::kCard;
using test::kForm;
using test::kGrid;
using test::kLineSource;
using test::kNotes;
using test::kPlan;
using test::kRecords;
using test::kTrainSource;

// --- The record ----------------------------------------------------------------------------------

TEST(SetRecord, ReadsBackWholeAndRefusesEveryCutOrDamagedRecord) {
  const std::vector<SetRecordEntry> entries = {
      {"a b.dat.tmp-12-abcdef", "a b.dat", 4699964},
      {"x\ny.sim.tmp-3-zzzzzz", "x\ny.sim", 0},  // a line break in a name is kept
  };
  const std::string bytes = encode_set_record(entries);
  std::vector<SetRecordEntry> back;
  ASSERT_TRUE(decode_set_record(bytes, back));
  ASSERT_EQ(back.size(), 2u);
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(back[i].temp, entries[i].temp);
    EXPECT_EQ(back[i].name, entries[i].name);
    EXPECT_EQ(back[i].size, entries[i].size);
  }
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_FALSE(decode_set_record(bytes.substr(0, cut), back)) << "cut at " << cut;
  }
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::string damaged = bytes;
    damaged[at] ^= 0x10;
    EXPECT_FALSE(decode_set_record(damaged, back)) << "damaged at " << at;
  }
}

// A directory holding the old files A and B, their new versions staged under temporary names of
// a process that has ended, and the record of the set in the state a killed run left it.
struct LeftSet {
  std::string name;
  bool first_renamed;     // the run had renamed A before it was killed
  int64_t wrong_size_of;  // -1, or the file whose temporary file the record gives another size
  bool record_cut;        // the run was killed while it wrote the record
  bool finished;          // the next command finishes the set (else it keeps the old one)
};

TEST(SetRecord, TheNextCommandFinishesAWholeSetAndKeepsTheOldOneOtherwise) {
  const std::vector<LeftSet> cases = {
      {"killed before the first rename", false, -1, false, true},
      {"killed between the renames", true, -1, false, true},
      {"a temporary file not whole (a power cut without syncs)", false, 1, false, false},
      {"killed while the record was written", false, -1, true, false},
  };
  const int64_t ended = 999999999;  // no process has this id
  for (const LeftSet& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir d;
    std::vector<SetRecordEntry> entries;
    for (const std::string name : {"A.dat", "B.sim"}) {
      test::write_bytes(d.path() / name, "old " + name);
      const std::string temp = temporary_name(name, ended, 0);
      test::write_bytes(d.path() / temp, "new " + name);
      entries.push_back({temp, name, 4 + name.size()});
    }
    if (c.wrong_size_of >= 0) ++entries[c.wrong_size_of].size;
    if (c.first_renamed) fs::rename(d.path() / entries[0].temp, d.path() / "A.dat");
    std::string record = encode_set_record(entries);
    if (c.record_cut) record.resize(record.size() / 2);
    test::write_bytes(d.path() / temporary_name(kSetRecordStem, ended, 0), record);
    ASSERT_TRUE(interrupted_set_in(d.str()));

    const InterruptedSets sets = settle_interrupted_sets(d.str());
    EXPECT_TRUE(sets.failure.ok) << sets.failure.reason;
    EXPECT_EQ(sets.finished, c.finished ? 1 : 0);
    EXPECT_EQ(sets.restored, c.finished ? 0 : 1);
    const std::string state = c.finished ? "new " : "old ";
    EXPECT_EQ(test::read_bytes(d.path() / "A.dat"), state + "A.dat");
    EXPECT_EQ(test::read_bytes(d.path() / "B.sim"), state + "B.sim");
    EXPECT_FALSE(interrupted_set_in(d.str()));
    // A cut record names no file: its temporary files are the next writing run's to remove.
    const size_t left = c.record_cut ? 2 : 0;
    EXPECT_EQ(test::snapshot(d.path()).size(), 2 + left);
  }
}

// A record that came with the directory (copied, unpacked, downloaded) is read by every command,
// check and view included: one that names a file out of the directory, or a file that is not a
// temporary file of the record's own run, moves and removes nothing.
TEST(SetRecord, ARecordNamingFilesARunNeverStagesMovesAndRemovesNothing) {
  struct Forged {
    std::string name;
    std::string temp;    // relative to the scenario's directory
    std::string target;  // likewise
    bool right_size;     // true: the set would be finished; false: its temporary files removed
  };
  const int64_t ended = 999999999;
  const std::string own_temp = temporary_name("A.dat", ended, 0);
  const std::string other_temp = temporary_name("A.dat", ended - 1, 0);
  const std::vector<Forged> cases = {
      {"a file out of the directory removed", "../outside/keep.txt", "A.dat", false},
      {"a file out of the directory moved over another", "../outside/moved.txt",
       "../outside/keep.txt", true},
      {"a source moved over an output", "A.txt", "A.dat", true},
      {"a temporary name of another run", other_temp, "A.dat", true},
      {"a temporary file moved out of the directory", own_temp, "../outside/keep.txt", true},
  };
  for (const Forged& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir top;
    fs::create_directories(top.path() / "scenario");
    fs::create_directories(top.path() / "outside");
    const fs::path dir = top.path() / "scenario";
    for (const fs::path& p : {top.path() / "outside/keep.txt", top.path() / "outside/moved.txt",
                              dir / "A.dat", dir / "A.txt", dir / own_temp,
                              dir / other_temp}) {
      test::write_bytes(p, p.filename().string());
    }
    const auto before_outside = test::snapshot(top.path() / "outside");
    auto before_inside = test::snapshot(dir);
    const uint64_t size = fs::file_size(dir / c.temp) + (c.right_size ? 0 : 1);
    const std::string record_name = temporary_name(kSetRecordStem, ended, 0);
    test::write_bytes(dir / record_name, encode_set_record({{c.temp, c.target, size}}));

    const InterruptedSets sets = settle_interrupted_sets((top.path() / "scenario").string());
    EXPECT_TRUE(sets.failure.ok) << sets.failure.reason;
    EXPECT_EQ(sets.finished, 0);
    EXPECT_EQ(test::snapshot(top.path() / "outside"), before_outside);
    EXPECT_EQ(test::snapshot(dir), before_inside);  // the record itself is gone
  }
}

#ifndef _WIN32
TEST(SetRecord, ALiveRunsRecordIsLeftAlone) {
  test::ScratchDir d;
  test::write_bytes(d.path() / temporary_name(kSetRecordStem, current_process_id(), 0),
                    encode_set_record({}));
  // This process is alive, but its id on a record found before it wrote any is an earlier one's.
  EXPECT_TRUE(interrupted_set_in(d.str()));
  test::ScratchDir other;
  const int64_t parent = static_cast<int64_t>(::getppid());
  test::write_bytes(other.path() / temporary_name(kSetRecordStem, parent, 0),
                    encode_set_record({}));
  EXPECT_FALSE(interrupted_set_in(other.str()));
}

// --- The order of the steps ----------------------------------------------------------------------

std::vector<std::string> g_steps;

// "STEP NAME": NAME the last part of the path, "*" for a temporary file or a record, none for a
// directory.
void list_step(CommitStep step, const std::string& path) {
  std::string name = " " + fs::path(path).filename().string();
  if (step == CommitStep::kSyncDirectory) name.clear();
  if (name.find(".tmp-") != std::string::npos) name = " *";
  g_steps.push_back(commit_step_name(step) + name);
}

struct OrderCase {
  std::string name;
  bool delete_sources;
  std::vector<std::string> steps;
};

TEST(CommitOrder, SourcesAreDeletedOnlyAfterTheOutputsAndTheirDirectoryAreSynced) {
  const std::vector<OrderCase> cases = {
      {"compile --delete-sources",
       true,
       {"sync file *", "sync file *", "sync file *", "write record *", "sync directory",
        "rename " + kRecords, "rename " + kGrid, "rename " + kPlan, "sync directory",
        "remove record *", "delete source " + kLineSource, "delete source " + kTrainSource}},
      {"compile: nothing of the author's at stake, no sync",
       false,
       {"write record *", "rename " + kRecords, "rename " + kGrid, "rename " + kPlan,
        "remove record *"}},
  };
  test::ScratchDir texts;
  ASSERT_EQ(test::run_compactor({"sources", texts.str()}).exit_status, 0);
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir d;
    for (const std::string& name : {kPlan, kRecords, kGrid}) {
      fs::copy_file(test::default_run().file(name), d.path() / name);
    }
    for (const std::string& name : {kLineSource, kTrainSource}) {
      fs::copy_file(texts.path() / name, d.path() / name);
    }
    RunOptions opts;
    opts.dir = d.str();
    opts.quiet = true;
    opts.delete_sources = c.delete_sources;
    opts.durable = c.delete_sources;
    g_steps.clear();
    set_commit_step_hook(list_step);
    Model m;
    const int status = compile_directory(m, opts);
    set_commit_step_hook(nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(g_steps, c.steps);
  }
}

// A file saved at a source's name between the check and the delete is not the one deleted.
TEST(CommitOrder, ASaveJustBeforeTheDeleteIsKept) {
  static std::string saved_path;
  test::ScratchDir d;
  const fs::path source = d.path() / "L_linea.txt";
  test::write_bytes(source, "read");
  FileResult r;
  FileIdentity identity;
  ASSERT_TRUE(read_file(source.string(), r, kMaxSourceBytes, &identity));
  saved_path = source.string();
  set_commit_step_hook([](CommitStep step, const std::string&) {
    if (step != CommitStep::kDeleteSource) return;
    test::write_bytes(saved_path + ".new", "saved by the author");
    fs::rename(saved_path + ".new", saved_path);
  });
  const DeleteOutcome outcome = delete_file_if_unchanged(source.string(), identity, r);
  set_commit_step_hook(nullptr);
  EXPECT_EQ(outcome, DeleteOutcome::kChanged) << r.reason;
  EXPECT_EQ(test::read_bytes(source), "saved by the author");
  EXPECT_EQ(test::snapshot(d.path()).size(), 1u);
}

// --- A run killed at every step of its commit --------------------------------------------------

// Arms the program's fault seam for the runs started while it lives: each ends at once (status
// 137, as a SIGKILL leaves things) before the n-th step of its commits.
class EndAtStep {
 public:
  explicit EndAtStep(int n) { ::setenv("COMPACTOR_TEST_END_AT_STEP", std::to_string(n).c_str(), 1); }
  ~EndAtStep() { ::unsetenv("COMPACTOR_TEST_END_AT_STEP"); }
  EndAtStep(const EndAtStep&) = delete;
  EndAtStep& operator=(const EndAtStep&) = delete;
};

// Which whole set the files `names` in `dir` hold: "old", "new", or what the mix is.
std::string which_set(const fs::path& dir, const std::vector<std::string>& names,
                      const std::map<std::string, std::string>& new_bytes) {
  std::set<std::string> seen;
  std::string mix;
  for (const std::string& name : names) {
    const std::string bytes = fs::exists(dir / name) ? test::read_bytes(dir / name) : "(none)";
    const std::string state = bytes == new_bytes.at(name) ? "new" : bytes == "old " + name ? "old"
                                                                                          : "other";
    seen.insert(state);
    mix += name + ": " + state + "; ";
  }
  return seen.size() == 1 ? *seen.begin() : mix;
}

// What a killed run or the next command may have left that must not survive the next compile.
std::vector<std::string> leftovers(const fs::path& dir) {
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp-") != std::string::npos || name.find(".deleting-") != std::string::npos) {
      left.push_back(name);
    }
  }
  return left;
}

struct KillCase {
  std::string name;
  std::vector<std::string> args;  // "DIR" stands for the run's directory
  std::vector<std::vector<std::string>> sets;  // the sets the run puts in place
};

// The next command after a kill, one after the other: each must settle the directory first.
std::vector<std::string> next_command(int n, const std::string& dir) {
  switch (n % 4) {
    case 0: return {"check", dir};
    case 1: return {"dump", (fs::path(dir) / kRecords).string()};
    case 2: return {"plot", dir, "-o", dir + "/../picture.svg"};
    default: return {"view", dir, "-o", dir + "/../page.html"};
  }
}

TEST(CommitKills, EveryKillPointLeavesTheWholeOldOrTheWholeNewSet) {
  const std::vector<std::string> outputs = {kPlan, kRecords, kGrid};
  const std::vector<std::string> texts = {kLineSource, kTrainSource, kCard, kForm, kNotes};
  const std::vector<KillCase> cases = {
      {"compile --delete-sources of changed sources",
       {"compile", "DIR", "--delete-sources"},
       {outputs}},
      {"the build run over other texts (--force)", {"--dir", "DIR", "--force"}, {texts, outputs}},
  };
  test::ScratchDir reference;
  ASSERT_EQ(test::run_compactor({"sources", reference.str()}).exit_status, 0);
  std::map<std::string, std::string> new_bytes;
  for (const std::string& name : outputs) new_bytes[name] = test::read_bytes(test::default_run().file(name));
  for (const std::string& name : texts) {
    new_bytes[name] = test::read_bytes(fs::exists(reference.path() / name)
                                           ? reference.path() / name
                                           : fs::path(test::default_run().file(name)));
  }
  int kill_points = 0;
  for (const KillCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool killed = true;
    for (int n = 1; killed && n < 100; ++n) {
      SCOPED_TRACE("killed before step " + std::to_string(n));
      test::ScratchDir parent;
      const fs::path d = parent.path() / "scenario";
      fs::create_directory(d);
      for (const std::string& name : outputs) test::write_bytes(d / name, "old " + name);
      for (const std::string& name : texts) {
        const bool source = name == kLineSource || name == kTrainSource;
        // The compile reads the new sources; the build run replaces texts of other bytes.
        test::write_bytes(d / name, c.sets.size() == 1 && source ? new_bytes[name] : "old " + name);
      }
      std::vector<std::string> args = c.args;
      for (std::string& a : args) a = a == "DIR" ? d.string() : a;
      test::Result run;
      {
        EndAtStep seam(n);
        run = test::run_compactor(args);
      }
      killed = run.exit_status == 137;
      if (!killed) {
        EXPECT_EQ(run.exit_status, 0) << run.err;
        break;
      }
      ++kill_points;
      const test::Result next = test::run_compactor(next_command(n, d.string()));
      EXPECT_NE(next.exit_status, 137);
      for (const std::vector<std::string>& set : c.sets) {
        const bool sources_left = fs::exists(d / kLineSource) && fs::exists(d / kTrainSource);
        const std::vector<std::string> kept = set.size() == texts.size() && !sources_left
                                                  ? std::vector<std::string>{kCard, kForm, kNotes}
                                                  : set;
        const std::string state = which_set(d, kept, new_bytes);
        EXPECT_TRUE(state == "old" || state == "new") << state << "\n" << next.err;
      }
      // No source is gone while the outputs built from it are not in place.
      if (!fs::exists(d / kLineSource) || !fs::exists(d / kTrainSource)) {
        EXPECT_EQ(which_set(d, outputs, new_bytes), "new");
      }
      EXPECT_FALSE(interrupted_set_in(d.string()));
      test::run_compactor({"compile", d.string()});
      EXPECT_EQ(leftovers(d), std::vector<std::string>{});
    }
    EXPECT_FALSE(killed) << "the run never finished";
  }
  std::printf("kill points tried: %d\n", kill_points);
  EXPECT_GE(kill_points, 20);
}

// --- A line source that another train source still reads ----------------------------------------

struct BesideCase {
  std::string name;
  std::vector<std::string> beside;  // files put beside the scenario's sources
  bool line_kept;
};

TEST(CommitDeletes, ALineSourceAnotherTrainSourceReadsIsKept) {
  const std::string other_line = "QUELDRANO 2_X_linea.txt";
  const std::vector<BesideCase> cases = {
      {"alone", {}, false},
      {"another train of the line", {"QUELDRANO 2_2-.txt"}, true},
      {"a train of another line whose id starts alike", {"QUELDRANO 2_X_2-.txt", other_line},
       false},
      {"the same name without that other line", {"QUELDRANO 2_X_2-.txt"}, true},
  };
  test::ScratchDir texts;
  ASSERT_EQ(test::run_compactor({"sources", texts.str()}).exit_status, 0);
  for (const BesideCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir d;
    for (const std::string& name : {kLineSource, kTrainSource}) {
      fs::copy_file(texts.path() / name, d.path() / name);
    }
    for (const std::string& name : c.beside) test::write_bytes(d.path() / name, "beside");
    const test::Result r = test::run_compactor(
        {"compile", d.str(), "--line-id", "QUELDRANO 2", "--train", "555", "--delete-sources"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(fs::exists(d.path() / kLineSource), c.line_kept);
    EXPECT_FALSE(fs::exists(d.path() / kTrainSource));
    EXPECT_EQ(r.err.find("kept " + d.file(kLineSource) + ": the train source ") !=
                  std::string::npos,
              c.line_kept)
        << r.err;
    for (const std::string& name : c.beside) EXPECT_TRUE(fs::exists(d.path() / name));
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace compactor
