#include "tools/diagnostics.h"

#include "model/errors.h"

namespace compactor {

namespace {

// The source line that holds `offset`, without its line end.
std::string_view line_at(std::string_view source, int64_t offset) {
  if (offset < 0 || static_cast<size_t>(offset) > source.size()) return {};
  size_t start = static_cast<size_t>(offset);
  while (start > 0 && !(start >= 2 && source[start - 2] == '\r' && source[start - 1] == '\n')) {
    --start;
  }
  size_t end = source.find("\r\n", static_cast<size_t>(offset));
  if (end == std::string_view::npos) end = source.size();
  std::string_view line = source.substr(start, end - start);
  constexpr size_t kShown = 200;
  return line.size() > kShown ? line.substr(0, kShown) : line;
}

// "PLACE: SEVERITY: TEXT": the place in bold and the severity in its colour.
std::string headline(const std::string& place, const std::string& severity, Paint paint,
                     const std::string& text, bool color) {
  return painted(place + ":", Paint::kPlace, color) + " " + painted(severity + ":", paint, color) +
         " " + text + "\n";
}

std::string with_source(const SourcePos& pos, std::string_view source, const std::string& severity,
                        Paint paint, const std::string& text, bool color) {
  std::string place = pos.file + ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column);
  std::string out = headline(place, severity, paint, text, color);
  std::string_view line = line_at(source, pos.offset);
  if (!line.empty()) {
    std::string shown;
    for (char c : line) shown.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    out += "  " + shown + "\n";
    size_t col = static_cast<size_t>(pos.column > 0 ? pos.column - 1 : 0);
    if (col <= shown.size())
      out += "  " + std::string(col, ' ') + painted("^", Paint::kCaret, color) + "\n";
  }
  return out;
}

}  // namespace

std::string format_error(const Model& m, std::string_view source, bool color) {
  std::string severity = "error " + std::to_string(m.error_code);
  std::string text = error_meaning(m.error_code);
  if (error_has_position(m.error_code)) {
    text += " (at " + std::to_string(m.error_position) + " m)";
  }
  if (m.error_source.line > 0) {
    return with_source(m.error_source, source, severity, Paint::kError, text, color);
  }
  std::string place = m.error_source.file.empty() ? "compactor" : m.error_source.file;
  return headline(place, severity, Paint::kError, text, color);
}

std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text,
                           bool color) {
  return with_source(pos, source, "warning", Paint::kWarning, text, color);
}

std::string format_note(const std::string& text, bool color) {
  return painted("compactor:", Paint::kPlace, color) + " " + text + "\n";
}

std::string painted(std::string_view text, Paint paint, bool color) {
  if (!color) return std::string(text);
  const char* start = "\033[1m";
  switch (paint) {
    case Paint::kPlace:
      break;
    case Paint::kError:
      start = "\033[1;31m";
      break;
    case Paint::kWarning:
      start = "\033[1;35m";
      break;
    case Paint::kNote:
      start = "\033[1;36m";
      break;
    case Paint::kCaret:
      start = "\033[1;32m";
      break;
  }
  return start + std::string(text) + "\033[0m";
}

}  // namespace compactor
