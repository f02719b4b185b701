#include "platform/text_win32.h"

#include <algorithm>

#include "platform/server_io.h"

namespace compactor {

// A write to a closed pipe fails with ERROR_NO_DATA here: nothing to change.
void keep_running_on_closed_output() {}

InputStatus read_standard_input(std::string& out, bool wait) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return InputStatus::kEnd;
  DWORD wanted = 65536;
  if (GetFileType(in) == FILE_TYPE_PIPE) {
    // A pipe that cannot be peeked at (as under Wine, for a pipe of the host) is read when the
    // caller waits, and taken as empty when it does not; only a broken pipe is its end.
    DWORD available = 0;
    bool peeked = PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) != 0;
    if (!peeked && GetLastError() == ERROR_BROKEN_PIPE) return InputStatus::kEnd;
    if (!wait && (!peeked || available == 0)) return InputStatus::kNothing;
    if (peeked && available > 0) wanted = std::min(wanted, available);
  } else if (!wait && GetFileType(in) != FILE_TYPE_DISK) {
    return InputStatus::kNothing;
  }
  char buffer[65536];
  DWORD n = 0;
  if (!ReadFile(in, buffer, wanted, &n, nullptr) || n == 0) return InputStatus::kEnd;
  out.append(buffer, n);
  return InputStatus::kData;
}

bool write_standard_output(const std::string& bytes, std::string& reason) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(out, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
      DWORD err = GetLastError();
      if (err == ERROR_SUCCESS) err = ERROR_WRITE_FAULT;  // nothing written, and no error told
      const bool reader_gone = err == ERROR_NO_DATA || err == ERROR_BROKEN_PIPE;
      reason = reader_gone ? "" : system_reason(err);
      return false;
    }
    done += n;
  }
  return true;
}

std::vector<std::string> file_names_in(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE h =
      FindFirstFileW(to_wide((dir.empty() ? std::string(".") : dir) + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.push_back(to_utf8(found.cFileName));
    }
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return names;
}

}  // namespace compactor
