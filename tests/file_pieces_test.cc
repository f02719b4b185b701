// Replacing a file with content handed over in pieces, as the line output is written.
// POSIX only (mkdtemp, setrlimit): tests/win32_test.cc covers the Windows file layer.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/files.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

std::string read_whole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t entries(const fs::path& dir) {
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

class FilePieces : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/file_pieces_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ / "QUELDRANO 2_linea.dat";
    std::ofstream(path_, std::ios::binary) << std::string(5000, 'o');
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  fs::path path_;
};

TEST_F(FilePieces, PiecesReplaceTheFileInOrder) {
  FileResult r = replace_file_in_pieces(path_.string(), [](const PieceWriter& write) {
    EXPECT_TRUE(write("ab", 2));
    EXPECT_TRUE(write("", 0));
    EXPECT_TRUE(write("c\0d", 3));
  });
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(read_whole(path_), std::string("abc\0d", 5));
  EXPECT_EQ(entries(dir_), 1u) << "a temporary file was left behind";
}

// A write that fails halfway (here the file size limit) tells the producer, and leaves the old
// file whole with no temporary file. Run in a child process, which alone gets the limit.
TEST_F(FilePieces, WriteFailingHalfwayKeepsTheOldFile) {
  auto child = [this] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      1000, 1000
    };
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    int refused = 0;
    int offered = 0;
    FileResult r = replace_file_in_pieces(path_.string(), [&](const PieceWriter& write) {
      const std::string piece(600, 'n');
      for (int i = 0; i < 5; ++i) {
        ++offered;
        if (!write(piece.data(), piece.size())) {
          ++refused;
          break;
        }
      }
    });
    bool ok = !r.ok && !r.reason.empty() && refused == 1 && offered == 2 &&
              read_whole(path_) == std::string(5000, 'o') && entries(dir_) == 1;
    ::_exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
