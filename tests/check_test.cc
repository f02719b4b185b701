// compactor check: compiles as compile does, reports, and leaves the directory as it was.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>

#include "tools/check.h"

#include <string>

#include "app/author_tools.h"
#include "tests/author_tools_support.h"

namespace compactor {
namespace {

using author_test::snapshot;
using child::read_bytes;
using child::Result;
using child::run_compactor;
using child::ScratchDir;
using child::write_bytes;

std::string last_line(const std::string& text) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

void replace_once(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_bytes(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  write_bytes(path, text);
}

TEST(CheckTest, SummaryLineCountsWarningsAndErrors) {
  struct Case {
    RunSummary summary;
    const char* line;
  };
  const Case cases[] = {{{0, 0}, "0 warnings, 0 errors"},
                        {{1, 1}, "1 warning, 1 error"},
                        {{2, 0}, "2 warnings, 0 errors"}};
  for (const Case& c : cases) EXPECT_EQ(summary_line(c.summary.warnings, c.summary.errors), c.line);
}

// A source full of stray lines shows its first 200 warnings and counts the rest.
TEST(CheckTest, ManyWarningsAreCappedButCounted) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  std::string stray;
  for (int i = 0; i < 250; ++i) stray += "stray" + std::to_string(i) + "\r\n";
  replace_once(dir.file(child::kLineSource), "[fine]\r\n", stray + "[fine]\r\n");
  Result r = run_compactor({"check", dir.str()});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  size_t shown = 0;
  for (size_t at = r.err.find(": warning: "); at != std::string::npos;
       at = r.err.find(": warning: ", at + 1)) {
    ++shown;
  }
  EXPECT_EQ(shown, 200u);
  EXPECT_NE(r.err.find("compactor: 50 more warnings not shown\n"), std::string::npos);
  EXPECT_EQ(last_line(r.err), "compactor: 250 warnings, 0 errors");
}

TEST(CheckTest, WritesAndDeletesNothing) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  // Outputs of an earlier compile stay as they are, whatever they hold.
  write_bytes(dir.file(child::kRecords), "stale");
  const auto before = snapshot(dir.path());

  Result clean = run_compactor({"check", dir.str()});
  EXPECT_EQ(clean.exit_status, 0) << clean.err;
  EXPECT_EQ(clean.err, "compactor: 0 warnings, 0 errors\n");
  EXPECT_EQ(clean.out, "");
  EXPECT_EQ(snapshot(dir.path()), before);

  // The same compile as compile: a station off the 50 m grid is error 8; a misspelt keyword is a
  // warning.
  replace_once(dir.file(child::kTrainSource), "stazione,   12200", "stazione,   12210");
  replace_once(dir.file(child::kLineSource), "pendenza,  1350", "pendnza,  1350");
  const auto broken = snapshot(dir.path());
  Result bad = run_compactor({"check", dir.str()});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find("error 8"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("\"pendnza\""), std::string::npos) << bad.err;
  EXPECT_EQ(last_line(bad.err), "compactor: 1 warning, 1 error");
  EXPECT_EQ(snapshot(dir.path()), broken);

  ScratchDir copy;
  for (const auto& [name, bytes] : broken) write_bytes(copy.file(name), bytes);
  Result compiled = run_compactor({"compile", copy.str()});
  EXPECT_EQ(compiled.exit_status, bad.exit_status);
}

TEST(CheckTest, WerrorAndOptions) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  replace_once(dir.file(child::kLineSource), "pendenza,  1350", "pendnza,  1350");
  Result warned = run_compactor({"check", dir.str()});
  EXPECT_EQ(warned.exit_status, 0);
  EXPECT_EQ(last_line(warned.err), "compactor: 1 warning, 0 errors");
  Result werror = run_compactor({"check", dir.str(), "--werror"});
  EXPECT_EQ(werror.exit_status, 1);
  EXPECT_EQ(last_line(werror.err), "compactor: 1 warning, 0 errors");

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
  EXPECT_EQ(last_line(missing.err), "compactor: 0 warnings, 1 error");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
