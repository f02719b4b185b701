// The command line's conventions, each form with its effect: --opt=value, bundled short options,
// options anywhere, "--", each command's --help, the last of -q and -v, misplaced options,
// --color; and the scenario's identity found from the files in its directory.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/identity.h"
#include "tests/test_support.h"
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace compactor {
namespace {

using test::snapshot;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

void replace_once(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_bytes(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  write_bytes(path, text);
}

// The default scenario's sources, compiled: compile and plot may run there again and again.
const ScratchDir& good_dir() {
  static ScratchDir dir;
  static const bool made = [] {
    EXPECT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
    EXPECT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
    return true;
  }();
  (void)made;
  return dir;
}

// Sources with error 8 (a station off the grid) and one warning (a misspelt keyword), for check.
const ScratchDir& broken_dir() {
  static ScratchDir dir;
  static const bool made = [] {
    EXPECT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
    replace_once(dir.file(test::kTrainSource), "stazione,   12200", "stazione,   12210");
    replace_once(dir.file(test::kLineSource), "pendenza,  1350", "pendnza,  1350");
    return true;
  }();
  (void)made;
  return dir;
}

// "{D}" is the good directory, "{E}" the broken one, "{F}" the good directory's record output.
std::vector<std::string> expand(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (std::string a : args) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{D}", good_dir().str()},
                                      {"{E}", broken_dir().str()},
                                      {"{F}", good_dir().file(test::kRecords)}}) {
      if (size_t at = a.find(mark); at != std::string::npos) a.replace(at, mark.size(), value);
    }
    out.push_back(a);
  }
  return out;
}

