// File operations on Windows, with the same meaning as on POSIX systems. Names are UTF-8 inside
// the program and are opened by their UTF-16 form, so any name the file system allows works.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "platform/files.h"
#include "platform/text_win32.h"

namespace compactor {

namespace {

// The system's text for an error code, without its closing full stop and line break.
FileResult failure(DWORD err) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, err, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return FileResult{false, "error " + std::to_string(err)};
  return FileResult{false, to_utf8(text)};
}

FileResult too_large(uint64_t max_bytes) {
  return FileResult{false, "larger than " + std::to_string(max_bytes >> 20) + " MiB"};
}

bool is_directory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A new, empty file beside `target`, named after it: TARGET.tmp-XXXXXX.
HANDLE create_temporary(const std::wstring& target, std::wstring& temp, DWORD& err) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned mix = (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() * 40503u) ^ counter++;
    wchar_t suffix[16];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".tmp-%06x", mix & 0xFFFFFFu);
    temp = target + suffix;
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    err = GetLastError();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool file_exists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes) {
  result = FileResult{};
  const std::wstring name = to_wide(path);
  if (is_directory(name)) {
    result = FileResult{false, "not a regular file"};
    return std::nullopt;
  }
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    result = failure(GetLastError());
    return std::nullopt;
  }
  auto fail = [&](FileResult r) -> std::optional<std::string> {
    CloseHandle(h);
    result = r;
    return std::nullopt;
  };
  // Devices such as NUL or CON open like files.
  if (GetFileType(h) != FILE_TYPE_DISK) return fail(FileResult{false, "not a regular file"});
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) return fail(failure(GetLastError()));
  if (static_cast<uint64_t>(size.QuadPart) > max_bytes) return fail(too_large(max_bytes));
  std::string bytes;
  bytes.reserve(static_cast<size_t>(size.QuadPart));
  char buffer[1 << 16];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return fail(failure(GetLastError()));
    if (n == 0) break;
    bytes.append(buffer, n);
    if (bytes.size() > max_bytes) return fail(too_large(max_bytes));
  }
  CloseHandle(h);
  return bytes;
}

// replace_file_in_pieces (files_pieces_win32.cc) gathers the pieces and comes here.
FileResult replace_file(const std::string& path, const std::string& bytes) {
  const std::wstring target = to_wide(path);
  std::wstring temp;
  DWORD err = ERROR_FILE_EXISTS;
  HANDLE h = create_temporary(target, temp, err);
  if (h == INVALID_HANDLE_VALUE) return failure(err);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr)) {
      err = GetLastError();
      CloseHandle(h);
      DeleteFileW(temp.c_str());
      return failure(err);
    }
    done += n;
  }
  if (!CloseHandle(h)) {
    err = GetLastError();
    DeleteFileW(temp.c_str());
    return failure(err);
  }
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    err = GetLastError();
    DeleteFileW(temp.c_str());
    return failure(err);
  }
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

}  // namespace compactor
