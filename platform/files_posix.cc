#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/set_record.h"
#include "platform/temporaries.h"

namespace compactor {

namespace {

FileResult failure(int err) {
  return FileResult{false, std::strerror(err), false,
                    err == EMFILE || err == ENFILE || err == ENOMEM};
}

FileResult too_large(uint64_t max_bytes) {
  return FileResult{false, "larger than " + std::to_string(max_bytes >> 20) + " MiB", false};
}

// Why a file of this type is not read: what it is instead.
FileResult not_regular(mode_t mode) {
  if (S_ISDIR(mode)) return failure(EISDIR);
  if (S_ISFIFO(mode)) return FileResult{false, "Is a FIFO, not a regular file", false};
  if (S_ISCHR(mode)) return FileResult{false, "Is a character device, not a regular file", false};
  if (S_ISBLK(mode)) return FileResult{false, "Is a block device, not a regular file", false};
  if (S_ISSOCK(mode)) return FileResult{false, "Is a socket, not a regular file", false};
  return FileResult{false, "Is not a regular file", false};
}

// Why `path` could not be opened: nothing there (missing), a symbolic link to nothing, or the
// system's reason.
FileResult open_failure(const std::string& path, int err) {
  if (err != ENOENT) return failure(err);
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    return FileResult{
        false, std::string(std::strerror(err)) + " (a symbolic link whose target does not exist)",
        false};
  }
  return FileResult{false, std::strerror(err), true};
}

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.file_number = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

// Opens a regular file for reading. O_NONBLOCK keeps the open of a FIFO from waiting for a
// writer; the type is checked before anything is read. -1 with the reason in `result`.
int open_regular(const std::string& path, struct stat& st, FileResult& result) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    result = open_failure(path, errno);
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    result = failure(errno);
  } else if (!S_ISREG(st.st_mode)) {
    result = not_regular(st.st_mode);
  } else {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  ::close(fd);
  return -1;
}

// Reads fd to its end: one read into storage sized from the file, one byte over so that the end
// shows at once; a file that has grown since goes on in more reads, up to the limit.
std::optional<std::string> read_to_end(int fd, uint64_t known_size, uint64_t max_bytes,
                                       FileResult& result) {
  std::string bytes(static_cast<size_t>(known_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > max_bytes) break;
      bytes.resize(static_cast<size_t>(std::min<uint64_t>(2 * uint64_t{used}, max_bytes + 1)));
    }
    ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = failure(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  if (used > max_bytes) {
    result = too_large(max_bytes);
    return std::nullopt;
  }
  bytes.resize(used);
  return bytes;
}

// Writes all of `size` bytes, going on after a partial write; the error of the write that failed.
int write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// The mode the temporary file must have: the old file's when one is replaced, else the one it
// was created with (0666 less the umask).
int keep_old_mode(int fd, const std::string& path) {
  struct stat old, made;
  if (::stat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return 0;
  if (::fstat(fd, &made) != 0) return errno;
  const mode_t wanted = old.st_mode & 0777;
  if ((made.st_mode & 07777) == wanted) return 0;
  return ::fchmod(fd, wanted) == 0 ? 0 : errno;
}

NameKind kind_of_mode(mode_t mode) {
  if (S_ISREG(mode)) return NameKind::kFile;
  if (S_ISDIR(mode)) return NameKind::kDirectory;
  return NameKind::kOther;
}

}  // namespace

NameFacts look_up_name(const std::string& path, Links links) {
  struct stat st;
  const int looked =
      links == Links::kFollow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (looked == 0) return NameFacts{kind_of_mode(st.st_mode), identity_of(st)};
  // ENOTDIR: a file stands where a directory of the path should, so nothing can stand at it.
  const bool missing = errno == ENOENT || errno == ENOTDIR;
  return NameFacts{missing ? NameKind::kMissing : NameKind::kUnknown, FileIdentity{}};
}

bool file_exists(const std::string& path) {
  return look_up_name(path, Links::kFollow).kind == NameKind::kFile;
}

bool name_taken(const std::string& path) {
  return look_up_name(path, Links::kOwn).kind != NameKind::kMissing;
}

FileResult make_directory(const std::string& path, bool& created) {
  created = ::mkdir(path.c_str(), 0777) == 0;
  if (created) return FileResult{};
  const int err = errno;
  struct stat st;
  if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FileResult{};
  return failure(err);
}

std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes, FileIdentity* identity) {
  result = FileResult{};
  struct stat st;
  int fd = open_regular(path, st, result);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    result = too_large(max_bytes);
  } else {
    bytes = read_to_end(fd, static_cast<uint64_t>(st.st_size), max_bytes, result);
  }
  ::close(fd);
  if (bytes && identity != nullptr) *identity = identity_of(st);
  return bytes;
}

