// The program against a file system that fails it: a directory that does not exist, an output
// name taken by a directory, a disk that fills up in the middle of a write, a source too large to
// load. Each run ends with exit status 3 and a message naming the file; every file it did not
// finish keeps its old bytes, no temporary file is left, and no source is deleted.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

using test::Contents;
using test::kCard;
using test::kForm;
using test::kGrid;
using test::kLineSource;
using test::kNotes;
using test::kPlan;
using test::kRecords;
using test::kTrainSource;
const std::set<std::string> kTexts = {kLineSource, kTrainSource, kCard, kForm, kNotes};

// The digests of the eight files of a successful build run: the two sources as `sources` writes
// them, and what the default build run left.
const std::map<std::string, std::string>& reference() {
  static const std::map<std::string, std::string> files = [] {
    test::ScratchDir texts;
    EXPECT_EQ(test::run_compactor({"sources", texts.str()}).exit_status, 0);
    std::map<std::string, std::string> all = test::snapshot(texts.path(), Contents::kDigest);
    for (const auto& [name, digest] :
         test::snapshot(test::default_run().dir.path(), Contents::kDigest)) {
      all[name] = digest;
    }
    return all;
  }();
  return files;
}

struct DiskCase {
  std::string name;
  bool compile;                                // compile the sources there, else the build run
  std::vector<std::string> options;            // further options of the run
  std::string subdirectory;                    // where the run is pointed, inside the scratch
  std::function<void(const fs::path&)> spoil;  // breaks the file system before the run
  rlim_t file_size_limit;                      // 0: none
  std::string message;                         // expected on stderr; DIR is the run's directory
  std::set<std::string> written;               // files that hold the new bytes afterwards
};

// Puts a directory, with a file in it, where the file `path` was.
void take_name(const fs::path& path) {
  fs::remove(path);
  fs::create_directory(path);
  test::write_bytes(path / "inside", "keep me");
}

std::vector<DiskCase> disk_cases() {
  std::set<std::string> texts_and_plan = kTexts;
  texts_and_plan.insert({kPlan, kRecords});
  return {
      {"build run into a directory that does not exist",
       false,
       {},
       "missing",
       nullptr,
       0,
       "compactor: cannot write DIR/" + kLineSource + ": ",
       {}},
      {"compile in a directory that does not exist",
       true,
       {},
       "missing",
       nullptr,
       0,
       kLineSource + ": error 101",
       {}},
      {"build run, grid output name taken by a directory",
       false,
       {},
       "",
       [](const fs::path& d) { take_name(d / kGrid); },
       0,
       "compactor: cannot write DIR/" + kGrid + ": ",
       texts_and_plan},
      {"compile --delete-sources, grid output name taken by a directory",
       true,
       {"--delete-sources"},
       "",
       [](const fs::path& d) { take_name(d / kGrid); },
       0,
       "compactor: cannot write DIR/" + kGrid + ": ",
       {kPlan, kRecords}},
      {"build run on a disk that fills up in the first text file",
       false,
       {},
       "",
       nullptr,
       4096,
       "compactor: cannot write DIR/" + kLineSource + ": ",
       {}},
      {"build run on a disk that fills up in the line output",
       false,
       {},
       "",
       nullptr,
       1 << 20,
       "compactor: cannot write DIR/" + kPlan + ": ",
       kTexts},
      {"compile --delete-sources on a disk that fills up in the line output",
       true,
       {"--delete-sources"},
       "",
       nullptr,
       1 << 20,
       "compactor: cannot write DIR/" + kPlan + ": ",
       {}},
      {"compile --no-plan --delete-sources on a disk that fills up in the grid output",
       true,
       {"--no-plan", "--delete-sources"},
       "",
       nullptr,
       16 << 10,
       "compactor: cannot write DIR/" + kGrid + ": ",
       {kRecords}},
      {"compile with a line source larger than 64 MiB",
       true,
       {"--delete-sources"},
       "",
       [](const fs::path& d) { fs::resize_file(d / kLineSource, (64u << 20) + 1); },
       0,
       "compactor: cannot read DIR/" + kLineSource + ": larger than 64 MiB",
       {}},
  };
}

TEST(FailingDisk, EndsWithStatus3AndLosesNoFile) {
  const auto& ref = reference();
  ASSERT_EQ(ref.size(), 8u);
  for (const DiskCase& c : disk_cases()) {
    SCOPED_TRACE(c.name);
    test::ScratchDir scratch;
    const fs::path& d = scratch.path();
    // What an earlier run and the author left: older outputs, and the sources for a compile.
    for (const std::string& out : {kPlan, kRecords, kGrid}) {
      test::write_bytes(d / out, "previous " + out);
    }
    if (c.compile) {
      ASSERT_EQ(test::run_compactor({"sources", d.string()}).exit_status, 0);
      for (const std::string& t : {kCard, kForm, kNotes}) fs::remove(d / t);
    }
    if (c.spoil) c.spoil(d);
    const auto before = test::snapshot(d, Contents::kDigest);

    const fs::path dir = c.subdirectory.empty() ? d : d / c.subdirectory;
    std::vector<std::string> args;
    if (c.compile) {
      args = {"compile", dir.string(), "-q"};
    } else {
      args = {"--dir", dir.string(), "-q"};
    }
    args.insert(args.end(), c.options.begin(), c.options.end());
    test::Result r = test::run_compactor(args, c.file_size_limit);

    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_EQ(r.exit_status, 3) << r.err;
    std::string message = c.message;
    if (size_t at = message.find("DIR"); at != std::string::npos) {
      message.replace(at, 3, dir.string());
    }
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected: " << message << "\n" << r.err;

    const auto after = test::snapshot(d, Contents::kDigest);
    for (const auto& [name, state] : after) {
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << "temporary file left: " << name;
      if (c.written.count(name) != 0) {
        EXPECT_EQ(state, ref.at(name)) << name << " is not the new file";
      } else if (before.count(name) == 0) {
        ADD_FAILURE() << "new file " << name;
      } else {
        EXPECT_EQ(state, before.at(name)) << name << " changed";
      }
    }
    for (const auto& [name, state] : before) {
      EXPECT_EQ(after.count(name), 1u) << name << " was deleted";
    }
  }
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
