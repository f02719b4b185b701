// compactor check: compiles as compile does, reports, and leaves the directory as it was.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "app/author_tools.h"
#include "tests/author_tools_support.h"

namespace compactor {
namespace {

using author_test::ProgramRun;
using author_test::read_bytes;
using author_test::run_compactor;
using author_test::snapshot;
using author_test::TempDir;
using author_test::write_bytes;

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
  for (const Case& c : cases) EXPECT_EQ(summary_line(c.summary), c.line);
}

TEST(CheckTest, WritesAndDeletesNothing) {
  TempDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).status, 0);
  // Outputs of an earlier compile stay as they are, whatever they hold.
  write_bytes(dir.file(author_test::kRecords), "stale");
  const auto before = snapshot(dir.path());

  ProgramRun clean = run_compactor({"check", dir.str()});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.err, "compactor: 0 warnings, 0 errors\n");
  EXPECT_EQ(clean.out, "");
  EXPECT_EQ(snapshot(dir.path()), before);

  // The same compile as compile: a station off the 50 m grid is error 8; a misspelt keyword is a
  // warning.
  replace_once(dir.file(author_test::kTrainSource), "stazione,   12200", "stazione,   12210");
  replace_once(dir.file(author_test::kLineSource), "pendenza,  1350", "pendnza,  1350");
  const auto broken = snapshot(dir.path());
  ProgramRun bad = run_compactor({"check", dir.str()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("error 8"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("\"pendnza\""), std::string::npos) << bad.err;
  EXPECT_EQ(last_line(bad.err), "compactor: 1 warning, 1 error");
  EXPECT_EQ(snapshot(dir.path()), broken);

  TempDir copy;
  for (const auto& [name, bytes] : broken) write_bytes(copy.file(name), bytes);
  ProgramRun compiled = run_compactor({"compile", copy.str()});
  EXPECT_EQ(compiled.status, bad.status);
}

TEST(CheckTest, WerrorAndOptions) {
  TempDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).status, 0);
  replace_once(dir.file(author_test::kLineSource), "pendenza,  1350", "pendnza,  1350");
  ProgramRun warned = run_compactor({"check", dir.str()});
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(last_line(warned.err), "compactor: 1 warning, 0 errors");
  ProgramRun werror = run_compactor({"check", dir.str(), "--werror"});
  EXPECT_EQ(werror.status, 1);
  EXPECT_EQ(last_line(werror.err), "compactor: 1 warning, 0 errors");

  EXPECT_EQ(run_compactor({"check", dir.str(), "--delete-sources"}).status, 2);
  EXPECT_EQ(run_compactor({"check"}).status, 2);

  // Sources under another identity.
  TempDir other;
  for (const auto& [name, bytes] : snapshot(dir.path())) {
    std::string renamed = name;
    renamed.replace(0, std::string("QUELDRANO 2").size(), "PROVA");
    write_bytes(other.file(renamed), bytes);
  }
  ProgramRun by_id = run_compactor({"check", other.str(), "--line-id", "PROVA", "--no-plan"});
  EXPECT_EQ(by_id.status, 0) << by_id.err;
  ProgramRun missing = run_compactor({"check", other.str()});
  EXPECT_NE(missing.err.find("error 101"), std::string::npos) << missing.err;
  EXPECT_EQ(last_line(missing.err), "compactor: 0 warnings, 1 error");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
