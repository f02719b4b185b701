#include "tools/check.h"

#include "tools/diagnostics.h"

namespace compactor {

namespace {

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string_view source_text(const Sources& s, const std::string& file) {
  if (file == s.line.name && s.line.bytes) return *s.line.bytes;
  if (file == s.train.name && s.train.bytes) return *s.train.bytes;
  return {};
}

std::vector<std::string> format_warnings(const std::vector<Warning>& warnings, const Sources& s) {
  std::vector<std::string> shown;
  for (size_t i = 0; i < warnings.size() && i < kShownWarnings; ++i) {
    const Warning& w = warnings[i];
    shown.push_back(format_warning(w.pos, source_text(s, w.pos.file), w.text));
  }
  const size_t total = warnings.size() + s.warnings_not_kept;
  if (total > kShownWarnings) {
    shown.push_back(
        format_note(std::to_string(total - kShownWarnings) + " more warnings not shown"));
  }
  return shown;
}

std::string summary_line(int warnings, int errors) {
  return counted(warnings, "warning", "warnings") + ", " + counted(errors, "error", "errors");
}

}  // namespace compactor
