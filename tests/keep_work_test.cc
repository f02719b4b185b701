// Nothing an author made is lost: compile with an error keeps the outputs already there, a source
// that holds the error is never deleted, sources and the build run do not write over an edited
// text file, and identities whose files would share a name are refused.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/outputs.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::snapshot;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

constexpr const char* kKeptNote =
    "compactor: outputs not written: the sources hold an error; the previous outputs are kept "
    "(--write-on-error writes them)\n";

void replace_once(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_bytes(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  write_bytes(path, text);
}

std::string small_line(const std::string& features = "") {
  return "[generale]\r\nlunghezza percorso, 20000\r\n[pendenze]\r\n" + features + "[fine]\r\n";
}

std::string small_train(const std::string& records) {
  return "[generale]\r\n" + records + "[fine]\r\n";
}

TEST(KeepWork, CompileWithAnErrorKeepsTheOutputsUnlessToldToWriteThem) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
  const std::string good_records = read_bytes(dir.file(test::kRecords));
  // A station off the 50 m grid: error 8, and a record output without that station.
  replace_once(dir.file(test::kTrainSource), "stazione,   12200", "stazione,   12210");
  const auto edited = snapshot(dir.path());

  Result kept = run_compactor({"compile", dir.str(), "--delete-sources", "-v"});
  EXPECT_EQ(kept.exit_status, 1);
  EXPECT_NE(kept.err.find("error 8"), std::string::npos) << kept.err;
  EXPECT_NE(kept.err.find(kKeptNote), std::string::npos) << kept.err;
  EXPECT_EQ(kept.out, "");
  EXPECT_EQ(snapshot(dir.path()), edited);  // no output replaced, no source deleted

  Result written = run_compactor({"compile", dir.str(), "--write-on-error"});
  EXPECT_EQ(written.exit_status, 1);
  EXPECT_NE(written.err.find("error 8"), std::string::npos) << written.err;
  EXPECT_EQ(written.err.find("outputs not written"), std::string::npos) << written.err;
  const std::string damaged = read_bytes(dir.file(test::kRecords));
  EXPECT_NE(damaged, good_records);
  // What it writes does not depend on the outputs that were there.
  ScratchDir fresh;
  for (const std::string& name : {test::kLineSource, test::kTrainSource}) {
    write_bytes(fresh.file(name), read_bytes(dir.file(name)));
  }
  EXPECT_EQ(run_compactor({"compile", fresh.str(), "--write-on-error"}).exit_status, 1);
  for (const std::string& name : {test::kRecords, test::kGrid, test::kPlan}) {
    EXPECT_EQ(read_bytes(fresh.file(name)), read_bytes(dir.file(name))) << name;
  }
}

