#include "tools/check.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "compiler/reader.h"
#include "model/errors.h"
#include "tools/diagnostics.h"
#include "tools/source_fixes.h"

namespace compactor {

namespace {

// Whether the failure is the compile's own error 25: at the diagnostic, or where the field reader
// stops on the record.
bool is_compile_error(const RecordFailure& r, const Model& m) {
  const SourcePos& at = m.error_source;
  if (m.error_code != kErrReadFailure || at.file != r.diagnostic.file) return false;
  return (at.line == r.diagnostic.line && at.column == r.diagnostic.column) ||
         (at.line == r.stop_line && at.column == r.stop_column);
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A warning, or an error of the program's own, whose code is its name.
Diagnostic warning_diagnostic(const Warning& w) {
  Diagnostic d;
  d.file = w.pos.file;
  d.line = w.pos.line;
  d.column = w.pos.column;
  d.end_column = w.pos.end_column;
  d.offset = w.pos.offset;
  d.severity = w.error ? Diagnostic::Severity::kError : Diagnostic::Severity::kWarning;
  d.name = w.name;
  d.message = w.text;
  return d;
}

const char* severity_name(Diagnostic::Severity s) {
  switch (s) {
    case Diagnostic::Severity::kError:
      return "error";
    case Diagnostic::Severity::kWarning:
      return "warning";
    case Diagnostic::Severity::kNote:
      break;
  }
  return "note";
}

// The edits of `fixes` that mend `d`: the one at its field for a misspelt keyword, every lone CR
// of its file for the lone CR it names (as the language server's quick fix makes them all).
nlohmann::json fixes_json(const Diagnostic& d, std::string_view text,
                          const std::vector<SourceFix>& fixes) {
  nlohmann::json out = nlohmann::json::array();
  for (const SourceFix& f : fixes) {
    if (f.mends != d.name || (f.mends != "lone-cr" && f.start != d.offset)) continue;
    const SourcePos at = source_position(text, d.file, f.start);
    const SourcePos end = source_position(text, d.file, f.end);
    out.push_back({{"line", at.line},
                   {"column", at.column},
                   {"end_column", end.column},
                   {"new_text", f.new_text}});
  }
  return out;
}

// The edits that mend the diagnostics of each source, found once per source.
struct SourceFixes {
  std::map<std::string, std::vector<SourceFix>> by_file;
  const std::vector<SourceFix>& of(std::string_view text, const std::string& file) {
    auto found = by_file.find(file);
    if (found == by_file.end()) found = by_file.emplace(file, source_fixes(text, file)).first;
    return found->second;
  }
};

nlohmann::json diagnostic_json(const Diagnostic& d, const Sources* s, SourceFixes& fixes) {
  nlohmann::json j;
  const std::string_view text = s != nullptr ? source_text(*s, d.file) : std::string_view();
  const CharacterColumns at = character_columns(d, text);
  j["file"] = d.file;
  j["line"] = d.line;
  j["column"] = at.column;
  j["end_column"] = at.end_column;
  j["severity"] = severity_name(d.severity);
  if (d.severity == Diagnostic::Severity::kError && d.name.empty()) {
    j["code"] = std::to_string(d.code);
    j["number"] = d.code;
  } else {
    j["code"] = d.name;
  }
  j["message"] = d.message;
  nlohmann::json notes = nlohmann::json::array();
  for (const Diagnostic& n : d.notes) notes.push_back(diagnostic_json(n, s, fixes));
  j["notes"] = std::move(notes);
  j["fixes"] = d.name.empty() || text.empty()
                   ? nlohmann::json::array()
                   : fixes_json(d, text, fixes.of(text, d.file));
  return j;
}

}  // namespace

CheckReport make_report(const Model& m, const std::vector<Warning>& warnings,
                        size_t warnings_not_kept, size_t errors_not_kept) {
  CheckReport r;
  size_t shown_warnings = 0;
  size_t shown_errors = 0;
  for (const Warning& w : warnings) {
    if (!w.error && shown_warnings++ < kShownWarnings)
      r.diagnostics.push_back(warning_diagnostic(w));
  }
  for (const Warning& w : warnings) {
    if (w.error && shown_errors++ < kShownErrors) r.diagnostics.push_back(warning_diagnostic(w));
  }
  r.own_errors = static_cast<int>(shown_errors + errors_not_kept);
  r.warnings = static_cast<int>(shown_warnings + warnings_not_kept);
  r.warnings_not_shown = r.warnings - static_cast<int>(std::min(shown_warnings, kShownWarnings));
  for (size_t i = 0; i < m.error_log.size() && shown_errors < kShownErrors; ++i, ++shown_errors) {
    r.diagnostics.push_back(error_diagnostic(m.error_log[i]));
  }
  r.errors = r.own_errors + static_cast<int>(m.error_log.size());
  r.errors_not_shown = r.errors - static_cast<int>(std::min<size_t>(shown_errors, kShownErrors));
  r.outcome_code = m.error_code;
  r.outcome_position = m.error_position;
  return r;
}

void add_record_failures(CheckReport& report, const RecordCheck& check, const Model& m) {
  auto first_error =
      std::find_if(report.diagnostics.begin(), report.diagnostics.end(),
                   [](const Diagnostic& d) { return d.severity == Diagnostic::Severity::kError; });
  std::vector<Diagnostic> listed;
  bool compile_error_found = false;
  for (const RecordFailure& r : check.failures) {
    if (!compile_error_found && is_compile_error(r, m)) {
      compile_error_found = true;
      continue;
    }
    listed.push_back(r.diagnostic);
  }
  report.errors += static_cast<int>(listed.size() + check.not_listed);
  report.records_not_listed = check.not_listed;
  report.diagnostics.insert(first_error, listed.begin(), listed.end());
}

void add_run_error(CheckReport& report, int32_t code) {
  Diagnostic d;
  d.severity = Diagnostic::Severity::kError;
  d.code = code;
  d.message = error_message(code, 0, "");
  report.diagnostics.push_back(std::move(d));
  ++report.errors;
  report.outcome_code = code;
  report.outcome_position = 0;
}

std::string_view source_text(const Sources& s, const std::string& file) {
  if (file == s.line.name && s.line.bytes) return *s.line.bytes;
  if (file == s.train.name && s.train.bytes) return *s.train.bytes;
  return {};
}

std::vector<std::string> format_report(const CheckReport& report, const Sources& s, bool color) {
  std::vector<std::string> shown;
  bool errors_started = false;
  for (const Diagnostic& d : report.diagnostics) {
    if (d.severity == Diagnostic::Severity::kError && !errors_started) {
      errors_started = true;
      if (report.warnings_not_shown > 0) {
        shown.push_back(format_note(
            std::to_string(report.warnings_not_shown) + " more warnings not shown", color));
      }
    }
    shown.push_back(format_diagnostic(d, source_text(s, d.file), color));
    for (const Diagnostic& n : d.notes)
      shown.push_back(format_diagnostic(n, source_text(s, n.file), color));
  }
  if (!errors_started && report.warnings_not_shown > 0) {
    shown.push_back(
        format_note(std::to_string(report.warnings_not_shown) + " more warnings not shown", color));
  }
  if (report.records_not_listed > 0) {
    shown.push_back(format_note(
        std::to_string(report.records_not_listed) + " more records that cannot be read not listed",
        color));
  }
  if (report.errors_not_shown > 0) {
    shown.push_back(
        format_note(std::to_string(report.errors_not_shown) + " more errors not shown", color));
  }
  return shown;
}

std::string summary_line(int warnings, int errors) {
  return counted(warnings, "warning", "warnings") + ", " + counted(errors, "error", "errors");
}

std::string summary_line(const CheckReport& report) {
  std::string line = summary_line(report.warnings, report.errors);
  if (report.outcome_code != 0) {
    line += "; outcome: error " + std::to_string(report.outcome_code);
    if (error_has_position(report.outcome_code)) {
      line += " (at " + std::to_string(report.outcome_position) + " m)";
    }
  } else if (report.errors > 0) {
    line += "; outcome: no error";
  }
  return line;
}

std::string report_json(const CheckReport& report, const Sources* s) {
  nlohmann::json j;
  j["columns"] = "characters";
  nlohmann::json diagnostics = nlohmann::json::array();
  SourceFixes fixes;
  for (const Diagnostic& d : report.diagnostics) {
    diagnostics.push_back(diagnostic_json(d, s, fixes));
  }
  j["diagnostics"] = std::move(diagnostics);
  j["warnings"] = report.warnings;
  j["errors"] = report.errors;
  j["outcome"] = {{"code", report.outcome_code}, {"position", report.outcome_position}};
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string problem_json(const std::string& code, const std::string& message) {
  Diagnostic d;
  d.message = message;
  SourceFixes no_fixes;
  nlohmann::json problem = diagnostic_json(d, nullptr, no_fixes);
  problem["code"] = code;
  problem.erase("number");
  nlohmann::json j;
  j["diagnostics"] = nlohmann::json::array({std::move(problem)});
  j["warnings"] = 0;
  j["errors"] = 1;
  j["outcome"] = nullptr;
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace compactor
