// File operations on Windows, with the same meaning as on POSIX systems. Names are UTF-8 inside
// the program and are opened by their UTF-16 form, so any name the file system allows works.
#include "platform/text_win32.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/set_record.h"
#include "platform/temporaries.h"

namespace compactor {

namespace {

// A failure with the system's text for an error code.
FileResult failure(DWORD err) {
  return FileResult{false, system_reason(err), false,
                    err == ERROR_TOO_MANY_OPEN_FILES || err == ERROR_NOT_ENOUGH_MEMORY ||
                        err == ERROR_OUTOFMEMORY};
}

bool is_missing(DWORD err) {
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

FileResult too_large(uint64_t max_bytes) {
  return FileResult{false, "larger than " + std::to_string(max_bytes >> 20) + " MiB", false};
}

FileResult not_regular(const char* what) {
  return FileResult{false, what, false};
}

bool is_directory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The change time of an open file: one more call on the handle. 0 when the system gives none;
// the identity then rests on the other fields.
int64_t change_time(HANDLE h) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return 0;
  return basic.ChangeTime.QuadPart;
}

FileIdentity identity_of(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.file_number = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  id.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  id.modified = static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                     info.ftLastWriteTime.dwLowDateTime);
  id.changed = change_time(h);
  return id;
}

// Why a handle that is not a file on a disk is not read: what it is instead.
FileResult not_a_disk_file(HANDLE h) {
  switch (GetFileType(h)) {
    case FILE_TYPE_CHAR:
      return not_regular("Is a character device, not a regular file");
    case FILE_TYPE_PIPE:
      return not_regular("Is a FIFO, not a regular file");
    default:
      return not_regular("Is not a regular file");
  }
}

FileResult write_all(HANDLE h, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr)) return failure(GetLastError());
    done += n;
  }
  return FileResult{};
}

}  // namespace

bool file_exists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A link's own attributes are read, not those of what it leads to.
bool name_taken(const std::string& path) {
  return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES ||
         !is_missing(GetLastError());
}

namespace {

// Whether a handle opened on the name itself is a symbolic link or a junction, which leads to
// another name, rather than a file that only keeps its data elsewhere.
bool is_link(HANDLE h, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  return tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
}

NameFacts facts_of(HANDLE h, Links links) {
  // Devices such as NUL or CON open like files.
  if (GetFileType(h) != FILE_TYPE_DISK) return NameFacts{NameKind::kOther, FileIdentity{}};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return NameFacts{NameKind::kUnknown, FileIdentity{}};
  NameKind kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NameKind::kDirectory
                                                                          : NameKind::kFile;
  if (links == Links::kOwn && is_link(h, info.dwFileAttributes)) kind = NameKind::kOther;
  return NameFacts{kind, identity_of(h, info)};
}

}  // namespace

// The name is opened for its attributes only, shared every way so that no one who has the file
// open is disturbed; FILE_FLAG_BACKUP_SEMANTICS lets a directory be opened too.
NameFacts look_up_name(const std::string& path, Links links) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (links == Links::kOwn ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h = CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A name the system does not take (a file's name with a separator after it, as a directory's
    // would have) names nothing, as a file used as a directory does on POSIX systems.
    const DWORD error = GetLastError();
    const bool missing = is_missing(error) || error == ERROR_INVALID_NAME;
    return NameFacts{missing ? NameKind::kMissing : NameKind::kUnknown, FileIdentity{}};
  }
  NameFacts facts = facts_of(h, links);
  CloseHandle(h);
  return facts;
}

FileResult make_directory(const std::string& path, bool& created) {
  const std::wstring name = to_wide(path);
  created = CreateDirectoryW(name.c_str(), nullptr) != 0;
  if (created) return FileResult{};
  const DWORD err = GetLastError();
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (err == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileResult{};
  }
  return failure(err);
}

namespace {

// Opens a file on a disk for reading, with its identity; INVALID_HANDLE_VALUE with the reason in
// `result` when it cannot be opened, is no such file or is larger than max_bytes.
HANDLE open_disk_file(const std::string& path, uint64_t max_bytes, FileIdentity& identity,
                      FileResult& result) {
  result = FileResult{};
  const std::wstring name = to_wide(path);
  if (is_directory(name)) {
    result = not_regular("Is a directory");
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    result = failure(err);
    result.missing = is_missing(err);
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  // Devices such as NUL or CON open like files.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    result = not_a_disk_file(h);
  } else if (!GetFileInformationByHandle(h, &info)) {
    result = failure(GetLastError());
  } else {
    identity = identity_of(h, info);
    if (identity.size <= max_bytes) return h;
    result = too_large(max_bytes);
  }
  CloseHandle(h);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes, FileIdentity* identity) {
  FileIdentity read;
  HANDLE h = open_disk_file(path, max_bytes, read, result);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  auto fail = [&](FileResult r) -> std::optional<std::string> {
    CloseHandle(h);
    result = r;
    return std::nullopt;
  };
  std::string bytes;
  bytes.reserve(static_cast<size_t>(read.size));
  char buffer[1 << 16];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return fail(failure(GetLastError()));
    if (n == 0) break;
    bytes.append(buffer, n);
    if (bytes.size() > max_bytes) return fail(too_large(max_bytes));
  }
  CloseHandle(h);
  if (identity != nullptr) *identity = read;
  return bytes;
}