// A mistake that drops an author's data without an error of the compile's own is an error of the
// program's: compile exits 1 and keeps the outputs there; with --write-on-error it writes the
// outputs the compile builds, the same as when such errors are not looked for, and the summary
// names the compile's outcome. --werror keeps the outputs too.
TEST(KeepWork, AMistakeThatDropsDataKeepsTheOutputs) {
  struct Case {
    const char* what;
    bool in_line_source;
    std::string from, to;
    const char* said;  // in the report
    const char* summary;
  };
  const Case cases[] = {
      {"a misspelt keyword drops a station", false, "stazione,    4000", "stazone,    4000",
       "error unknown-keyword: \"stazone\"", "0 warnings, 1 error; outcome: no error"},
      {"a misspelt [generale] drops the train", false, "[generale]", "[general]",
       "error no-general-section:", "0 warnings, 1 error; outcome: no error"},
      {"a lone CR joins two stations", false, "ROMA CASILINA\r\n", "ROMA CASILINA\r",
       "error lone-cr:", "0 warnings, 1 error; outcome: no error"},
      {"a decimal comma", true, "pendenza,  1350,   -2", "pendenza,  1350,   12,5",
       "error stray-value: \"5\"", "0 warnings, 1 error; outcome: no error"},
      {"a station off the grid as well", false, "stazione,   12200,", "stazione,   12210, 7,",
       "error 8:", "0 warnings, 1 error; outcome: error 8 (at 12210 m)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
    ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
    replace_once(dir.file(c.in_line_source ? test::kLineSource : test::kTrainSource), c.from, c.to);
    const auto edited = snapshot(dir.path());
    Result kept = run_compactor({"compile", dir.str(), "--delete-sources"});
    EXPECT_EQ(kept.exit_status, 1);
    EXPECT_NE(kept.err.find(c.said), std::string::npos) << kept.err;
    EXPECT_NE(kept.err.find(kKeptNote), std::string::npos) << kept.err;
    EXPECT_NE(kept.err.find(std::string("compactor: ") + c.summary + "\n"), std::string::npos)
        << kept.err;
    EXPECT_EQ(snapshot(dir.path()), edited);  // no output replaced, no source deleted

    Result written = run_compactor({"compile", dir.str(), "--write-on-error"});
    EXPECT_EQ(written.exit_status, 1) << written.err;
    const test::Compiled built = test::compile_in_memory(read_bytes(dir.file(test::kLineSource)),
                                                         read_bytes(dir.file(test::kTrainSource)),
                                                         {.collect_warnings = false});
    EXPECT_EQ(read_bytes(dir.file(test::kRecords)), encode_record_output(built.m));
    EXPECT_EQ(read_bytes(dir.file(test::kGrid)), encode_grid_output(built.m));
    EXPECT_EQ(read_bytes(dir.file(test::kPlan)), encode_line_output(built.m));
  }
  // A gradient off the 50 m grid is a warning: with --werror the outputs stay as well.
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
  replace_once(dir.file(test::kLineSource), "pendenza,  1350", "pendenza,  1351");
  const auto edited = snapshot(dir.path());
  Result werror = run_compactor({"compile", dir.str(), "--werror"});
  EXPECT_EQ(werror.exit_status, 1);
  EXPECT_NE(werror.err.find("compactor: outputs not written: --werror makes the warnings fail the "
                            "compile; the previous outputs are kept (--write-on-error writes "
                            "them)\n"),
            std::string::npos)
      << werror.err;
  EXPECT_EQ(snapshot(dir.path()), edited);
  Result warned = run_compactor({"compile", dir.str()});
  EXPECT_EQ(warned.exit_status, 0);
  EXPECT_EQ(warned.err.find("outputs not written"), std::string::npos) << warned.err;
}

TEST(KeepWork, DeleteSourcesKeepsTheSourceThatHoldsTheError) {
  struct Case {
    const char* what;
    std::string line;
    std::string train;
    const char* error;
    bool line_kept;
    bool train_kept;
  };
  const Case cases[] = {
      // The code point falls on the signal's cell: error 7 at the code point's record.
      {"error in the train source", small_line(),
       small_train("segnale, 2100, 2, 4,0,0, 0, 2, 2,0,0, 0\r\nabbattimento, 2150, 270\r\n"),
       "error 7", false, true},
      {"error in the line source", small_line("pendenza, 999999, 0\r\n"),
       small_train("sabbia, 1\r\n"), "error 15", true, false},
      {"read failure in the train source", small_line(), small_train("sabbia, 1x\r\n"), "error 25",
       false, true},
      // The tunnel beyond the grid is the line source's error; the train half then stops at its
      // first slow order, where the outcome points. The line source holds the error.
      {"line error that stops the train half", small_line("montagna, 240000, 240500, 2\r\n"),
       small_train("rallentamento, 5000, 60, 500, 0, 0, 0\r\n"), "error 15", true, false},
      // Three code points fill the windows before the slow order: the cab-code pass records
      // error 12, which names the slow order's record in the train source.
      {"error of the cab-code pass", small_line(),
       small_train("abbattimento, 4700, 270\r\nabbattimento, 4750, 270\r\n"
                   "abbattimento, 4800, 270\r\nrallentamento, 5000, 60, 500, 0, 0, 0\r\n"),
       "error 12", false, true},
      // An error of the program's own: the compile's outcome is no error.
      {"misspelt keyword in the train source", small_line(), small_train("sabia, 1\r\n"),
       "error unknown-keyword", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_bytes(dir.file(test::kLineSource), c.line);
    write_bytes(dir.file(test::kTrainSource), c.train);
    Result r =
        run_compactor({"compile", dir.str(), "--delete-sources", "--write-on-error", "--no-plan"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file(test::kRecords)));
    EXPECT_EQ(std::filesystem::exists(dir.file(test::kLineSource)), c.line_kept);
    EXPECT_EQ(std::filesystem::exists(dir.file(test::kTrainSource)), c.train_kept);
    auto kept_note = [&](const std::string& name) {
      return r.err.find("compactor: " + dir.file(name) + " is kept: it holds the error\n") !=
             std::string::npos;
    };
    EXPECT_EQ(kept_note(test::kLineSource), c.line_kept) << r.err;
    EXPECT_EQ(kept_note(test::kTrainSource), c.train_kept) << r.err;
  }
}

// `sources DIR` and the build run: a fresh or unchanged directory is written as always; an edited
// text file stops the run before anything is written, named; --force writes over it.
TEST(KeepWork, SourcesAndBuildRunRefuseToWriteOverAnEditedText) {
  const std::vector<std::vector<std::string>> commands = {{"sources"}, {"--dir"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    ScratchDir dir;
    auto run = [&](const std::vector<std::string>& extra) {
      std::vector<std::string> args = command;
      args.push_back(dir.str());
      args.insert(args.end(), extra.begin(), extra.end());
      return run_compactor(args);
    };
    Result fresh = run({"-v"});
    ASSERT_EQ(fresh.exit_status, 0) << fresh.err;
    const auto written = snapshot(dir.path());
    Result unchanged = run({"-v"});
    EXPECT_EQ(unchanged.exit_status, 0);
    EXPECT_EQ(unchanged.out, fresh.out);
    EXPECT_EQ(unchanged.err, fresh.err);
    EXPECT_EQ(snapshot(dir.path()), written);

    const std::string original_notes = read_bytes(dir.file(test::kNotes));
    write_bytes(dir.file(test::kLineSource), "my own line\r\n");
    write_bytes(dir.file(test::kNotes), original_notes + "one more note\r\n");
    const auto edited = snapshot(dir.path());
    Result refused = run({});
    EXPECT_EQ(refused.exit_status, 3);
    EXPECT_EQ(refused.out, "");
    const std::string tail =
        " exists and differs from the scenario's text; --force overwrites it\n";
    EXPECT_EQ(refused.err, "compactor: " + dir.file(test::kLineSource) + tail +
                               "compactor: " + dir.file(test::kNotes) + tail);
    EXPECT_EQ(snapshot(dir.path()), edited);

    Result forced = run({"--force"});
    EXPECT_EQ(forced.exit_status, 0) << forced.err;
    EXPECT_EQ(read_bytes(dir.file(test::kNotes)), original_notes);
    EXPECT_EQ(snapshot(dir.path()), written);
  }
}

// A text that cannot be read for want of file descriptors is not a text that differs: the run
// stops without offering --force, which would not help it, and changes nothing.
TEST(KeepWork, ATextThatCannotBeOpenedForWantOfDescriptorsIsNotCalledChanged) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const auto before = snapshot(dir.path());
  // Standard input, output and error, and the directory's lock: no descriptor is left.
  Result r = test::run_program("/bin/sh", {"-c", std::string("exec 3<&- 4<&- 5<&- 6<&- 7<&- "
                                                              "8<&- 9<&-; ulimit -n 4; exec '") +
                                                     COMPACTOR_BINARY + "' --dir '" + dir.str() +
                                                     "'"});
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_EQ(r.err, "compactor: " + dir.file(test::kLineSource) +
                       " cannot be read (Too many open files): the run is short of open files "
                       "or memory, not the file; run it again when more are free\n");
  EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(KeepWork, SharedFileNamesAndEmptyDirectoriesAreUsageErrors) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const auto before = snapshot(dir.path());
  const std::string d = dir.str();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string shared = "\" give two files the same name, \"";
  const Case cases[] = {
      {{"compile", d, "--train", "linea"},
       "the line id \"QUELDRANO 2\" and train number \"linea" + shared + "QUELDRANO 2_linea.dat\""},
      // Windows takes names without case: QUELDRANO 2_LINEA.dat is QUELDRANO 2_linea.dat there.
      {{"check", d, "--train=LINEA"}, shared + "QUELDRANO 2_linea.dat\""},
      {{"plot", d, "--line-id", "A", "--train", "linea"}, shared + "A_linea.dat\""},
      {{"sources", ""}, "sources needs a directory, not an empty string"},
      {{"compile", ""}, "compile needs a directory, not an empty string"},
      {{"check", ""}, "check needs a directory, not an empty string"},
      {{"plot", ""}, "plot needs a directory, not an empty string"},
      {{"dump", ""}, "dump needs a file, not an empty string"},
      {{"--dir", ""}, "--dir needs a directory, not an empty string"},
      {{"--dir="}, "--dir needs a directory, not an empty string"},
      {{"plot", d, "-o", ""}, "-o needs a file name, not an empty string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.message);
    Result r = run_compactor(c.args);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
