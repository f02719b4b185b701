// Reading a whole file: every byte, in as few reads as the file allows, up to a limit.
// The POSIX file layer: tests/win32_test.cc covers the Windows one.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

class ReadFile : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    test::write_bytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  test::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
};

TEST_F(ReadFile, EveryByte) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  FileResult r;
  std::optional<std::string> back = read_file(write("a.txt", bytes), r);
  ASSERT_TRUE(back.has_value()) << r.reason;
  EXPECT_EQ(*back, bytes);
  back = read_file(write("empty.txt", ""), r);
  ASSERT_TRUE(back.has_value()) << r.reason;
  EXPECT_EQ(*back, "");
}

TEST_F(ReadFile, UpToTheLimit) {
  const uint64_t limit = 1 << 20;
  FileResult r;
  std::optional<std::string> back = read_file(write("exact", std::string(limit, 'x')), r, limit);
  ASSERT_TRUE(back.has_value()) << r.reason;
  EXPECT_EQ(back->size(), limit);
  EXPECT_FALSE(read_file(write("over", std::string(limit + 1, 'x')), r, limit).has_value());
  EXPECT_EQ(r.reason, "larger than 1 MiB");
}

TEST_F(ReadFile, RefusesWhatIsNotARegularFile) {
  FileResult r;
  EXPECT_FALSE(read_file((dir_ / "missing").string(), r).has_value());
  EXPECT_FALSE(r.reason.empty());
  fs::create_directory(dir_ / "sub");
  EXPECT_FALSE(read_file((dir_ / "sub").string(), r).has_value());
  EXPECT_EQ(r.reason, "Is a directory");
}

// What stands at the name decides the reason: nothing at all is "missing" (a source the compile
// then does without), anything else is refused with what it is, without waiting on a FIFO.
TEST_F(ReadFile, SaysWhatStandsAtTheName) {
  fs::create_directory(dir_ / "sub");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  fs::create_symlink(dir_ / "gone", dir_ / "dangling");
  struct Case {
    std::string path;
    bool missing;
    std::string reason;
  };
  const Case cases[] = {
      {(dir_ / "missing").string(), true, "No such file or directory"},
      {(dir_ / "missing" / "below").string(), true, "No such file or directory"},
      {(dir_ / "sub").string(), false, "Is a directory"},
      {(dir_ / "fifo").string(), false, "Is a FIFO, not a regular file"},
      {"/dev/null", false, "Is a character device, not a regular file"},
      {(dir_ / "dangling").string(), false,
       "No such file or directory (a symbolic link whose target does not exist)"},
      {(dir_ / std::string(300, 'n')).string(), false, "File name too long"},
      {write("plain", "x") + "/below", false, "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FileResult r;
    EXPECT_FALSE(read_file(c.path, r).has_value());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.missing, c.missing);
    EXPECT_EQ(r.reason, c.reason);
  }
}

// The identity of the file read changes with its content, its time or its replacement.
TEST_F(ReadFile, IdentityTellsTheFileRead) {
  const std::string path = write("a.txt", "first");
  FileResult r;
  FileIdentity first, again;
  ASSERT_TRUE(read_file(path, r, kMaxSourceBytes, &first).has_value());
  ASSERT_TRUE(read_file(path, r, kMaxSourceBytes, &again).has_value());
  EXPECT_EQ(first, again);
  EXPECT_EQ(first.size, 5u);

  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
  ASSERT_TRUE(read_file(path, r, kMaxSourceBytes, &again).has_value());
  EXPECT_FALSE(first == again) << "a later modification time";
  EXPECT_EQ(first.file_number, again.file_number);

  write("b.txt", "first");
  fs::rename(dir_ / "b.txt", path);
  ASSERT_TRUE(read_file(path, r, kMaxSourceBytes, &again).has_value());
  EXPECT_NE(first.file_number, again.file_number) << "another file under the same name";
}

#ifdef __linux__
// A file whose size says 0 and that holds more: it is read to its end all the same, and still
// refused past the limit.
// A file read in pieces (the line output, by decompile): each piece from its own offset; a file
// cut short since the open fails the read that finds it so and is no longer unchanged; the open
// fails as read_file does.
TEST_F(ReadFile, InPiecesFromAnyOffsetAndToldWhenCutShort) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(i * 13 % 256));
  const std::string path = write("a_linea.dat", bytes);
  FileReader reader;
  FileResult r;
  ASSERT_TRUE(reader.open(path, r)) << r.reason;
  EXPECT_EQ(reader.size(), bytes.size());
  std::string piece(1000, '\0');
  for (uint64_t offset : {150000u, 0u, 199000u}) {
    ASSERT_TRUE(reader.read_at(offset, piece.data(), piece.size(), r)) << r.reason;
    EXPECT_EQ(piece, bytes.substr(offset, piece.size()));
  }
  EXPECT_TRUE(reader.unchanged(r)) << r.reason;
  fs::resize_file(path, 100000);
  EXPECT_FALSE(reader.read_at(150000, piece.data(), piece.size(), r));
  EXPECT_EQ(r.reason, "it changed while it was read");
  EXPECT_FALSE(reader.unchanged(r));
  EXPECT_EQ(r.reason, "it changed while it was read");

  FileReader other;
  EXPECT_FALSE(other.open((dir_ / "missing").string(), r));
  EXPECT_TRUE(r.missing);
  fs::create_directory(dir_ / "sub");
  EXPECT_FALSE(other.open((dir_ / "sub").string(), r));
  EXPECT_EQ(r.reason, "Is a directory");
  EXPECT_FALSE(other.open(path, r, 99999));
  EXPECT_EQ(r.reason, "larger than 0 MiB");
}

TEST_F(ReadFile, FileLongerThanItsSize) {
  const std::string path = "/proc/self/cmdline";
  ASSERT_EQ(fs::file_size(path), 0u);
  const std::string expected = test::read_bytes(path);
  ASSERT_GT(expected.size(), 1u);
  FileResult r;
  std::optional<std::string> back = read_file(path, r);
  ASSERT_TRUE(back.has_value()) << r.reason;
  EXPECT_EQ(*back, expected);
  EXPECT_FALSE(read_file(path, r, expected.size() - 1).has_value());
}
#endif

}  // namespace
}  // namespace compactor

#endif  // _WIN32
