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

std::string with_source(const SourcePos& pos, std::string_view source, const std::string& text) {
  std::string out = pos.file + ":" + std::to_string(pos.line) + ":" + std::to_string(pos.column) +
                    ": " + text + "\n";
  std::string_view line = line_at(source, pos.offset);
  if (!line.empty()) {
    std::string shown;
    for (char c : line) shown.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    out += "  " + shown + "\n";
    size_t col = static_cast<size_t>(pos.column > 0 ? pos.column - 1 : 0);
    if (col <= shown.size()) out += "  " + std::string(col, ' ') + "^\n";
  }
  return out;
}

}  // namespace

std::string format_error(const Model& m, std::string_view source) {
  std::string text = "error " + std::to_string(m.error_code) + ": " + error_meaning(m.error_code);
  if (error_has_position(m.error_code)) {
    text += " (at " + std::to_string(m.error_position) + " m)";
  }
  if (m.error_source.line > 0) return with_source(m.error_source, source, text);
  if (!m.error_source.file.empty()) return m.error_source.file + ": " + text + "\n";
  return format_note(text);
}

std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text) {
  return with_source(pos, source, "warning: " + text);
}

std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text) {
  return with_source(pos, source, text);
}

std::string format_note(const std::string& text) {
  return "compactor: " + text + "\n";
}

}  // namespace compactor
