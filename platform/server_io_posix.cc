#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/server_io.h"

namespace compactor {

void keep_running_on_closed_output() {
  std::signal(SIGPIPE, SIG_IGN);
}

InputStatus read_standard_input(std::string& out, bool wait) {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&in, 1, wait ? -1 : 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return InputStatus::kEnd;
  if (ready == 0) return InputStatus::kNothing;
  char buffer[65536];
  ssize_t n = 0;
  do {
    n = read(STDIN_FILENO, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return InputStatus::kEnd;
  out.append(buffer, static_cast<size_t>(n));
  return InputStatus::kData;
}

bool write_standard_output(const std::string& bytes, std::string& reason) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A standard output the editor made non-blocking: wait until it takes more.
      struct pollfd out = {STDOUT_FILENO, POLLOUT, 0};
      if (poll(&out, 1, -1) >= 0 || errno == EINTR) continue;
    }
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      reason = err == EPIPE ? "" : std::strerror(err);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::vector<std::string> file_names_in(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) names.push_back(it->path().filename().string());
  }
  return names;
}

}  // namespace compactor
