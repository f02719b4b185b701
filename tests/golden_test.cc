// compactor check on small broken sources, compared with what it is expected to say.
//
// Each case is a directory tests/sources/CASE/ holding the two sources of the default identity
// ("QUELDRANO 2_linea.txt" and "QUELDRANO 2_555-.txt"), beside its expected report
// tests/sources/CASE.txt: the exact stderr of `compactor check` on a copy of the directory, with
// the scratch directory's path in front of CASE left out (so a path is shown as "CASE/FILE").
// The exit status must be 1 when the report's last line counts errors and 0 when it does not,
// nothing may appear on stdout, and check must leave the case's files as they were.
//
// Rebase: when the messages change on purpose, run
//   COMPACTOR_REBASE=1 build/tests/compactor_tests --gtest_filter='Golden.*'
// It writes each report that differs (or is missing) from what the program now says, removes a
// CASE.txt whose CASE/ directory is gone, and lists what it changed; the exit status and the
// other checks still apply. Review the result with `git diff tests/sources` before committing.
// A new case is a new directory: the rebase writes its first report.
//
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::snapshot;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

const fs::path kCases = fs::path(COMPACTOR_SOURCE_DIR) / "tests" / "sources";

bool rebasing() {
  const char* v = std::getenv("COMPACTOR_REBASE");
  return v != nullptr && std::string(v) == "1";
}

// Every occurrence of `from` in `text` replaced with `to`.
std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The exit status a report stands for: 1 when its last line counts one error or more.
int status_of(const std::string& report) {
  std::string last = report.substr(0, report.find_last_not_of('\n') + 1);
  last = last.substr(last.rfind('\n') == std::string::npos ? 0 : last.rfind('\n') + 1);
  std::smatch m;
  if (!std::regex_search(last, m, std::regex("([0-9]+) errors?"))) return -1;
  return std::stoi(m[1]) > 0 ? 1 : 0;
}

// Writes the file through a temporary one beside it, so that an interrupted rebase leaves either
// the old report or the new one.
void replace_report(const fs::path& path, const std::string& text) {
  fs::path temporary = path;
  temporary += ".tmp";
  write_bytes(temporary, text);
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) ADD_FAILURE() << "cannot replace " << path << ": " << ec.message();
}

struct Outcome {
  std::string report;  // stderr with the scratch path left out
  int exit_status;
};

// check on a scratch copy of the case directory; the copy must stay as it was.
Outcome check_copy(const std::string& name) {
  ScratchDir scratch;
  fs::path copy = scratch.path() / name;
  fs::create_directory(copy);
  for (const auto& [file, bytes] : snapshot(kCases / name)) write_bytes(copy / file, bytes);
  const auto before = snapshot(copy);
  Result r = run_compactor({"check", copy.string()});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(snapshot(copy), before) << "check changed the files of " << name;
  return {replace_all(r.err, scratch.str() + "/", ""), r.exit_status};
}

// The case directories, and the reports, by name.
void list_cases(std::set<std::string>& cases, std::set<std::string>& reports) {
  for (const auto& e : fs::directory_iterator(kCases)) {
    std::string name = e.path().filename().string();
    if (e.is_directory()) {
      cases.insert(name);
    } else if (e.path().extension() == ".txt") {
      reports.insert(e.path().stem().string());
    }
  }
}

TEST(Golden, CheckReportsOnBrokenSources) {
  std::set<std::string> cases;
  std::set<std::string> reports;
  list_cases(cases, reports);
  ASSERT_FALSE(cases.empty()) << "no cases in " << kCases;
  const bool rebase = rebasing();
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    const fs::path expected_path = kCases / (name + ".txt");
    Outcome got = check_copy(name);
    EXPECT_EQ(got.exit_status, status_of(got.report)) << got.report;
    const bool have = reports.count(name) != 0;
    const std::string expected = have ? read_bytes(expected_path) : "";
    if (rebase && (!have || expected != got.report)) {
      replace_report(expected_path, got.report);
      std::cout << (have ? "rewrote " : "wrote ") << expected_path.string() << "\n";
      continue;
    }
    ASSERT_TRUE(have) << "no " << expected_path << "; COMPACTOR_REBASE=1 writes it";
    EXPECT_EQ(got.report, expected) << "COMPACTOR_REBASE=1 rewrites " << expected_path;
  }
  for (const std::string& name : reports) {
    if (cases.count(name) != 0) continue;
    const fs::path stale = kCases / (name + ".txt");
    if (rebase) {
      fs::remove(stale);
      std::cout << "removed " << stale.string() << "\n";
    } else {
      ADD_FAILURE() << stale << " has no case directory " << name
                    << "/; COMPACTOR_REBASE=1 removes it";
    }
  }
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