TEST(CommandLine, EachFormHasItsEffect) {
  struct Case {
    const char* form;
    std::vector<std::string> args;
    int exit_status;
    std::vector<std::string> out_has;  // each found on stdout ("" for an empty stdout)
    std::vector<std::string> err_has;  // each found on stderr
  };
  const std::string wrote = "wrote " + good_dir().file(test::kRecords) + " (3607 bytes)\n";
  const std::string red_error =
      "QUELDRANO 2_555-.txt:44:1:\033[0m \033[1;31merror 8:\033[0m station position";
  const Case cases[] = {
      {"--opt=value",
       {"compile", "{D}", "--line-id=QUELDRANO 2", "--train=555", "-v"},
       0,
       {wrote},
       {}},
      {"options before the command", {"-v", "--train", "555", "compile", "{D}"}, 0, {wrote}, {}},
      {"options between command and directory", {"compile", "-v", "{D}"}, 0, {wrote}, {}},
      {"bundled, -v last", {"compile", "{D}", "-qv"}, 0, {wrote}, {}},
      {"bundled, -q last", {"compile", "{D}", "-vq"}, 0, {""}, {}},
      {"separate, -q last", {"compile", "-v", "{D}", "-q"}, 0, {""}, {}},
      {"plot: -v last", {"plot", "-q", "{D}", "-v", "-o", "{D}/a.svg"}, 0, {"wrote {D}/a.svg"}, {}},
      {"-o with its value joined", {"plot", "{D}", "-o{D}/b.svg"}, 0, {"wrote {D}/b.svg"}, {}},
      {"-- ends the options", {"compile", "--", "--help"}, 3, {""}, {"cannot read --help: the directory does not exist"}},
      {"-- before a file", {"dump", "--", "-v"}, 2, {""}, {"which output -v is"}},
      {"help",
       {"--help"},
       0,
       {"usage: compactor [--dir DIR]", "       compactor compile DIR ", "--werror",
        "--write-on-error", "--force", "--color=WHEN", "compactor COMMAND --help"},
       {}},
      {"compile --help",
       {"compile", "--help"},
       0,
       {"usage: compactor compile DIR [--line-id ID]", "--write-on-error", "--werror"},
       {}},
      {"help after the directory",
       {"sources", "{D}", "-h"},
       0,
       {"usage: compactor sources DIR"},
       {}},
      {"check --help", {"check", "--help"}, 0, {"usage: compactor check DIR"}, {}},
      {"dump --help", {"dump", "--help"}, 0, {"usage: compactor dump FILE", "--every N"}, {}},
      {"plot --help", {"--help", "plot"}, 0, {"usage: compactor plot DIR", "-o FILE.svg"}, {}},
      {"help wins over a wrong option",
       {"compile", "--bogus", "--help"},
       0,
       {"usage: compactor compile DIR"},
       {}},
      {"version anywhere", {"check", "{D}", "--version"}, 0, {"compactor 1.0.0\n"}, {}},
      {"unknown long option",
       {"compile", "{D}", "--bogus=1"},
       2,
       {""},
       {"compactor: unknown option '--bogus=1'\n"}},
      {"unknown short option in a bundle",
       {"compile", "{D}", "-vx"},
       2,
       {""},
       {"compactor: unknown option '-x'\n"}},
      {"a value for a flag",
       {"--quiet=yes", "compile", "{D}"},
       2,
       {""},
       {"compactor: --quiet takes no value\n"}},
      {"missing value",
       {"compile", "{D}", "--train"},
       2,
       {""},
       {"compactor: --train needs a train number\n"}},
      {"misplaced: check deletes nothing",
       {"check", "{D}", "--delete-sources"},
       2,
       {""},
       {"compactor: --delete-sources goes with compile only\n"}},
      {"misplaced: --dir with a command",
       {"compile", "{D}", "--dir", "{D}"},
       2,
       {""},
       {"compactor: --dir goes with the build run only\n"}},
      {"misplaced: --line-id in the build run",
       {"--line-id", "X"},
       2,
       {""},
       {"compactor: --line-id goes with compile, check, documents, plot, view, new and decompile "
         "only\n"}},
      {"misplaced: -v for dump",
       {"-v", "dump", "{F}"},
       2,
       {""},
       {"compactor: -v goes with the build run, sources, compile, check, documents, plot, view, new "
         "and decompile only\n"}},
      {"misplaced: --force for compile",
       {"compile", "{D}", "--force"},
       2,
       {""},
       {"compactor: --force goes with the build run, sources, documents, new and decompile only\n"}},
      {"unexpected argument",
       {"compile", "{D}", "extra"},
       2,
       {""},
       {"compactor: unexpected argument 'extra'\n"}},
      {"unknown command",
       {"frobnicate", "{D}"},
       2,
       {""},
       {"compactor: unknown command 'frobnicate'\n"}},
      {"no directory", {"-q", "compile"}, 2, {""}, {"compactor: compile needs a directory\n"}},
      {"colour always",
       {"check", "{E}", "--color=always"},
       1,
       {""},
       {red_error, "\033[1;31merror unknown-keyword:\033[0m \"pendnza\"", "  \033[1;32m^\033[0m\n",
        "\033[1mcompactor:\033[0m 0 warnings, 2 errors; outcome: error 8 (at 12210 m)\n"}},
      {"colour never",
       {"check", "{E}", "--color", "never"},
       1,
       {""},
       {"QUELDRANO 2_555-.txt:44:1: error 8: station position"}},
      {"colour of an unknown kind",
       {"check", "{E}", "--color=sometimes"},
       2,
       {""},
       {"compactor: --color takes auto, always or never, not 'sometimes'\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    Result r = run_compactor(expand(c.args));
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    for (const std::string& text : expand(c.out_has)) {
      if (text.empty()) {
        EXPECT_EQ(r.out, "");
      } else {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\nin:\n" << r.out;
      }
    }
    for (const std::string& text : c.err_has) {
      EXPECT_NE(r.err.find(text), std::string::npos) << text << "\nin:\n" << r.err;
    }
    if (c.exit_status == 2) {
      EXPECT_NE(r.err.find("compactor: try 'compactor --help'\n"), std::string::npos);
    }
  }
  // Escapes only when asked for or on a terminal: here stderr is a file.
  EXPECT_EQ(run_compactor({"check", broken_dir().str()}).err.find('\033'), std::string::npos);
}

// What reaches a terminal on stderr: the compactor runs with stderr on a new pseudo-terminal,
// stdin and stdout on /dev/null, NO_COLOR set to `no_color` (unset when null).
std::string stderr_on_terminal(const std::vector<std::string>& args, const char* no_color) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return "";
  }
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  std::vector<std::string> store = {COMPACTOR_BINARY};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(terminal, 2);
    if (no_color != nullptr) {
      setenv("NO_COLOR", no_color, 1);
    } else {
      unsetenv("NO_COLOR");
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(terminal);
  std::string seen;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      seen.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed the terminal
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  return seen;
}

TEST(CommandLine, ColourOnATerminalUnlessNoColor) {
  const std::vector<std::string> check = {"check", broken_dir().str()};
  const std::string red = "\033[1;31merror 8:\033[0m";
  EXPECT_NE(stderr_on_terminal(check, nullptr).find(red), std::string::npos);
  // An empty NO_COLOR does not count.
  EXPECT_NE(stderr_on_terminal(check, "").find(red), std::string::npos);
  const std::string plain = stderr_on_terminal(check, "1");
  EXPECT_EQ(plain.find('\033'), std::string::npos) << plain;
  EXPECT_NE(plain.find("error 8: station position"), std::string::npos) << plain;
  std::vector<std::string> never = check;
  never.push_back("--color=never");
  EXPECT_EQ(stderr_on_terminal(never, nullptr).find('\033'), std::string::npos);
  // Told to, it colours whatever NO_COLOR says and wherever stderr goes.
  std::vector<std::string> always = check;
  always.push_back("--color=always");
  EXPECT_NE(stderr_on_terminal(always, "1").find(red), std::string::npos);
  setenv("NO_COLOR", "1", 1);
  Result to_file = run_compactor(always);
  unsetenv("NO_COLOR");
  EXPECT_NE(to_file.err.find(red), std::string::npos) << to_file.err;
}

// The system reads a path up to its first NUL: an argument holding one is refused, never cut
// short to another path.
TEST(CommandLine, AnArgumentHoldingANulIsAUsageError) {
  ScratchDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"compile", dir.str() + std::string("\0/x", 3)},
        std::vector<std::string>{"plot", dir.str(), "-o", std::string("a.svg\0b", 7)},
        std::vector<std::string>{"dump", std::string("x.sim\0", 6)}}) {
    testing::internal::CaptureStderr();
    const int status = run_command_line(args);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err, "compactor: an argument holds a NUL byte\ncompactor: try 'compactor --help'\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// --- The identity found in the directory ------------------------------------------------------

TEST(Identity, FromTheNamesOfSourcesAndOutputs) {
  using Names = std::vector<std::string>;
  using Ids = std::vector<Identity>;
  const std::optional<std::string> none;
  struct Case {
    const char* what;
    Names names;
    IdentityFiles kind;
    std::optional<std::string> line_id;
    std::optional<std::string> train_number;
    Ids expected;
  };
  const IdentityFiles sources = IdentityFiles::kSources;
  const IdentityFiles outputs = IdentityFiles::kOutputs;
  const Case cases[] = {
      {"the default scenario's texts",
       {"QUELDRANO 2_555-.txt", "QUELDRANO 2_555_note.txt", "QUELDRANO 2_555_rallentamenti.txt",
        "QUELDRANO 2_555_scheda_treno.txt", "QUELDRANO 2_linea.txt"},
       sources,
       none,
       none,
       {{"QUELDRANO 2", "555"}}},
      {"a train source without its line source",
       {"A_7-.txt", "B_linea.txt"},
       sources,
       none,
       none,
       {}},
      {"two trains on one line",
       {"A_7-.txt", "A_8-.txt", "A_linea.txt"},
       sources,
       none,
       none,
       {{"A", "7"}, {"A", "8"}}},
      {"two trains, one given",
       {"A_7-.txt", "A_8-.txt", "A_linea.txt"},
       sources,
       none,
       "8",
       {{"A", "8"}}},
      {"a line id holding _",
       {"A_B_7-.txt", "A_B_linea.txt", "A_linea.txt"},
       sources,
       none,
       none,
       {{"A", "B_7"}, {"A_B", "7"}}},
      {"a line id that is refused", {"._7-.txt", "._linea.txt"}, sources, none, none, {}},
      {"outputs",
       {"A_7.dat", "A_7.sim", "A_linea.dat", "A_7.svg"},
       outputs,
       none,
       none,
       {{"A", "7"}}},
      {"outputs split at the last _", {"A_B_7.sim"}, outputs, none, none, {{"A_B", "7"}}},
      {"outputs split after the line id given", {"A_B_7.sim"}, outputs, "A", none, {{"A", "B_7"}}},
      {"outputs split before the train given",
       {"A_B_7.sim", "C_7.sim"},
       outputs,
       none,
       "B_7",
       {{"A", "B_7"}}},
      {"a record output without _", {"A.sim"}, outputs, none, none, {}},
      {"a record output paired with its line output, as compile pairs the sources",
       {"A_B_1.dat", "A_B_1.sim", "A_linea.dat"},
       outputs,
       none,
       none,
       {{"A", "B_1"}}},
      {"a record output paired with a line source",
       {"A_B_1-.txt", "A_B_1.sim", "A_linea.txt"},
       outputs,
       none,
       none,
       {{"A", "B_1"}}},
      {"an identity whose files would share a name is not offered",
       {"X_Y_linea-.txt", "X_Y_linea.txt", "X_linea.txt"},
       sources,
       none,
       none,
       {{"X", "Y_linea"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(identities_in(c.names, c.kind, c.line_id, c.train_number), c.expected);
  }
}

// The default scenario's sources in `dir` under the identity given.
void write_sources_as(const ScratchDir& dir, const std::string& line_id,
                      const std::string& train_number) {
  const std::string line = test::SourceText::default_line().text();
  const std::string train = test::SourceText::default_train().text();
  write_bytes(dir.file(line_id + "_linea.txt"), line);
  write_bytes(dir.file(line_id + "_" + train_number + "-.txt"), train);
}

// plot and view find the scenario as compile does: a train number holding "_" is not split off
// where the record output's name has its last "_".
TEST(Identity, PlotAndViewFindTheScenarioCompileFound) {
  ScratchDir dir;
  write_sources_as(dir, "A", "B_1");
  Result compiled = run_compactor({"compile", dir.str(), "-q"});
  ASSERT_EQ(compiled.exit_status, 0) << compiled.err;
  Result plotted = run_compactor({"plot", dir.str()});
  EXPECT_EQ(plotted.exit_status, 0) << plotted.err;
  EXPECT_EQ(plotted.err, "");
  EXPECT_EQ(plotted.out, "wrote " + dir.file("A_B_1.svg") + " (" +
                             std::to_string(read_bytes(dir.file("A_B_1.svg")).size()) +
                             " bytes)\n");
  Result viewed = run_compactor({"view", dir.str(), "-q"});
  EXPECT_EQ(viewed.exit_status, 0) << viewed.err;
  EXPECT_EQ(viewed.err, "");
  const std::string page = read_bytes(dir.file("A_B_1.html"));
  EXPECT_EQ(page.find("error 101"), std::string::npos);
  EXPECT_NE(page.find("\"plan\":{"), std::string::npos);
}

// An output that would overwrite a file of another scenario in the directory is a usage error,
// and the list of scenarios offers only identities the program takes.
TEST(Identity, AnOutputNameOfAnotherScenarioIsAUsageError) {
  ScratchDir dir;
  write_sources_as(dir, "X", "Y_linea");  // its grid output: X_Y_linea.dat
  write_sources_as(dir, "X_Y", "5");      // its line output: X_Y_linea.dat
  const auto before = snapshot(dir.path());
  Result chosen = run_compactor({"compile", dir.str(), "--line-id", "X", "--train", "Y_linea"});
  EXPECT_EQ(chosen.exit_status, 2);
  EXPECT_EQ(chosen.err, "compactor: line \"X\" train \"Y_linea\" would write X_Y_linea.dat, "
                        "which is a file of line \"X_Y\" train \"5\" in " +
                            dir.str() +
                            ": rename one of their sources\ncompactor: try 'compactor --help'\n");
  // The other way round too: the line output of X_Y is the grid output of X, Y_linea.
  Result other = run_compactor({"compile", dir.str(), "--line-id", "X_Y", "--train", "5"});
  EXPECT_EQ(other.exit_status, 2);
  EXPECT_NE(other.err.find("would write X_Y_linea.dat, which is a file of line \"X\" train "
                           "\"Y_linea\""),
            std::string::npos)
      << other.err;
  Result listed = run_compactor({"check", dir.str()});
  EXPECT_EQ(listed.exit_status, 2);
  EXPECT_NE(listed.err.find("line \"X\" train \"Y_linea\""), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("line \"X_Y\" train \"5\""), std::string::npos) << listed.err;
  EXPECT_EQ(listed.err.find("train \"linea\""), std::string::npos) << listed.err;
  EXPECT_EQ(snapshot(dir.path()), before);
  // Without the first scenario, the second compiles: X_Y_5-.txt read as line X's train "Y_5"
  // is the same train source, not another scenario.
  std::filesystem::remove(dir.file("X_Y_linea-.txt"));
  other = run_compactor({"compile", dir.str(), "--line-id", "X_Y", "--train", "5", "-q"});
  EXPECT_EQ(other.exit_status, 0) << other.err;
}

// A train source without its line source is named with the line source it needs.
TEST(Identity, ATrainSourceWithoutItsLineSourceIsNamed) {
  ScratchDir dir;
  write_bytes(dir.file("L_2-.txt"), test::SourceText::default_train().text());
  write_bytes(dir.file("A_B_7-.txt"), test::SourceText::default_train().text());
  Result r = run_compactor({"compile", dir.str()});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err, "compactor: " + dir.str() +
                       " holds no line source for its train source A_B_7-.txt: it needs "
                       "A_linea.txt or A_B_linea.txt; L_2-.txt: it needs L_linea.txt\n"
                       "compactor: try 'compactor --help'\n");
  // Beside the default scenario's own train source, the compile names its line source.
  write_bytes(dir.file(test::kTrainSource), test::SourceText::default_train().text());
  r = run_compactor({"check", dir.str()});
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_NE(r.err.find(std::string(test::kLineSource)), std::string::npos) << r.err;
}

// Under check --json a problem that ends the run before its report is still one JSON document on
// stdout, with the exit status of the text report; the text still goes to stderr.
TEST(CommandLine, CheckJsonGivesUsageAndInputProblemsAsJson) {
  ScratchDir dir;
  write_sources_as(dir, "A", "1");
  write_sources_as(dir, "A", "2");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {{"check", dir.str(), "--json"}, 2, "usage"},  // two scenarios
      {{"check", dir.str(), "--json", "--train"}, 2, "usage"},
      {{"check", dir.str(), "--json", "--train", "1", "--line-id", "A", "extra"}, 2, "usage"},
  };
  for (const Case& c : cases) {
    Result r = run_compactor(c.args);
    EXPECT_EQ(r.exit_status, c.status) << c.args.back();
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << r.out;
    ASSERT_EQ(j["diagnostics"].size(), 1u);
    EXPECT_EQ(j["diagnostics"][0]["code"], c.code);
    EXPECT_EQ(j["diagnostics"][0]["severity"], "error");
    EXPECT_EQ(j["errors"], 1);
    EXPECT_TRUE(j["outcome"].is_null());
    EXPECT_NE(r.err.find(j["diagnostics"][0]["message"].get<std::string>()), std::string::npos);
  }
  // A source that stands there and cannot be read: a directory at its name.
  std::filesystem::create_directory(dir.file("A_3-.txt"));
  Result unreadable = run_compactor({"check", dir.str(), "--line-id", "A", "--train", "3", "--json"});
  EXPECT_EQ(unreadable.exit_status, 3);
  EXPECT_EQ(nlohmann::json::parse(unreadable.out)["diagnostics"][0]["code"], "cannot-read");
  // Without --json, and for a compile, stdout stays empty.
  EXPECT_EQ(run_compactor({"check", dir.str()}).out, "");
  EXPECT_EQ(run_compactor({"compile", dir.str(), "--json"}).out, "");
}

// A directory whose sources do not form one scenario is named with what it holds and what it
// lacks; a directory that does not exist and a file given for one are named as such.
TEST(Identity, WhatTheDirectoryHoldsIsNamedWhenItFormsNoScenario) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> files;  // name, "line" or "train"
    std::vector<std::string> options;
    int status;
    std::string said;  // after "compactor: ", with DIR for the directory
  };
  const Case cases[] = {
      {{{"VALLEVERDE_linea.txt", "line"}, {"VALLEVERDE_2417.txt", "train"}},
       {},
       2,
       "no train source for line \"VALLEVERDE\" in DIR: found VALLEVERDE_2417.txt (a train "
       "source name ends in \"-.txt\")\n"},
      {{{"VALLEVERDE_linea.txt", "line"}, {"valleverde_2417-.txt", "train"}},
       {},
       2,
       "DIR holds no line source for its train source valleverde_2417-.txt: it needs "
       "valleverde_linea.txt (found VALLEVERDE_linea.txt, whose letter case differs)\n"},
      {{{"VALLEVERDE_linea.txt", "line"}, {"VALLEVERDE_2417_note.txt", "train"}},
       {"--train", "2417"},
       2,
       "no train source for line \"VALLEVERDE\" in DIR: it needs VALLEVERDE_2417-.txt\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    for (const auto& [name, kind] : c.files) {
      write_bytes(dir.file(name), kind == "line" ? test::SourceText::default_line().text()
                                                 : test::SourceText::default_train().text());
    }
    for (const char* command : {"compile", "check"}) {
      std::vector<std::string> args = {command, dir.str()};
      args.insert(args.end(), c.options.begin(), c.options.end());
      Result r = run_compactor(args);
      std::string said = c.said;
      said.replace(said.find("DIR"), 3, dir.str());
      EXPECT_EQ(r.exit_status, c.status) << r.err;
      EXPECT_EQ(r.err, "compactor: " + said + "compactor: try 'compactor --help'\n");
    }
  }
  ScratchDir dir;
  const std::string missing = dir.file("nowhere");
  for (const char* command : {"compile", "check", "plot", "view"}) {
    Result r = run_compactor({command, missing});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.err, "compactor: cannot read " + missing + ": the directory does not exist\n");
  }
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const std::string file = dir.file(test::kTrainSource);
  for (const char* command : {"compile", "check", "plot"}) {
    Result r = run_compactor({command, file});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, "compactor: " + file + " is a file, not a directory: compactor " + command +
                         " takes the directory that holds the scenario's files\n"
                         "compactor: try 'compactor --help'\n");
  }
}