FileReader::~FileReader() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool FileReader::open(const std::string& path, FileResult& result, uint64_t max_bytes) {
  result = FileResult{};
  struct stat st;
  int fd = open_regular(path, st, result);
  if (fd < 0) return false;
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    ::close(fd);
    result = too_large(max_bytes);
    return false;
  }
  handle_ = fd;
  identity_ = identity_of(st);
  return true;
}

bool FileReader::read_at(uint64_t offset, char* into, size_t count, FileResult& result) const {
  while (count > 0) {
    ssize_t n = ::pread(static_cast<int>(handle_), into, count, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      result = failure(errno);
      return false;
    }
    if (n == 0) {
      result = changed_while_read();
      return false;
    }
    into += n;
    offset += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool FileReader::unchanged(FileResult& result) const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    result = failure(errno);
    return false;
  }
  if (identity_of(st) == identity_) return true;
  result = changed_while_read();
  return false;
}

size_t name_length(const std::string& name) {
  return name.size();
}

bool is_path_separator(char c) {
  return c == '/';
}

FileResult size_of_file_replaced(const std::string& path, uint64_t& size) {
  size = 0;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return FileResult{};
  // rename puts a file in place of a symbolic link, but not of a directory.
  if (S_ISDIR(st.st_mode)) return failure(EISDIR);
  size = static_cast<uint64_t>(st.st_size);
  return FileResult{};
}

FileResult rename_over(const std::string& temp, const std::string& path) {
  return ::rename(temp.c_str(), path.c_str()) == 0 ? FileResult{} : failure(errno);
}

void remove_temporary(const std::string& temp) {
  ::unlink(temp.c_str());
}

FileResult write_new_file(const std::string& path, const std::string& bytes, bool sync) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return failure(errno);
  int err = write_all(fd, bytes.data(), bytes.size());
  if (err == 0 && sync && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) ::unlink(path.c_str());
  return err == 0 ? FileResult{} : failure(err);
}

namespace {

// fsync of what `path` names, opened with `flags`.
FileResult sync_opened(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return failure(errno);
  int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err == 0 ? FileResult{} : failure(err);
}

}  // namespace

FileResult sync_file(const std::string& path) {
  return sync_opened(path, O_RDONLY);
}

FileResult sync_directory(const std::string& dir) {
  return sync_opened(dir, O_RDONLY | O_DIRECTORY);
}

bool regular_file_size(const std::string& path, uint64_t& size) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

FileResult StagedFiles::add(const std::string& path, const PieceProducer& produce) {
  Staged f{path, "", -1};
  int fd = -1;
  for (uint32_t attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    f.temp = temporary_name(path, current_process_id(), attempt);
    forget_temporary(f.registration);
    f.registration = register_temporary(f.temp);
    fd = ::open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    int err = errno;
    forget_temporary(f.registration);
    return failure(err);
  }
  int err = 0;
  PieceWriter write = [fd, &err](const char* data, size_t size) {
    if (err == 0) err = write_all(fd, data, size);
    return err == 0;
  };
  try {
    produce(write);
  } catch (...) {
    ::close(fd);
    discard(f);
    throw;
  }
  if (err == 0) err = keep_old_mode(fd, path);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    discard(f);
    return failure(err);
  }
  files_.push_back(std::move(f));
  return FileResult{};
}

