#include "tools/diagnostics.h"

#include <algorithm>

#include "model/errors.h"

namespace compactor {

namespace {

// The source line that holds `offset`, without its line end (CR LF or LF).
std::string_view line_at(std::string_view source, int64_t offset) {
  if (offset < 0 || static_cast<size_t>(offset) > source.size()) return {};
  size_t at = static_cast<size_t>(offset);
  size_t start = at == 0 ? 0 : source.rfind('\n', at - 1);
  start = start == std::string_view::npos || at == 0 ? 0 : start + 1;
  size_t end = source.find('\n', at);
  if (end == std::string_view::npos) end = source.size();
  if (end > start && source[end - 1] == '\r' && end < source.size()) --end;
  std::string_view line = source.substr(start, end - start);
  constexpr size_t kShown = 200;
  return line.size() > kShown ? line.substr(0, kShown) : line;
}

std::string with_source(const std::string& file, int32_t line_number, int32_t column,
                        int64_t offset, std::string_view source, const std::string& text) {
  std::string out =
      file + ":" + std::to_string(line_number) + ":" + std::to_string(column) + ": " + text + "\n";
  std::string_view line = line_at(source, offset);
  if (!line.empty()) {
    std::string shown;
    for (char c : line) shown.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    out += "  " + shown + "\n";
    size_t col = static_cast<size_t>(column > 0 ? column - 1 : 0);
    if (col <= shown.size()) out += "  " + std::string(col, ' ') + "^\n";
  }
  return out;
}

std::string severity_text(const Diagnostic& d) {
  switch (d.severity) {
    case Diagnostic::Severity::kError:
      return "error " + std::to_string(d.code) + ": ";
    case Diagnostic::Severity::kWarning:
      return "warning: ";
    case Diagnostic::Severity::kNote:
      break;
  }
  return "note: ";
}

Diagnostic located(const SourcePos& pos, Diagnostic::Severity severity) {
  Diagnostic d;
  d.file = pos.file;
  d.line = pos.line;
  d.column = pos.column;
  d.end_column = pos.end_column;
  d.offset = pos.line > 0 ? pos.offset : -1;
  d.severity = severity;
  return d;
}

}  // namespace

// The offset of column `column` of line `line`, lines ending at LF.
int64_t offset_of(std::string_view source, int32_t line, int32_t column) {
  size_t at = 0;
  for (int32_t l = 1; l < line && at < source.size(); ++l) {
    size_t lf = source.find('\n', at);
    at = lf == std::string_view::npos ? source.size() : lf + 1;
  }
  return static_cast<int64_t>(at) + std::max(column - 1, 0);
}

std::string format_diagnostic(const Diagnostic& d, std::string_view source) {
  std::string text = severity_text(d) + d.message;
  std::string out;
  if (d.line > 0) {
    int64_t offset = d.offset >= 0 ? d.offset : offset_of(source, d.line, d.column);
    out = with_source(d.file, d.line, d.column, offset, source, text);
  } else if (!d.file.empty()) {
    out = d.file + ": " + text + "\n";
  } else {
    out = format_note(text);
  }
  return out;
}

std::string error_message(int32_t code, int32_t position, const std::string& detail) {
  std::string text = detail.empty() ? error_meaning(code) : detail;
  if (error_has_position(code)) text += " (at " + std::to_string(position) + " m)";
  return text;
}

Diagnostic error_diagnostic(const RecordedError& e) {
  Diagnostic d = located(e.source, Diagnostic::Severity::kError);
  d.code = e.code;
  d.message = error_message(e.code, e.position, e.detail);
  for (const ErrorNote& n : e.notes) {
    Diagnostic note = located(n.pos, Diagnostic::Severity::kNote);
    note.message = n.text;
    d.notes.push_back(std::move(note));
  }
  return d;
}

std::string format_error(const Model& m, std::string_view source) {
  RecordedError e{m.error_code, m.error_position, m.error_source, m.error_detail, {}};
  return format_diagnostic(error_diagnostic(e), source);
}

std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text) {
  return with_source(pos.file, pos.line, pos.column, pos.offset, source, "warning: " + text);
}

std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text) {
  return with_source(pos.file, pos.line, pos.column, pos.offset, source, text);
}

std::string format_note(const std::string& text) {
  return "compactor: " + text + "\n";
}

}  // namespace compactor
