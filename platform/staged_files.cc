// What staging files means on every OS: the order of the renames, what a failure leaves, and the
// one-file forms. The steps themselves (size, rename, remove) are the OS's.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/set_record.h"
#include "platform/temporaries.h"

namespace compactor {

StagedFiles::~StagedFiles() {
  for (Staged& f : files_) discard(f);
}

void StagedFiles::discard(Staged& f) {
  if (f.temp.empty()) return;  // put in place
  remove_temporary(f.temp);
  forget_temporary(f.registration);
  f.registration = -1;
}

namespace {

// The last part of a path.
std::string name_in_directory(const std::string& path) {
  size_t start = path.size();
  while (start > 0 && !is_path_separator(path[start - 1])) --start;
  return path.substr(start);
}

}  // namespace

FileResult StagedFiles::sync_temporaries(std::string& failed_path) {
  for (Staged& f : files_) {
    before_commit_step(CommitStep::kSyncFile, f.temp);
    if (FileResult r = sync_file(f.temp); !r.ok) {
      failed_path = f.path;
      return r;
    }
  }
  return FileResult{};
}

// Written once every temporary file is whole, in the order of the renames. It outlives the
// process as it is; it is synced, with the directory, only for a durable set: without the
// temporary files synced too, a record that outlived a power cut could finish a set of files
// that did not (docs/decisions.md).
FileResult StagedFiles::write_record(const std::vector<size_t>& order, std::string& failed_path) {
  const std::string dir = directory_of(files_.front().path);
  std::vector<SetRecordEntry> entries;
  for (size_t i : order) {
    SetRecordEntry e{name_in_directory(files_[i].temp), name_in_directory(files_[i].path), 0};
    regular_file_size(files_[i].temp, e.size);
    entries.push_back(std::move(e));
  }
  const std::string bytes = encode_set_record(entries);
  FileResult r;
  for (uint32_t attempt = 0; attempt < 100; ++attempt) {
    record_.path = temporary_name(join_path(dir, kSetRecordStem), current_process_id(), attempt);
    forget_temporary(record_.registration);
    record_.registration = register_temporary(record_.path);
    before_commit_step(CommitStep::kWriteRecord, record_.path);
    r = write_new_file(record_.path, bytes, durable_);
    if (r.ok || !file_exists(record_.path)) break;  // else the name is another's: the next one
  }
  if (!r.ok) {
    forget_temporary(record_.registration);
    record_ = Staged{};
  } else if (durable_) {
    before_commit_step(CommitStep::kSyncDirectory, dir);
    r = sync_directory(dir);
    if (!r.ok) remove_record();
  }
  if (!r.ok) failed_path = files_.front().path;
  return r;
}

void StagedFiles::remove_record() {
  if (record_.path.empty()) return;
  before_commit_step(CommitStep::kRemoveRecord, record_.path);
  remove_temporary(record_.path);
  forget_temporary(record_.registration);
  record_ = Staged{};
}

FileResult StagedFiles::commit(std::string& failed_path) {
  InterruptsHeld held;
  FileResult result;
  // A rename frees the old file it replaces, which takes milliseconds for a large one: the file
  // that replaces the largest goes last, so that the old and new files stand mixed only for the
  // renames of the small ones.
  std::vector<std::pair<uint64_t, size_t>> sizes;  // the old file's size, the staged file
  for (size_t i = 0; i < files_.size() && result.ok; ++i) {
    uint64_t old_size = 0;
    result = size_of_file_replaced(files_[i].path, old_size);
    if (!result.ok) failed_path = files_[i].path;
    sizes.push_back({old_size, i});
  }
  std::stable_sort(sizes.begin(), sizes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<size_t> order;
  for (const auto& s : sizes) order.push_back(s.second);
  if (result.ok && durable_) result = sync_temporaries(failed_path);
  if (result.ok && files_.size() > 1) result = write_record(order, failed_path);
  for (size_t n = 0; n < order.size() && result.ok; ++n) {
    Staged& f = files_[order[n]];
    before_commit_step(CommitStep::kRename, f.path);
    result = rename_over(f.temp, f.path);
    if (!result.ok) {
      failed_path = f.path;
      break;
    }
    forget_temporary(f.registration);
    f.registration = -1;
    f.temp.clear();
  }
  if (result.ok && durable_ && !files_.empty()) {
    failed_path = directory_of(files_.front().path);
    before_commit_step(CommitStep::kSyncDirectory, failed_path);
    result = sync_directory(failed_path);
  }
  // Once the set is whole, or once a rename has failed (the run then names the file): nothing is
  // left for another run to finish.
  remove_record();
  for (Staged& f : files_) discard(f);
  files_.clear();
  return result;
}

namespace {

// One staged file put in place, once it is written.
FileResult put_in_place(StagedFiles& staged, const FileResult& added) {
  if (!added.ok) return added;
  std::string failed_path;
  return staged.commit(failed_path);
}

}  // namespace

FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce) {
  StagedFiles staged;
  return put_in_place(staged, staged.add(path, produce));
}

FileResult replace_file(const std::string& path, const std::string& bytes) {
  StagedFiles staged;
  return put_in_place(staged, staged.add(path, bytes));
}

}  // namespace compactor
