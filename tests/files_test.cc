// Replacing a file whole, and what a replacement that cannot happen leaves behind.
// POSIX only (the program runs as a child process): tests/win32_test.cc covers the Windows file
// layer.
#ifndef _WIN32
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/build_run.h"
#include "model/model.h"
#include "platform/platform.h"
#include "platform/temporaries.h"
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

// The outputs as one set: all written first, then renamed. A name taken by a directory is found
// before anything is renamed; a set never put in place leaves nothing behind.
TEST_F(ReplaceFile, StagedFilesGoInPlaceTogetherOrNotAtAll) {
  const std::string names[] = {"QUELDRANO 2_linea.dat", "QUELDRANO 2_555.sim",
                               "QUELDRANO 2_555.dat"};
  for (const std::string& name : names) write_bytes(dir_ / name, "old " + name);
  {
    StagedFiles staged;
    for (const std::string& name : names) ASSERT_TRUE(staged.add((dir_ / name).string(), "new").ok);
    EXPECT_EQ(snapshot(dir_).size(), 6u) << "three temporary files beside the old ones";
  }
  for (const std::string& name : names) EXPECT_EQ(read_bytes(dir_ / name), "old " + name);
  EXPECT_EQ(snapshot(dir_).size(), 3u) << "a set not put in place left a temporary file";

  fs::remove(dir_ / names[2]);
  fs::create_directory(dir_ / names[2]);
  const auto before = snapshot(dir_);
  StagedFiles staged;
  for (const std::string& name : names) ASSERT_TRUE(staged.add((dir_ / name).string(), "new").ok);
  std::string failed;
  FileResult r = staged.commit(failed);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, "Is a directory");
  EXPECT_EQ(failed, (dir_ / names[2]).string());
  EXPECT_EQ(snapshot(dir_), before);

  fs::remove(dir_ / names[2]);
  StagedFiles again;
  for (const std::string& name : names) ASSERT_TRUE(again.add((dir_ / name).string(), "new").ok);
  ASSERT_TRUE(again.commit(failed).ok);
  for (const std::string& name : names) EXPECT_EQ(read_bytes(dir_ / name), "new");
  EXPECT_EQ(snapshot(dir_).size(), 3u);
}

// The staged files are renamed from the one that replaces the smallest old file to the one that
// replaces the largest. A staged file whose temporary file has gone stops the renames there:
// those before it are in place, those after it are not.
TEST_F(ReplaceFile, StagedFilesReplaceTheLargestOldFileLast) {
  const std::string large = "QUELDRANO 2_linea.dat", middle = "QUELDRANO 2_555.sim",
                    small = "QUELDRANO 2_555.dat";
  write_bytes(dir_ / large, std::string(30000, 'l'));
  write_bytes(dir_ / middle, std::string(2000, 'm'));
  write_bytes(dir_ / small, "s");
  StagedFiles staged;
  for (const std::string& name : {large, middle, small}) {
    ASSERT_TRUE(staged.add((dir_ / name).string(), "new").ok);
  }
  int64_t pid = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    if (is_temporary_of(e.path().filename().string(), middle, pid)) fs::remove(e.path());
  }
  std::string failed;
  EXPECT_FALSE(staged.commit(failed).ok);
  EXPECT_EQ(failed, (dir_ / middle).string());
  EXPECT_EQ(read_bytes(dir_ / small), "new");
  EXPECT_EQ(read_bytes(dir_ / middle), std::string(2000, 'm'));
  EXPECT_EQ(read_bytes(dir_ / large), std::string(30000, 'l'));
}

