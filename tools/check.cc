#include "tools/check.h"

#include <algorithm>

#include "model/errors.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Line `line` of `source` without its line end; lines end at CR LF or at LF alone.
std::string_view source_line(std::string_view source, int32_t line) {
  size_t at = 0;
  for (int32_t l = 1; l < line && at < source.size(); ++l) {
    size_t lf = source.find('\n', at);
    at = lf == std::string_view::npos ? source.size() : lf + 1;
  }
  size_t end = std::min(source.find('\n', at), source.size());
  if (end > at && source[end - 1] == '\r' && end < source.size()) --end;
  return source.substr(at, end - at);
}

std::string severity_text(const Diagnostic& d) {
  switch (d.severity) {
    case Diagnostic::Severity::kError:
      return "error " + std::to_string(d.code);
    case Diagnostic::Severity::kWarning:
      return "warning";
    case Diagnostic::Severity::kNote:
      break;
  }
  return "note";
}

// Whether the failure is the compile's own error 25: at the diagnostic, or where the field reader
// stops on the record.
bool is_compile_error(const RecordFailure& r, const Model& m) {
  const SourcePos& at = m.error_source;
  if (m.error_code != kErrReadFailure || at.file != r.diagnostic.file) return false;
  return (at.line == r.diagnostic.line && at.column == r.diagnostic.column) ||
         (at.line == r.stop_line && at.column == r.stop_column);
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
  if (warnings.size() > kShownWarnings) {
    shown.push_back(
        format_note(std::to_string(warnings.size() - kShownWarnings) + " more warnings not shown"));
  }
  return shown;
}

std::string format_diagnostic(const Diagnostic& d, std::string_view source) {
  std::string text = severity_text(d) + ": " + d.message;
  std::string out;
  if (d.line > 0) {
    // The line alone, so that it is shown whatever its line end.
    std::string_view line = source_line(source, d.line);
    int64_t column = std::clamp<int64_t>(d.column - 1, 0, static_cast<int64_t>(line.size()));
    out = format_at(SourcePos{d.file, d.line, d.column, column}, line, text);
  } else {
    out = (d.file.empty() ? "compactor" : d.file) + ": " + text + "\n";
  }
  for (const Diagnostic& note : d.notes) out += format_diagnostic(note, source);
  return out;
}

std::vector<std::string> format_record_failures(const RecordCheck& check, const Sources& s,
                                                const Model& m, int& errors) {
  std::vector<std::string> shown;
  errors = static_cast<int>(check.failures.size() + check.not_listed);
  bool compile_error_found = false;
  for (const RecordFailure& r : check.failures) {
    if (!compile_error_found && is_compile_error(r, m)) {
      compile_error_found = true;
      --errors;
      continue;
    }
    shown.push_back(format_diagnostic(r.diagnostic, source_text(s, r.diagnostic.file)));
  }
  if (check.not_listed > 0) {
    shown.push_back(format_note(std::to_string(check.not_listed) +
                                " more records that cannot be read not listed"));
  }
  return shown;
}

std::string summary_line(int warnings, int errors) {
  return counted(warnings, "warning", "warnings") + ", " + counted(errors, "error", "errors");
}

}  // namespace compactor