// A compile that writes outputs of new names beside those of another train of its line, whose
// train source is gone (a train number changed in the name), says so; a train whose source
// stands beside it is a train of the same line at work, and is not named.
TEST(Identity, OutputsOfAnotherTrainOfTheLineAreNamed) {
  ScratchDir dir;
  write_sources_as(dir, "VALLE", "2417");
  ASSERT_EQ(run_compactor({"compile", dir.str()}).err, "");
  std::filesystem::rename(dir.file("VALLE_2417-.txt"), dir.file("VALLE_2418-.txt"));
  Result r = run_compactor({"compile", dir.str()});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "compactor: warning: " + dir.str() +
                       " holds VALLE_2417.sim, an output of train \"2417\" of line \"VALLE\", "
                       "whose train source is not there; this compile writes VALLE_2418.sim "
                       "beside it\n");
  EXPECT_TRUE(std::filesystem::exists(dir.file("VALLE_2418.sim")));
  write_bytes(dir.file("VALLE_2417-.txt"), test::SourceText::default_train().text());
  EXPECT_EQ(run_compactor({"compile", dir.str(), "--train", "2418"}).err, "");
}

TEST(Identity, FileNamesThatTwoFilesWouldShare) {
  EXPECT_EQ(shared_file_name({"QUELDRANO 2", "555"}), "");
  EXPECT_EQ(shared_file_name({"Q", "linea"}), "Q_linea.dat");
  EXPECT_EQ(shared_file_name({"Q", "Linea"}), "Q_linea.dat");
  EXPECT_EQ(shared_file_name({"Q", "linea-"}), "");
}

