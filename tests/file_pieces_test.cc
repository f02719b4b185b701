// Replacing a file with content handed over in pieces, as the line output is written.
// POSIX only (setrlimit, and tests/child_process.h): tests/win32_test.cc covers the Windows file
// layer.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/child_process.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using child::read_bytes;

size_t entries(const fs::path& dir) {
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

class FilePieces : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory(dir_));
    child::write_bytes(path_, std::string(5000, 'o'));
  }
  child::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
  const fs::path path_ = dir_ / child::kPlan;
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
              read_bytes(path_) == std::string(5000, 'o') && entries(dir_) == 1;
    ::_exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