// A temporary file carries the name it replaces and the id of the process that writes it, which
// is how a later run tells one left by a dead run from one a live run is writing.
TEST_F(ReplaceFile, TemporaryNamesCarryTheProcess) {
  const fs::path path = dir_ / "QUELDRANO 2_555.sim";
  std::vector<std::string> seen;
  ASSERT_TRUE(replace_file_in_pieces(path.string(), [&](const PieceWriter& write) {
                for (const auto& e : fs::directory_iterator(dir_)) {
                  seen.push_back(e.path().filename().string());
                }
                write("x", 1);
              }).ok);
  ASSERT_EQ(seen.size(), 1u);
  int64_t pid = 0;
  EXPECT_TRUE(is_temporary_of(seen[0], path.filename().string(), pid)) << seen[0];
  EXPECT_EQ(pid, getpid());

  struct Case {
    std::string entry;
    bool temporary;
  };
  const Case cases[] = {
      {"a.sim.tmp-123-abc123", true},  {"a.sim.tmp-1-zzzzzz", true},
      {"a.sim.tmp-123-abc12", false},  {"a.sim.tmp-123-abc1234", false},
      {"a.sim.tmp-123-ABC123", false}, {"a.sim.tmp--abc123", false},
      {"a.sim.tmp-12a-abc123", false}, {"a.sim.tmp-abc123", false},
      {"b.sim.tmp-123-abc123", false}, {"a.sim", false},
      {"a.sim.tmp-4194304-abc123", true},  // Linux's largest process id
      {"a.sim.tmp-123456789012345678-abc123", true},
      {"a.sim.tmp-1234567890123456789-abc123", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_temporary_of(c.entry, "a.sim", pid), c.temporary) << c.entry;
  }
  ASSERT_TRUE(is_temporary_of("a.sim.tmp-4194304-abc123", "a.sim", pid));
  EXPECT_EQ(pid, 4194304);
}

// A legal name that the temporary suffix would make too long (past 255 bytes): its temporary name
// keeps only the start of it, in whole characters, and the file is written. Names of ordinary
// length keep their whole name. A name too long in itself still fails, with the system's reason.
TEST_F(ReplaceFile, LongNamesAreWrittenThroughAShortenedTemporaryName) {
  const std::string a_grave = "\xc3\xa0";  // two bytes
  std::string accented;
  for (int i = 0; i < 125; ++i) accented += a_grave;
  struct Case {
    std::string name;
    bool shortened;
  };
  const Case cases[] = {
      {"QUELDRANO 2_555.sim", false},         {std::string(200, 'n') + ".svg", false},
      {std::string(241, 'n') + ".svg", true},  // shortened whatever the process id
      {std::string(251, 'n') + ".svg", true}, {accented + ".svg", true},  // 254 bytes
  };
  const std::string pid = std::to_string(getpid());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.size());
    const fs::path path = dir_ / c.name;
    std::vector<std::string> seen;
    FileResult r = replace_file_in_pieces(path.string(), [&](const PieceWriter& write) {
      for (const auto& e : fs::directory_iterator(dir_)) {
        seen.push_back(e.path().filename().string());
      }
      write("x", 1);
    });
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(read_bytes(path), "x");
    EXPECT_EQ(snapshot(dir_).size(), 1u);
    fs::remove(path);
    ASSERT_EQ(seen.size(), 1u);
    const std::string& temp = seen[0];
    int64_t owner = 0;
    EXPECT_TRUE(is_temporary_of(temp, c.name, owner)) << temp;
    EXPECT_EQ(owner, getpid());
    const size_t kept = temp.size() - (5 + pid.size() + 1 + 6);
    EXPECT_EQ(temp.substr(kept, 5 + pid.size() + 1), ".tmp-" + pid + "-") << temp;
    EXPECT_EQ(temp.substr(0, kept), c.name.substr(0, kept)) << temp;
    if (c.shortened) {
      EXPECT_LT(kept, c.name.size()) << temp;
      EXPECT_GE(temp.size(), 254u) << "as much of the name as fits, in whole characters";
      EXPECT_LE(temp.size(), 255u);
      EXPECT_NE(static_cast<unsigned char>(c.name[kept]) & 0xC0, 0x80) << "a character cut";
    } else {
      EXPECT_EQ(kept, c.name.size()) << temp;
    }
  }

  FileResult r = replace_file((dir_ / std::string(256, 'n')).string(), "x");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, "File name too long");
  EXPECT_TRUE(snapshot(dir_).empty());

  // The program itself, with the name that first showed it.
  const fs::path svg = dir_ / (std::string(240, 'p') + ".svg");
  test::Result plot =
      test::run_compactor({"plot", test::default_run().dir.str(), "-q", "-o", svg.string()});
  EXPECT_EQ(plot.exit_status, 0) << plot.err;
  EXPECT_TRUE(fs::exists(svg));
  EXPECT_EQ(snapshot(dir_).size(), 1u);
}

