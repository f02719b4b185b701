// What staging files means on every OS: the order of the renames, what a failure leaves, and the
// one-file forms. The steps themselves (size, rename, remove) are the OS's.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
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

FileResult StagedFiles::commit(std::string& failed_path) {
  InterruptsHeld held;
  FileResult result;
  // A rename frees the old file it replaces, which takes milliseconds for a large one: the file
  // that replaces the largest goes last, so that the old and new files stand mixed only for the
  // renames of the small ones.
  std::vector<std::pair<uint64_t, size_t>> order;  // the old file's size, the staged file
  for (size_t i = 0; i < files_.size() && result.ok; ++i) {
    uint64_t old_size = 0;
    result = size_of_file_replaced(files_[i].path, old_size);
    if (!result.ok) failed_path = files_[i].path;
    order.push_back({old_size, i});
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t n = 0; n < order.size() && result.ok; ++n) {
    Staged& f = files_[order[n].second];
    result = rename_over(f.temp, f.path);
    if (!result.ok) {
      failed_path = f.path;
      break;
    }
    forget_temporary(f.registration);
    f.registration = -1;
    f.temp.clear();
  }
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
