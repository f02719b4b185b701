// Replacing a file whole, and what a replacement that cannot happen leaves behind.
// POSIX only (the program runs as a child process): tests/win32_test.cc covers the Windows file
// layer.
#ifndef _WIN32
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/build_run.h"
#include "model/model.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::read_bytes;
using test::snapshot;
using test::write_bytes;

class ReplaceFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::is_directory(dir_)); }
  test::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
};

TEST_F(ReplaceFile, CreatesAMissingFile) {
  const fs::path path = dir_ / "QUELDRANO 2_555.sim";
  ASSERT_TRUE(replace_file(path.string(), std::string("a\0b", 3)).ok);
  EXPECT_EQ(read_bytes(path), std::string("a\0b", 3));
  EXPECT_EQ(snapshot(dir_).size(), 1u);
}

TEST_F(ReplaceFile, ReplacesALongerFileWhole) {
  const fs::path path = dir_ / "QUELDRANO 2_555.dat";
  write_bytes(path, std::string(20000, 'x'));
  FileResult r = replace_file(path.string(), "new content");
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(read_bytes(path), "new content");
  EXPECT_EQ(fs::file_size(path), 11u);
  EXPECT_EQ(snapshot(dir_).size(), 1u) << "a temporary file was left behind";

  ASSERT_TRUE(replace_file(path.string(), "").ok);
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(ReplaceFile, FailureLeavesTheOldStateAndNoTemporaryFile) {
  // A file name taken by a directory that holds a file of its own.
  fs::create_directory(dir_ / "taken.dat");
  write_bytes(dir_ / "taken.dat" / "inside", "keep me");
  write_bytes(dir_ / "other.sim", "old");
  const auto before = snapshot(dir_);

  const fs::path cases[] = {dir_ / "missing" / "QUELDRANO 2_555.sim", dir_ / "taken.dat"};
  for (const fs::path& path : cases) {
    FileResult r = replace_file(path.string(), "new content");
    EXPECT_FALSE(r.ok) << path;
    EXPECT_FALSE(r.reason.empty()) << path;
    EXPECT_EQ(snapshot(dir_), before) << path;
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(ReplaceFile, WriteFailureOfASourceEndsTheRunWithStatus3) {
  fs::create_directory(dir_ / "QUELDRANO 2_linea.txt");
  RunOptions opts;
  opts.dir = dir_.string();
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_sources(opts), 3);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      err.rfind("compactor: cannot write " + (dir_ / "QUELDRANO 2_linea.txt").string() + ": ", 0),
      0u)
      << err;
  EXPECT_TRUE(fs::is_directory(dir_ / "QUELDRANO 2_linea.txt"));
  EXPECT_EQ(snapshot(dir_).size(), 1u);
}

// The program itself: an output that cannot be written ends the compile with status 3, and the
// outputs after it are not written.
TEST_F(ReplaceFile, CompileStopsAtAnOutputThatCannotBeWritten) {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  ASSERT_TRUE(
      replace_file((dir_ / line_source_name(m)).string(), test::SourceText::default_line()).ok);
  ASSERT_TRUE(
      replace_file((dir_ / train_source_name(m)).string(), test::SourceText::default_train()).ok);
  fs::create_directory(dir_ / "QUELDRANO 2_linea.dat");
  write_bytes(dir_ / "QUELDRANO 2_linea.dat" / "inside", "keep me");
  const auto before = snapshot(dir_);

  const test::Result r = test::run_compactor({"compile", dir_.string(), "-q"});
  const std::string& messages = r.err;
  ASSERT_EQ(r.signal, 0) << messages;
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_NE(
      messages.find("compactor: cannot write " + (dir_ / "QUELDRANO 2_linea.dat").string() + ": "),
      std::string::npos)
      << messages;
  // Sources kept (compile keeps them), nothing new: no record or grid output, no temporary file.
  EXPECT_EQ(snapshot(dir_), before);
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
