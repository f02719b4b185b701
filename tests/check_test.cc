// compactor check: compiles as compile does, reports, and leaves the directory as it was.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include "tools/check.h"

#include <gtest/gtest.h>

#include <string>

#include "app/author_tools.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::kLineSource;
using test::kRecords;
using test::kTrainSource;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::snapshot;
using test::SourceText;
using test::write_bytes;

std::string last_line(const std::string& text) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

TEST(CheckTest, SummaryLineCountsWarningsAndErrors) {
  struct Case {
    int warnings;
    int errors;
    int32_t outcome;
    int32_t position;
    const char* line;
  };
  const Case cases[] = {{0, 0, 0, 0, "0 warnings, 0 errors"},
                        {1, 1, 25, 0, "1 warning, 1 error; outcome: error 25"},
                        {2, 0, 0, 0, "2 warnings, 0 errors"},
                        {0, 2, 15, 19450, "0 warnings, 2 errors; outcome: error 15 (at 19450 m)"}};
  for (const Case& c : cases) {
    CheckReport r;
    r.warnings = c.warnings;
    r.errors = c.errors;
    r.outcome_code = c.outcome;
    r.outcome_position = c.position;
    EXPECT_EQ(summary_line(r), c.line);
  }
}

// A source full of stray lines shows its first 200 errors and counts the rest; the outcome is
// the compile's, which they leave as it is.
TEST(CheckTest, ManyStrayLinesAreCappedButCounted) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  std::vector<std::string> stray;
  for (int i = 0; i < 250; ++i) stray.push_back("stray" + std::to_string(i));
  write_bytes(dir.file(kLineSource), SourceText::default_line().insert_before("[fine]", stray));
  Result r = run_compactor({"check", dir.str()});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  size_t shown = 0;
  for (size_t at = r.err.find(": error unknown-keyword: "); at != std::string::npos;
       at = r.err.find(": error unknown-keyword: ", at + 1)) {
    ++shown;
  }
  EXPECT_EQ(shown, 200u);
  EXPECT_NE(r.err.find("compactor: 50 more errors not shown\n"), std::string::npos);
  EXPECT_EQ(last_line(r.err), "compactor: 0 warnings, 250 errors; outcome: no error");
}

TEST(CheckTest, WritesAndDeletesNothing) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  // Outputs of an earlier compile stay as they are, whatever they hold.
  write_bytes(dir.file(kRecords), "stale");
  const auto before = snapshot(dir.path());

  Result clean = run_compactor({"check", dir.str()});
  EXPECT_EQ(clean.exit_status, 0) << clean.err;
  EXPECT_EQ(clean.err, "compactor: 0 warnings, 0 errors\n");
  EXPECT_EQ(clean.out, "");
  EXPECT_EQ(snapshot(dir.path()), before);

  // The same compile as compile: a station off the 50 m grid is error 8; a misspelt keyword is an
  // error of the program's own.
  write_bytes(dir.file(kTrainSource),
              SourceText::default_train().set_field("stazione,   12200", 1, "12210"));
  write_bytes(dir.file(kLineSource),
              SourceText::default_line().set_field("pendenza,  1350", 0, "pendnza"));
  const auto broken = snapshot(dir.path());
  Result bad = run_compactor({"check", dir.str()});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find("error 8"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("\"pendnza\""), std::string::npos) << bad.err;
  EXPECT_EQ(last_line(bad.err), "compactor: 0 warnings, 2 errors; outcome: error 8 (at 12210 m)");
  EXPECT_EQ(snapshot(dir.path()), broken);

  ScratchDir copy;
  for (const auto& [name, bytes] : broken) write_bytes(copy.file(name), bytes);
  Result compiled = run_compactor({"compile", copy.str()});
  EXPECT_EQ(compiled.exit_status, bad.exit_status);
}

TEST(CheckTest, WerrorAndOptions) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  // A gradient off the 50 m grid is a warning.
  write_bytes(dir.file(kLineSource),
              SourceText::default_line().set_field("pendenza,  1350", 1, "1351"));
  Result warned = run_compactor({"check", dir.str()});
  EXPECT_EQ(warned.exit_status, 0);
  EXPECT_EQ(last_line(warned.err), "compactor: 1 warning, 0 errors");
  Result werror = run_compactor({"check", dir.str(), "--werror"});
  EXPECT_EQ(werror.exit_status, 1);
  EXPECT_EQ(last_line(werror.err),
            "compactor: 1 warning, 0 errors; with --werror the warnings fail it");

  EXPECT_EQ(run_compactor({"check", dir.str(), "--delete-sources"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"check"}).exit_status, 2);

  // Sources under another identity.
  ScratchDir other;
  for (const auto& [name, bytes] : snapshot(dir.path())) {
    std::string renamed = name;
    renamed.replace(0, std::string("QUELDRANO 2").size(), "PROVA");
    write_bytes(other.file(renamed), bytes);
  }
  Result by_id = run_compactor({"check", other.str(), "--line-id", "PROVA", "--no-plan"});
  EXPECT_EQ(by_id.exit_status, 0) << by_id.err;
  Result missing = run_compactor({"check", other.str(), "--line-id", "ALTRA"});
  EXPECT_NE(missing.err.find("error 101"), std::string::npos) << missing.err;
  EXPECT_EQ(last_line(missing.err), "compactor: 0 warnings, 1 error; outcome: error 101");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
