#include "app/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/process.h"
#include "tools/check.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

int g_first_error = 0;  // errno of the first failed write, 0 while none failed

int last_error() {
  return errno != 0 ? errno : EIO;
}

bool g_problems_as_json = false;

}  // namespace

bool write_stdout(std::string_view text) {
  if (g_first_error != 0) return false;
  errno = 0;
  // glibc can report a full disk inside fwrite, before any fflush, and only through ferror.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) {
    g_first_error = last_error();
  }
  return g_first_error == 0;
}

int finish_stdout(int status) {
  if (!standard_output_present()) return status;
  errno = 0;
  if (std::fflush(stdout) != 0 && g_first_error == 0) g_first_error = last_error();
  if (g_first_error == 0 && std::ferror(stdout)) g_first_error = EIO;
  if (g_first_error == 0) return status;
  if (g_first_error == EPIPE) end_by_signal(kSigPipe);
  return report_stdout_failure(std::strerror(g_first_error));
}

int report_stdout_failure(const std::string& reason) {
  std::fputs(format_note("cannot write standard output: " + reason).c_str(), stderr);
  return 3;
}

void set_problems_as_json(bool on) {
  g_problems_as_json = on;
}

void report_problem_as_json(const std::string& code, const std::string& message) {
  if (!g_problems_as_json) return;
  g_problems_as_json = false;
  write_stdout(problem_json(code, message));
}

}  // namespace compactor
