// The record of a set being put in place and what the next run does with one left behind. The
// steps themselves (write, sync, rename, remove) are the OS's (platform/temporaries.h).
#include "platform/set_record.h"

#include <optional>

#include "platform/platform.h"
#include "platform/temporaries.h"

namespace compactor {

namespace {

// The record: a first line, then for each file its temporary name, its name and the temporary
// file's size, each ended by a NUL (no file name holds one), then a check of all that.
constexpr const char* kRecordStart = "compactor set 1\n";
constexpr uint64_t kLargestRecord = 1 << 20;

CommitStepHook g_hook = nullptr;

// FNV-1a, 64 bits: enough to tell a whole record from a cut or damaged one.
uint64_t check_of(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

std::string check_text(const std::string& bytes) {
  return "check " + std::to_string(check_of(bytes)) + "\n";
}

// The next NUL-ended field from `at`; false at the end.
bool next_field(const std::string& bytes, size_t& at, std::string& field) {
  const size_t end = bytes.find('\0', at);
  if (end == std::string::npos) return false;
  field = bytes.substr(at, end - at);
  at = end + 1;
  return true;
}

bool parse_size(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 19) return false;
  size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// The records in `dir` whose runs have ended.
std::vector<std::string> records_left(const std::string& dir) {
  std::vector<std::string> records;
  FileResult listed;
  const auto names = list_directory(dir, listed);
  if (!names) return records;
  const int64_t self = current_process_id();
  for (const std::string& entry : *names) {
    int64_t pid = 0;
    if (!is_temporary_of(entry, kSetRecordStem, pid)) continue;
    if (pid == self || !process_is_running(pid)) records.push_back(entry);
  }
  return records;
}

// Every temporary file the record names that still stands is whole: the run had begun to rename.
bool temporaries_whole(const std::string& dir, const std::vector<SetRecordEntry>& entries) {
  for (const SetRecordEntry& e : entries) {
    uint64_t size = 0;
    if (regular_file_size(join_path(dir, e.temp), size) && size != e.size) return false;
  }
  return true;
}

// Renames what is left of the set, in the order of the record, and makes the renames durable.
FileResult finish_set(const std::string& dir, const std::vector<SetRecordEntry>& entries,
                      std::string& failed_path) {
  for (const SetRecordEntry& e : entries) {
    uint64_t size = 0;
    if (!regular_file_size(join_path(dir, e.temp), size)) continue;  // renamed before the end
    failed_path = join_path(dir, e.name);
    if (FileResult r = rename_over(join_path(dir, e.temp), failed_path); !r.ok) return r;
  }
  failed_path = dir;
  return sync_directory(dir);
}

// A run records only files of its directory, each staged under a temporary name of its own
// process. A record that names anything else was not written by a run (a record that came with a
// copied or downloaded directory, say): it moves and removes nothing, in the directory or out of it.
bool names_only_own_files(const std::string& record, const std::vector<SetRecordEntry>& entries) {
  int64_t record_pid = 0;
  if (!is_temporary_of(record, kSetRecordStem, record_pid)) return false;
  for (const SetRecordEntry& e : entries) {
    int64_t pid = 0;
    if (e.name.empty() || e.name == "." || e.name == "..") return false;
    for (char c : e.name) {
      if (is_path_separator(c)) return false;
    }
    if (!is_temporary_of(e.temp, e.name, pid) || pid != record_pid) return false;
  }
  return true;
}

// One record: the set finished or restored, then the record removed.
void settle(const std::string& dir, const std::string& record, InterruptedSets& sets) {
  const std::string record_path = join_path(dir, record);
  FileResult read;
  const std::optional<std::string> bytes = read_file(record_path, read, kLargestRecord);
  std::vector<SetRecordEntry> entries;
  bool whole = bytes && decode_set_record(*bytes, entries);
  if (!names_only_own_files(record, entries)) {
    entries.clear();
    whole = false;
  }
  if (whole && temporaries_whole(dir, entries)) {
    sets.failure = finish_set(dir, entries, sets.failed_path);
    if (!sets.failure.ok) return;
    ++sets.finished;
  } else {
    // Nothing was renamed (a record cut short is written before any rename), or a temporary file
    // is not whole: the old files stand; the temporary files go.
    for (const SetRecordEntry& e : entries) remove_temporary(join_path(dir, e.temp));
    ++sets.restored;
  }
  remove_temporary(record_path);
}

}  // namespace

std::string encode_set_record(const std::vector<SetRecordEntry>& entries) {
  std::string bytes = kRecordStart;
  for (const SetRecordEntry& e : entries) {
    bytes += e.temp + '\0' + e.name + '\0' + std::to_string(e.size) + '\0';
  }
  return bytes + check_text(bytes);
}

bool decode_set_record(const std::string& bytes, std::vector<SetRecordEntry>& entries) {
  entries.clear();
  const size_t check_at = bytes.rfind("check ");
  const std::string start = kRecordStart;
  if (check_at == std::string::npos || bytes.compare(0, start.size(), start) != 0) return false;
  const std::string body = bytes.substr(0, check_at);
  if (bytes.substr(check_at) != check_text(body)) return false;
  size_t at = start.size();
  SetRecordEntry e;
  std::string size_text;
  while (at < body.size()) {
    if (!next_field(body, at, e.temp) || !next_field(body, at, e.name) ||
        !next_field(body, at, size_text) || !parse_size(size_text, e.size)) {
      entries.clear();
      return false;
    }
    entries.push_back(e);
  }
  return true;
}

bool interrupted_set_in(const std::string& dir) {
  return !records_left(dir).empty();
}

InterruptedSets settle_interrupted_sets(const std::string& dir) {
  InterruptedSets sets;
  for (const std::string& record : records_left(dir)) {
    settle(dir, record, sets);
    if (!sets.failure.ok) break;
  }
  return sets;
}

const char* commit_step_name(CommitStep step) {
  switch (step) {
    case CommitStep::kSyncFile: return "sync file";
    case CommitStep::kWriteRecord: return "write record";
    case CommitStep::kSyncRecord: return "sync record";
    case CommitStep::kSyncDirectory: return "sync directory";
    case CommitStep::kRename: return "rename";
    case CommitStep::kRemoveRecord: return "remove record";
    case CommitStep::kDeleteSource: return "delete source";
  }
  return "";
}

void set_commit_step_hook(CommitStepHook hook) {
  g_hook = hook;
}

void before_commit_step(CommitStep step, const std::string& path) {
  if (g_hook != nullptr) g_hook(step, path);
}

}  // namespace compactor
