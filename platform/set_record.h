// The record of a set of files being put in place: written (and, where the set must outlive a
// power cut, synced) before the first rename, removed after the last. A run killed between the
// two leaves it, and the next run in the directory finishes the set or gives the old one back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace compactor {

// The record's name stem: the record is STEM.tmp-PID-XXXXXX in the directory of the set, a name
// no scenario file has (theirs end in .txt, .dat, .sim, .svg or .html).
constexpr const char* kSetRecordStem = "compactor-set";

// One file of a set: its temporary name, its own name (both without the directory), and the
// temporary file's size once written whole.
struct SetRecordEntry {
  std::string temp;
  std::string name;
  uint64_t size = 0;
};

// The record's bytes, and the entries read back from them: false when the bytes are not a whole
// record (a run killed while writing it, which therefore renamed nothing).
std::string encode_set_record(const std::vector<SetRecordEntry>& entries);
bool decode_set_record(const std::string& bytes, std::vector<SetRecordEntry>& entries);

// What the next run did with a set a run left unfinished.
struct InterruptedSets {
  int finished = 0;  // every temporary file it names was whole: the rest renamed into place
  int restored = 0;  // one was not: the temporary files removed, the old files left
  FileResult failure;       // a step that failed; the record is then kept for another try
  std::string failed_path;  // the file it failed on
};

// Whether `dir` holds the record of a set whose run has ended (a live run's is its own affair).
bool interrupted_set_in(const std::string& dir);

// Finishes or restores each such set in `dir`, then removes its record. The caller holds the
// directory's exclusive lock.
InterruptedSets settle_interrupted_sets(const std::string& dir);

// The calls of a commit, in the order they come, for the tests' fault seam: a test can end the
// process at the n-th one, or list them.
enum class CommitStep {
  kSyncFile,       // a temporary file's content to the disk
  kWriteRecord,    // the record written
  kSyncRecord,     // the record to the disk
  kSyncDirectory,  // the directory's entries to the disk
  kRename,         // a temporary file renamed over its name
  kRemoveRecord,   // the record removed, the set whole
  kDeleteSource,   // a source deleted after its outputs were put in place
};
const char* commit_step_name(CommitStep step);
using CommitStepHook = void (*)(CommitStep step, const std::string& path);
// Called before each step with the path it works on; nullptr (the default) for none.
void set_commit_step_hook(CommitStepHook hook);
void before_commit_step(CommitStep step, const std::string& path);

}  // namespace compactor
