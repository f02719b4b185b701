// Replacing a file whole, and what a replacement that cannot happen leaves behind.
// POSIX only (mkdtemp, std::system): tests/win32_test.cc covers the Windows file layer.
#ifndef _WIN32
#include "app/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "model/model.h"
#include "sources/writers.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

std::string read_whole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_whole(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry below dir with the content of each regular file ("<dir>" for directories).
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string rel = fs::relative(e.path(), dir).string();
    state[rel] = e.is_directory() ? "<dir>" : read_whole(e.path());
  }
  return state;
}

class ReplaceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/files_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(ReplaceFile, CreatesAMissingFile) {
  const fs::path path = dir_ / "QUELDRANO 2_555.sim";
  ASSERT_TRUE(replace_file(path.string(), std::string("a\0b", 3)).ok);
  EXPECT_EQ(read_whole(path), std::string("a\0b", 3));
  EXPECT_EQ(snapshot(dir_).size(), 1u);
}

TEST_F(ReplaceFile, ReplacesALongerFileWhole) {
  const fs::path path = dir_ / "QUELDRANO 2_555.dat";
  write_whole(path, std::string(20000, 'x'));
  FileResult r = replace_file(path.string(), "new content");
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(read_whole(path), "new content");
  EXPECT_EQ(fs::file_size(path), 11u);
  EXPECT_EQ(snapshot(dir_).size(), 1u) << "a temporary file was left behind";

  ASSERT_TRUE(replace_file(path.string(), "").ok);
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(ReplaceFile, FailureLeavesTheOldStateAndNoTemporaryFile) {
  // A file name taken by a directory that holds a file of its own.
  fs::create_directory(dir_ / "taken.dat");
  write_whole(dir_ / "taken.dat" / "inside", "keep me");
  write_whole(dir_ / "other.sim", "old");
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

TEST_F(ReplaceFile, WriteFailureEndsTheRunWithStatus3) {
  fs::create_directory(dir_ / "taken.sim");
  const std::string path = (dir_ / "taken.sim").string();
  EXPECT_EXIT(write_file_or_exit(path, "x"), ::testing::ExitedWithCode(3),
              "compactor: cannot write " + path + ": ");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(snapshot(dir_).size(), 1u);
}

// The program itself: an output that cannot be written ends the compile with status 3, and the
// outputs after it are not written.
TEST_F(ReplaceFile, CompileStopsAtAnOutputThatCannotBeWritten) {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  ASSERT_TRUE(
      replace_file((dir_ / linea_file_name(m)).string(), text_from_table(linea_table())).ok);
  ASSERT_TRUE(
      replace_file((dir_ / treno_file_name(m)).string(), text_from_table(treno_table())).ok);
  fs::create_directory(dir_ / "QUELDRANO 2_linea.dat");
  write_whole(dir_ / "QUELDRANO 2_linea.dat" / "inside", "keep me");
  const auto before = snapshot(dir_);

  const fs::path err = dir_.string() + ".stderr";
  const std::string command = std::string("'") + COMPACTOR_BINARY + "' compile '" + dir_.string() +
                              "' -q 2>'" + err.string() + "'";
  int status = std::system(command.c_str());
  const std::string messages = read_whole(err);
  fs::remove(err);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
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
