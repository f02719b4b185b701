#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace compactor {

namespace {
volatile sig_atomic_t g_wait_shown = 0;
}

std::string program_directory() {
  std::string path(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return ".";
  path.resize(static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

char path_separator() {
  return '/';
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == path_separator()) return dir + name;
  return dir + path_separator() + name;
}

std::string parent_directory(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

std::string last_part(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

bool stderr_takes_color() {
  return isatty(STDERR_FILENO) != 0;
}

bool standard_output_present() {
  return true;  // a closed stdout is a write failure to report
}

void begin_wait(bool quiet) {
  if (quiet || !isatty(STDERR_FILENO)) return;
  g_wait_shown = 1;  // first: a signal that ends the run as the mark is written still erases it
  std::fputs("\033[1mAttendere\033[0m", stderr);
  std::fflush(stderr);
}

// One write(2) on the unbuffered stderr: a signal handler ending the run may call it too.
void end_wait() {
  if (!g_wait_shown) return;
  g_wait_shown = 0;
  static const char kErase[] = "\r\033[K";
  ssize_t written = ::write(STDERR_FILENO, kErase, sizeof kErase - 1);
  (void)written;  // a terminal that cannot take it keeps the mark; nothing else to do
}

void show_fatal_message(const std::string& text) {
  end_wait();
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace compactor