FileReader::~FileReader() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileReader::open(const std::string& path, FileResult& result, uint64_t max_bytes) {
  HANDLE h = open_disk_file(path, max_bytes, identity_, result);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

// Each read names its offset (OVERLAPPED), so that no read depends on where another left off.
bool FileReader::read_at(uint64_t offset, char* into, size_t count, FileResult& result) const {
  while (count > 0) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), into, chunk, &n, &at)) {
      const DWORD err = GetLastError();
      result = err == ERROR_HANDLE_EOF ? changed_while_read() : failure(err);
      return false;
    }
    if (n == 0) {
      result = changed_while_read();
      return false;
    }
    into += n;
    offset += n;
    count -= n;
  }
  return true;
}

bool FileReader::unchanged(FileResult& result) const {
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    result = failure(GetLastError());
    return false;
  }
  if (identity_of(h, info) == identity_) return true;
  result = changed_while_read();
  return false;
}

// NTFS counts a name in UTF-16 units: one for each character of UTF-8, two for one of four
// bytes (outside the Basic Multilingual Plane).
size_t name_length(const std::string& name) {
  size_t units = 0;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

bool is_path_separator(char c) {
  return c == '\\' || c == '/';
}

FileResult size_of_file_replaced(const std::string& path, uint64_t& size) {
  size = 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data)) {
    return FileResult{};
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return failure(ERROR_ACCESS_DENIED);
  size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return FileResult{};
}

FileResult rename_over(const std::string& temp, const std::string& path) {
  if (MoveFileExW(to_wide(temp).c_str(), to_wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return FileResult{};
  }
  return failure(GetLastError());
}

void remove_temporary(const std::string& temp) {
  DeleteFileW(to_wide(temp).c_str());
}

FileResult write_new_file(const std::string& path, const std::string& bytes, bool sync) {
  HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failure(GetLastError());
  FileResult r = write_all(h, bytes);
  if (r.ok && sync && !FlushFileBuffers(h)) r = failure(GetLastError());
  if (!CloseHandle(h) && r.ok) r = failure(GetLastError());
  if (!r.ok) DeleteFileW(to_wide(path).c_str());
  return r;
}

FileResult sync_file(const std::string& path) {
  HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failure(GetLastError());
  FileResult r = FlushFileBuffers(h) ? FileResult{} : failure(GetLastError());
  CloseHandle(h);
  return r;
}

// NTFS logs the changes of a directory's entries itself; a rename is durable with its log.
FileResult sync_directory(const std::string&) {
  return FileResult{};
}

bool regular_file_size(const std::string& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return true;
}

// add(path, produce) (files_pieces_win32.cc) gathers the pieces and comes here. The temporary
// file is shared for deletion, so that the Ctrl-C handler can remove it while it is written.
FileResult StagedFiles::add(const std::string& path, const std::string& bytes) {
  Staged f{path, "", -1};
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD err = ERROR_FILE_EXISTS;
  for (uint32_t attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    f.temp = temporary_name(path, current_process_id(), attempt);
    forget_temporary(f.registration);
    f.registration = register_temporary(f.temp);
    h = CreateFileW(to_wide(f.temp).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) err = GetLastError();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    forget_temporary(f.registration);
    return failure(err);
  }
  FileResult r = write_all(h, bytes);
  if (!CloseHandle(h) && r.ok) r = failure(GetLastError());
  if (!r.ok) {
    discard(f);
    return r;
  }
  files_.push_back(std::move(f));
  return FileResult{};
}

FileResult delete_file(const std::string& path) {
  if (!DeleteFileW(to_wide(path).c_str())) return failure(GetLastError());
  return FileResult{};
}

std::optional<std::vector<std::string>> list_directory(const std::string& path,
                                                       FileResult& result) {
  result = FileResult{};
  std::wstring pattern = to_wide(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  std::vector<std::string> names;
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) return names;
    result = failure(err);
    return std::nullopt;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.push_back(to_utf8(found.cFileName));
    }
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

// The file is opened, compared and deleted through one handle: no other file can take its name
// in between.
DeleteOutcome delete_file_if_unchanged(const std::string& path, const FileIdentity& identity,
                                       FileResult& result) {
  result = FileResult{};
  HANDLE h = CreateFileW(to_wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (is_missing(err)) return DeleteOutcome::kAlreadyGone;
    result = failure(err);
    return DeleteOutcome::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  DeleteOutcome outcome = DeleteOutcome::kDeleted;
  if (!GetFileInformationByHandle(h, &info)) {
    result = failure(GetLastError());
    outcome = DeleteOutcome::kFailed;
  } else if (!(identity_of(h, info) == identity)) {
    outcome = DeleteOutcome::kChanged;
  } else {
    before_commit_step(CommitStep::kDeleteSource, path);
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition)) {
      result = failure(GetLastError());
      outcome = DeleteOutcome::kFailed;
    }
  }
  CloseHandle(h);
  return outcome;
}

std::vector<std::string> remove_stale_temporaries(const std::string& dir,
                                                  const std::vector<std::string>& names) {
  std::vector<std::string> removed;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(to_wide(join_path(dir, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return removed;
  const int64_t self = current_process_id();
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string entry = to_utf8(found.cFileName);
    for (const std::string& name : names) {
      int64_t pid = 0;
      if (!is_temporary_of(entry, name, pid) || (pid != self && process_is_running(pid))) continue;
      const std::string path = join_path(dir, entry);
      if (DeleteFileW(to_wide(path).c_str())) removed.push_back(path);
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

}  // namespace compactor