FileResult StagedFiles::add(const std::string& path, const std::string& bytes) {
  return add(path, [&bytes](const PieceWriter& write) { write(bytes.data(), bytes.size()); });
}

FileResult delete_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return failure(errno);
  return FileResult{};
}

std::optional<std::vector<std::string>> list_directory(const std::string& path,
                                                       FileResult& result) {
  result = FileResult{};
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    result = failure(errno);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(std::move(name));
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// Whether the file moved aside is the one checked: the same file (device and inode) with the same
// size and modification time. Not the change time: the rename has just set it.
bool same_file(const struct stat& checked, const struct stat& moved) {
  return checked.st_dev == moved.st_dev && checked.st_ino == moved.st_ino &&
         checked.st_size == moved.st_size && checked.st_mtim.tv_sec == moved.st_mtim.tv_sec &&
         checked.st_mtim.tv_nsec == moved.st_mtim.tv_nsec;
}

// Puts a file moved aside back at its name, unless a file saved meanwhile stands there (link
// does not replace one); then it stays under the name it was moved to, which the caller names.
bool put_back(const std::string& aside, const std::string& path) {
  if (::link(aside.c_str(), path.c_str()) != 0) return false;
  ::unlink(aside.c_str());
  return true;
}

}  // namespace

// The file is checked, then moved aside under a name of this process's own: the rename takes
// whatever stands at the name at that moment, so a file saved between the check and the delete is
// the one moved, and is recognised by its device and inode and put back. Only the file checked is
// unlinked.
DeleteOutcome delete_file_if_unchanged(const std::string& path, const FileIdentity& identity,
                                       FileResult& result) {
  result = FileResult{};
  struct stat checked;
  if (::stat(path.c_str(), &checked) != 0) {
    if (errno == ENOENT) return DeleteOutcome::kAlreadyGone;
    result = failure(errno);
    return DeleteOutcome::kFailed;
  }
  if (!(identity_of(checked) == identity)) return DeleteOutcome::kChanged;
  const std::string aside = path + ".deleting-" + std::to_string(current_process_id());
  before_commit_step(CommitStep::kDeleteSource, path);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    if (errno == ENOENT) return DeleteOutcome::kAlreadyGone;
    // A name too long for the suffix: deleted by its name, just after the check.
    if (errno == ENAMETOOLONG && ::unlink(path.c_str()) == 0) return DeleteOutcome::kDeleted;
    result = failure(errno);
    return DeleteOutcome::kFailed;
  }
  struct stat moved;
  if (::stat(aside.c_str(), &moved) == 0 && same_file(checked, moved)) {
    if (::unlink(aside.c_str()) == 0) return DeleteOutcome::kDeleted;
    result = failure(errno);
    put_back(aside, path);
    return DeleteOutcome::kFailed;
  }
  if (!put_back(aside, path)) {
    result = FileResult{false, "moved to " + aside + ": a file saved meanwhile holds its name", false};
    return DeleteOutcome::kFailed;
  }
  return DeleteOutcome::kChanged;
}

std::vector<std::string> remove_stale_temporaries(const std::string& dir,
                                                  const std::vector<std::string>& names) {
  std::vector<std::string> removed;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return removed;
  const int64_t self = current_process_id();
  while (const struct dirent* e = ::readdir(d)) {
    const std::string entry = e->d_name;
    for (const std::string& name : names) {
      int64_t pid = 0;
      if (!is_temporary_of(entry, name, pid) || (pid != self && process_is_running(pid))) continue;
      const std::string path = join_path(dir, entry);
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
        removed.push_back(path);
      }
      break;
    }
  }
  ::closedir(d);
  return removed;
}

}  // namespace compactor