// A shortened temporary name is known for the name's: exactly the start that temporary_name
// keeps, so that a run removes one that a dead run left, and no other.
TEST_F(ReplaceFile, ShortenedTemporaryNamesAreKnownForTheirName) {
  const std::string name = std::string(246, 'n') + ".svg";
  const std::string suffix = ".tmp-12345-abc123";  // 17 bytes: 238 of the name fit
  int64_t pid = 0;
  EXPECT_TRUE(is_temporary_of(name.substr(0, 238) + suffix, name, pid));
  EXPECT_EQ(pid, 12345);
  EXPECT_FALSE(is_temporary_of(name.substr(0, 237) + suffix, name, pid));
  EXPECT_FALSE(is_temporary_of(name.substr(0, 238) + ".tmp-1234-abc123", name, pid));
  EXPECT_TRUE(is_temporary_of(name.substr(0, 239) + ".tmp-1234-abc123", name, pid));
  // A name that fits whole with the suffix is never shortened.
  const std::string fits = std::string(234, 'n') + ".svg";
  EXPECT_TRUE(is_temporary_of(fits + suffix, fits, pid));
  EXPECT_FALSE(is_temporary_of(fits.substr(0, 237) + suffix, fits, pid));

  pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string dead_suffix = ".tmp-" + std::to_string(ended) + "-abc123";
  const std::string left = name.substr(0, 255 - dead_suffix.size()) + dead_suffix;
  const std::string other = name.substr(0, 254 - dead_suffix.size()) + dead_suffix;
  write_bytes(dir_ / left, "x");
  write_bytes(dir_ / other, "x");
  EXPECT_EQ(remove_stale_temporaries(dir_.string(), {name}),
            std::vector<std::string>{(dir_ / left).string()});
  EXPECT_TRUE(fs::exists(dir_ / other));
}

// What a run removes before it works: temporary files of its own names whose process has ended.
TEST_F(ReplaceFile, RemovesOnlyTheTemporaryFilesOfEndedProcesses) {
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string dead = "QUELDRANO 2_555.sim.tmp-" + std::to_string(ended) + "-abc123";
  const std::string live = "QUELDRANO 2_555.dat.tmp-" + std::to_string(getppid()) + "-abc123";
  const std::string other = "other.sim.tmp-" + std::to_string(ended) + "-abc123";
  // Before a run makes its own, one with its own id is an earlier process's of the same id.
  const std::string own = "QUELDRANO 2_555.dat.tmp-" + std::to_string(getpid()) + "-abc123";
  for (const std::string& name : {dead, live, other, own}) write_bytes(dir_ / name, "x");
  std::vector<std::string> removed =
      remove_stale_temporaries(dir_.string(), {"QUELDRANO 2_555.sim", "QUELDRANO 2_555.dat"});
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected = {(dir_ / dead).string(), (dir_ / own).string()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(removed, expected);
  EXPECT_FALSE(fs::exists(dir_ / dead));
  EXPECT_FALSE(fs::exists(dir_ / own));
  EXPECT_TRUE(fs::exists(dir_ / live));
  EXPECT_TRUE(fs::exists(dir_ / other));
}

// A source is deleted only while it is still the file that was read.
TEST_F(ReplaceFile, DeletesOnlyAnUnchangedFile) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    DeleteOutcome outcome;
    bool remains;
  };
  const Case cases[] = {
      {"unchanged", [](const fs::path&) {}, DeleteOutcome::kDeleted, false},
      {"gone", [](const fs::path& p) { fs::remove(p); }, DeleteOutcome::kAlreadyGone, false},
      {"replaced",
       [](const fs::path& p) {
         write_bytes(p.string() + ".new", "read me");
         fs::rename(p.string() + ".new", p);
       },
       DeleteOutcome::kChanged, true},
      {"grown", [](const fs::path& p) { write_bytes(p, "read me too"); }, DeleteOutcome::kChanged,
       true},
      {"rewritten in place with the same size, its modification time set back",
       [](const fs::path& p) {
         // A kernel whose file times come from a coarse clock (a tick of up to 10 ms) would give
         // a rewrite within the tick of the first write the same change time.
         std::this_thread::sleep_for(std::chrono::milliseconds(20));
         const auto written = fs::last_write_time(p);
         write_bytes(p, "READ ME");
         fs::last_write_time(p, written);
       },
       DeleteOutcome::kChanged, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir_ / "QUELDRANO 2_555-.txt";
    write_bytes(path, "read me");
    FileResult r;
    FileIdentity identity;
    ASSERT_TRUE(read_file(path.string(), r, kMaxSourceBytes, &identity).has_value());
    c.change(path);
    EXPECT_EQ(delete_file_if_unchanged(path.string(), identity, r), c.outcome);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(fs::exists(path), c.remains);
  }
}

