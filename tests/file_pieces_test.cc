// Replacing a file with content handed over in pieces, as the line output is written.
// POSIX only (a file size limit in a child process): tests/win32_test.cc covers the Windows file
// layer.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "platform/files.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::read_bytes;

size_t entries(const fs::path& dir) {
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

class FilePieces : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory(dir_));
    test::write_bytes(path_, std::string(5000, 'o'));
  }
  test::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
  const fs::path path_ = dir_ / test::kPlan;
};

TEST_F(FilePieces, PiecesReplaceTheFileInOrder) {
  FileResult r = replace_file_in_pieces(path_.string(), [](const PieceWriter& write) {
    EXPECT_TRUE(write("ab", 2));
    EXPECT_TRUE(write("", 0));
    EXPECT_TRUE(write("c\0d", 3));
  });
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(read_bytes(path_), std::string("abc\0d", 5));
  EXPECT_EQ(entries(dir_), 1u) << "a temporary file was left behind";
}

// A write that fails halfway (here the file size limit) tells the producer, and leaves the old
// file whole with no temporary file. Run in a child process, which alone gets the limit.
TEST_F(FilePieces, WriteFailingHalfwayKeepsTheOldFile) {
  const test::Result r = test::run_in_child(
      [this] {
        int refused = 0;
        int offered = 0;
        FileResult w = replace_file_in_pieces(path_.string(), [&](const PieceWriter& write) {
          const std::string piece(600, 'n');
          for (int i = 0; i < 5; ++i) {
            ++offered;
            if (!write(piece.data(), piece.size())) {
              ++refused;
              break;
            }
          }
        });
        // The reason goes to stderr; the status says whether the producer was told.
        std::cerr << w.reason;
        return !w.ok && offered == 2 && refused == 1 ? 0 : 1;
      },
      /*file_size_limit=*/1000);
  EXPECT_EQ(r.exit_status, 0) << "the failing write was not refused once, as the second piece";
  EXPECT_NE(r.err, "") << "no reason given";
  EXPECT_EQ(read_bytes(path_), std::string(5000, 'o'));
  EXPECT_EQ(entries(dir_), 1u) << "a temporary file was left behind";
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