TEST(Identity, CompileCheckAndPlotFindTheScenarioInTheirDirectory) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  for (const std::string& name : {test::kLineSource, test::kTrainSource}) {
    std::string renamed = name;
    renamed.replace(0, std::string("QUELDRANO 2").size(), "VALLE");
    if (name == test::kTrainSource) renamed.replace(renamed.find("555"), 3, "7");
    std::filesystem::rename(dir.file(name), dir.file(renamed));
  }
  EXPECT_EQ(run_compactor({"check", dir.str()}).err, "compactor: 0 warnings, 0 errors\n");
  Result compiled = run_compactor({"compile", dir.str(), "-v"});
  EXPECT_EQ(compiled.exit_status, 0) << compiled.err;
  EXPECT_NE(compiled.out.find("wrote " + dir.file("VALLE_7.sim")), std::string::npos);
  Result plotted = run_compactor({"plot", dir.str()});
  EXPECT_EQ(plotted.exit_status, 0) << plotted.err;
  EXPECT_EQ(plotted.out.rfind("wrote " + dir.file("VALLE_7.svg"), 0), 0u) << plotted.out;

  // A second scenario: the directory no longer says which one is meant.
  write_bytes(dir.file("VALLE_8-.txt"), read_bytes(dir.file("VALLE_7-.txt")));
  ASSERT_EQ(run_compactor({"compile", dir.str(), "--train", "8"}).exit_status, 0);
  const auto before = snapshot(dir.path());
  for (const char* command : {"check", "compile"}) {
    Result r = run_compactor({command, dir.str()});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("compactor: " + dir.str() +
                         " holds the sources of more than one scenario (line \"VALLE\" train "
                         "\"7\"; line \"VALLE\" train \"8\"): choose one with --train\n"),
              std::string::npos)
        << r.err;
  }
  Result plot = run_compactor({"plot", dir.str()});
  EXPECT_EQ(plot.exit_status, 2);
  EXPECT_NE(plot.err.find(" holds the outputs of more than one scenario"), std::string::npos);
  EXPECT_EQ(snapshot(dir.path()), before);
  EXPECT_EQ(run_compactor({"check", dir.str(), "--train=7"}).exit_status, 0);
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