// What stands at a name, with a link looked up as itself and as what it leads to. The folder's
// name is not ASCII, as an author's may be.
TEST_F(ReplaceFile, LookUpTellsWhatStandsAtANameAndFollowsLinksOnlyWhenAsked) {
  const fs::path folder = dir_ / "Linee" / "Città";
  fs::create_directories(folder);
  write_bytes(folder / "x.sim", "12345");
  ASSERT_EQ(::mkfifo((dir_ / "tubo").c_str(), 0600), 0);
  fs::create_directory_symlink(folder, dir_ / "verso-città");
  fs::create_symlink(dir_ / "assente", dir_ / "verso-nulla");
  fs::create_symlink(dir_ / "anello-b", dir_ / "anello-a");
  fs::create_symlink(dir_ / "anello-a", dir_ / "anello-b");
  struct Case {
    std::string name;
    NameKind own;
    NameKind followed;
  };
  const std::vector<Case> cases = {
      {"Linee/Città", NameKind::kDirectory, NameKind::kDirectory},
      {"Linee/Città/x.sim", NameKind::kFile, NameKind::kFile},
      {"Linee/assente", NameKind::kMissing, NameKind::kMissing},
      {"Linee/Città/x.sim/y.sim", NameKind::kMissing, NameKind::kMissing},  // a file as directory
      {"tubo", NameKind::kOther, NameKind::kOther},
      {"verso-città", NameKind::kOther, NameKind::kDirectory},
      {"verso-nulla", NameKind::kOther, NameKind::kMissing},
      {"anello-a", NameKind::kOther, NameKind::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir_ / c.name).string();
    EXPECT_EQ(look_up_name(path, Links::kOwn).kind, c.own);
    EXPECT_EQ(look_up_name(path, Links::kFollow).kind, c.followed);
    EXPECT_EQ(name_taken(path), c.own != NameKind::kMissing);
    EXPECT_EQ(file_exists(path), c.followed == NameKind::kFile);
  }
  const NameFacts file = look_up_name((folder / "x.sim").string(), Links::kFollow);
  EXPECT_EQ(file.identity.size, 5u);
  FileResult r;
  FileIdentity read;
  ASSERT_TRUE(read_file((folder / "x.sim").string(), r, kMaxSourceBytes, &read).has_value());
  EXPECT_EQ(file.identity, read);
  EXPECT_EQ(look_up_name((dir_ / "verso-città").string(), Links::kFollow).identity,
            look_up_name(folder.string(), Links::kFollow).identity);
  EXPECT_EQ(look_up_name((dir_ / "assente").string(), Links::kFollow).identity, FileIdentity{});
}

// The directory and the name of a path by the string alone, as the commands that take a file
// find the directory they lock: "." when the path names none.
TEST(PathParts, DirectoryAndLastPartFromTheStringAlone) {
  struct Case {
    const char* path;
    const char* directory;
    const char* last;
  };
  const Case cases[] = {
      {"Linee/Città/x.sim", "Linee/Città", "x.sim"},
      {"x.sim", ".", "x.sim"},
      {"", ".", ""},
      {"a/b/", "a/b", ""},
      {"a//b", "a", "b"},
      {"/a", "/", "a"},
      {"/", "/", ""},
      {"./x", ".", "x"},
      {"a/..", "a", ".."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(parent_directory(c.path), c.directory);
    EXPECT_EQ(last_part(c.path), c.last);
  }
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
