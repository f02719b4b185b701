// File operations at the edge of the program: whole files in, whole files out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace compactor {

// Sources larger than this are refused before they are read.
constexpr uint64_t kMaxSourceBytes = 64ull << 20;

struct FileResult {
  bool ok = true;
  std::string reason;    // why it failed, for "cannot ... FILE: REASON"
  bool missing = false;  // it failed because nothing at all stands at that name
  // It failed for want of file descriptors or memory: the file itself may be fine.
  bool short_of_resources = false;
};

// What tells that a file is still the one that was read: the same file on the same device, with
// the same size, modification time and status-change time. The last catches a rewrite that keeps
// the size and then sets the old modification time back: nobody can set it, and reading the file
// does not change it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file_number = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // in the system's own unit
  int64_t changed = 0;   // the same; on Windows the change time, 0 where the system gives none
  bool operator==(const FileIdentity&) const = default;
};

// What stands at a name.
enum class NameKind {
  kMissing,  // nothing: no such name, or a file stands where one of its directories should
  kDirectory,
  kFile,     // a regular file
  kOther,    // a device, a pipe, a socket; a link itself when links are not followed
  kUnknown,  // it cannot be looked up for another reason (no permission, a loop of links)
};

// Whether a link at the name is looked up as itself or as what it leads to (then a link that
// leads nowhere is missing).
enum class Links { kFollow, kOwn };

struct NameFacts {
  NameKind kind = NameKind::kMissing;
  FileIdentity identity;  // of what stands there; all 0 when it is missing or cannot be told
};

// What stands at `path`, found without opening it for reading. On Windows the name is looked up
// by its UTF-16 form, like every other name the program opens.
NameFacts look_up_name(const std::string& path, Links links);

bool file_exists(const std::string& path);

// Whether anything stands at `path`: a file, a directory, a link, even one that leads nowhere.
// A name that cannot be looked up for another reason than its absence (or a file standing where
// one of its directories should) counts as taken.
bool name_taken(const std::string& path);

// Makes the directory `path`, one level (its parent must exist), unless a directory stands there
// already; `created` says whether this call made it. Fails with the reason when a file stands there.
FileResult make_directory(const std::string& path, bool& created);

// Reads a whole regular file. nullopt with a reason when it cannot be read, is not a regular file
// (a directory, a FIFO or a device, refused without waiting on it) or is larger than max_bytes.
// `identity`, when given, receives the identity of the file read.
std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes = kMaxSourceBytes,
                                     FileIdentity* identity = nullptr);

// A regular file read at any offset, a piece at a time, and never held whole: the line output,
// which decompile reads in several passes. The size is the one found at the open; a file cut
// short since fails the read that finds it so, and unchanged() tells a file written meanwhile.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens `path`, or fails as read_file would: nothing there (`missing`), not a regular file,
  // larger than max_bytes.
  bool open(const std::string& path, FileResult& result, uint64_t max_bytes = kMaxSourceBytes);
  uint64_t size() const { return identity_.size; }
  // Reads the `count` bytes from `offset` into `into`; false with the reason when the system
  // fails or the file ends before them.
  bool read_at(uint64_t offset, char* into, size_t count, FileResult& result) const;
  // False with a reason when the file is no longer as it was opened (size, times).
  bool unchanged(FileResult& result) const;

 private:
  intptr_t handle_ = -1;
  FileIdentity identity_;
};

// Why a file read in pieces is refused: it changed between two of them.
inline FileResult changed_while_read() {
  return FileResult{false, "it changed while it was read", false};
}

// Takes the next piece of a file's content; false once a write has failed (the producer may stop
// there: the file will not be replaced).
using PieceWriter = std::function<bool(const char* data, size_t size)>;
using PieceProducer = std::function<void(const PieceWriter& write)>;

// Files written whole under temporary names beside their own (NAME.tmp-PID-XXXXXX), then put in
// place together: an interrupted run leaves the old files or the new ones. A new file gets the
// mode the umask gives; a replaced one keeps its mode. The temporary files are known to the
// interrupt handlers (platform/process.h), which remove them.
class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  // Removes the temporary files of those not put in place.
  ~StagedFiles();

  // Writes the content to a temporary file beside `path`; on failure none is left. `produce` is
  // called once and hands each piece, in order, to the writer it is given.
  FileResult add(const std::string& path, const PieceProducer& produce);
  FileResult add(const std::string& path, const std::string& bytes);

  // Before commit: the set must outlive a power cut, because something the author cannot make
  // again (a source) is deleted once it stands. The temporary files are synced before the record
  // is written, and the directory after the last rename.
  void make_durable() { durable_ = true; }

  // Renames every file over its name, with interrupts held off meanwhile; the one that replaces
  // the largest old file goes last (freeing that file is the slow part of a rename). A name taken
  // by a directory is found before anything is renamed. A set of more than one file first writes
  // its record (platform/set_record.h) beside them, and removes it after the last rename, so that
  // a run killed in between leaves the next run what it needs to finish the set. On failure
  // `failed_path` names the file that could not be put in place; the ones renamed before it are
  // in place, the others removed.
  FileResult commit(std::string& failed_path);

 private:
  struct Staged {
    std::string path;
    std::string temp;
    int registration = -1;
  };
  void discard(Staged& f);
  FileResult sync_temporaries(std::string& failed_path);
  FileResult write_record(const std::vector<size_t>& order, std::string& failed_path);
  void remove_record();
  std::vector<Staged> files_;
  bool durable_ = false;
  Staged record_;  // the set's record while it stands (its path is empty otherwise)
};

// One file replaced as StagedFiles does: on failure the old file is left whole and no temporary
// file remains.
FileResult replace_file(const std::string& path, const std::string& bytes);
FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce);

FileResult delete_file(const std::string& path);

// The names of the regular files in a directory (no subdirectories), sorted by byte value.
// nullopt with a reason when the directory cannot be read.
std::optional<std::vector<std::string>> list_directory(const std::string& path, FileResult& result);
enum class DeleteOutcome {
  kDeleted,
  kAlreadyGone,  // nothing stands at the name any more
  kChanged,      // another file, or the same one changed: it is left where it is
  kFailed,       // the reason is in the result
};

// Deletes the file at `path` only while it is still the file `identity` describes.
DeleteOutcome delete_file_if_unchanged(const std::string& path, const FileIdentity& identity,
                                       FileResult& result);

// The temporary files in `dir` that runs which have ended left beside the files named `names`
// (NAME.tmp-PID-XXXXXX of a process that no longer runs): removes them and returns their paths.
// The caller holds the directory's exclusive lock, so no live run of this program writes there,
// and has made no temporary file yet: one that carries its own id is an earlier process's.
std::vector<std::string> remove_stale_temporaries(const std::string& dir,
                                                  const std::vector<std::string>& names);

}  // namespace compactor
