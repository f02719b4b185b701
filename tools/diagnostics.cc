#include "tools/diagnostics.h"

#include <algorithm>
#include <optional>

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

// The character that starts at `at`, as bytes, and whether a terminal acts on it as a control:
// a C0 byte, DEL, a C1 character written in UTF-8 (U+0080 to U+009F), or a byte 0x80 to 0x9F
// that is not part of a UTF-8 sequence (a C1 control in Latin-1). A valid UTF-8 sequence is one
// piece, so that its continuation bytes, whatever their values, are not read as controls.
struct Piece {
  size_t length = 1;
  bool control = false;
};

Piece piece_at(std::string_view text, size_t at) {
  const auto u = static_cast<unsigned char>(text[at]);
  if (u < 0x80) return {1, u < 0x20 || u == 0x7F};
  const size_t sequence = utf8_sequence_length(text, at);
  if (sequence == 2 && u == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
    return {2, true};
  }
  if (sequence > 0) return {sequence, false};
  return {1, u < 0xA0};
}

// The text with its control characters written as escapes ("\r", "\x01", "\xc2\x9b"), so that
// a field quoted from a source cannot move the terminal's cursor.
std::string escaped(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const Piece piece = piece_at(text, at);
    for (size_t k = at; k < at + piece.length; ++k) {
      const char c = text[k];
      const auto u = static_cast<unsigned char>(c);
      if (!piece.control) {
        out += c;
      } else if (c == '\r') {
        out += "\\r";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\n') {
        out += "\\n";
      } else {
        const char* hex = "0123456789abcdef";
        out += "\\x";
        out += hex[u >> 4];
        out += hex[u & 15];
      }
    }
    at += piece.length;
  }
  return out;
}

// "PLACE: SEVERITY: TEXT": the place in bold and the severity in its colour.
std::string headline(const std::string& place, const std::string& severity, Paint paint,
                     const std::string& text, bool color) {
  std::string out = painted(place + ":", Paint::kPlace, color);
  if (!severity.empty()) {
    out += ' ';
    out += painted(severity + ":", paint, color);
  }
  out += ' ';
  out += escaped(text);
  out += '\n';
  return out;
}

// Where a message is about a place in a source.
struct Located {
  std::string file;
  int32_t line = 0;
  int32_t column = 0;
  int64_t offset = -1;  // to find the source line
};

// The characters of `text`: a valid UTF-8 sequence is one, any other byte one.
int32_t characters(std::string_view text) {
  int32_t n = 0;
  for (size_t k = 0; k < text.size(); k += piece_at(text, k).length) ++n;
  return n;
}

// The bytes of the line of a place before its byte column, or nullopt when the source does not
// hold them.
std::optional<std::string_view> before_column(std::string_view source, int64_t offset,
                                              int32_t column) {
  const int64_t start = offset - (column - 1);
  if (offset < 0 || column < 1 || start < 0 || static_cast<size_t>(offset) > source.size()) {
    return std::nullopt;
  }
  return source.substr(static_cast<size_t>(start), static_cast<size_t>(offset - start));
}

// The column of a place, counted in characters.
int32_t character_column(const Located& at, std::string_view source) {
  std::optional<std::string_view> before = before_column(source, at.offset, at.column);
  return before ? characters(*before) + 1 : at.column;
}

// The headline, then the source line and a caret under the column. The line shows each control
// character as one blank, a tab as a tab, and the caret line repeats the tabs, so that the caret
// stands under its character.
std::string with_source(const Located& at, std::string_view source, const std::string& severity,
                        Paint paint, const std::string& text, bool color) {
  const std::string place =
      at.file + ":" + std::to_string(at.line) + ":" + std::to_string(character_column(at, source));
  std::string out = headline(place, severity, paint, text, color);
  const size_t byte_column = static_cast<size_t>(at.column > 0 ? at.column - 1 : 0);
  std::string_view line = line_at(source, at.offset);
  if (!line.empty()) {
    std::string shown;
    std::string caret_indent;
    bool caret_placed = false;
    for (size_t k = 0; k < line.size();) {
      const Piece piece = piece_at(line, k);
      const bool tab = line[k] == '\t';
      shown.append(tab ? "\t" : piece.control ? " " : std::string(line.substr(k, piece.length)));
      if (k < byte_column) caret_indent += tab ? '\t' : ' ';
      caret_placed = caret_placed || k >= byte_column;
      k += piece.length;
    }
    out += "  " + shown + "\n";
    if (caret_placed || byte_column == line.size()) {
      out += "  " + caret_indent + painted("^", Paint::kCaret, color) + "\n";
    }
  }
  return out;
}

}  // namespace

size_t utf8_sequence_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  }
  if (length == 0 || at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) return 0;
  }
  return length;
}


CharacterColumns character_columns(const Diagnostic& d, std::string_view source) {
  const int32_t end = std::max(d.end_column, d.column);
  if (d.line <= 0) return {d.column, end};
  const int64_t offset = d.offset >= 0 ? d.offset : offset_of(source, d.line, d.column);
  std::optional<std::string_view> before = before_column(source, offset, d.column);
  if (!before) return {d.column, end};
  const int32_t column = characters(*before) + 1;
  const size_t length =
      std::min(static_cast<size_t>(end - d.column), source.size() - static_cast<size_t>(offset));
  return {column, column + characters(source.substr(static_cast<size_t>(offset), length))};
}

namespace {

std::string severity_text(const Diagnostic& d) {
  switch (d.severity) {
    case Diagnostic::Severity::kError:
      // An error of the program's own is named by its code, a numbered one by its number.
      return "error " + (d.name.empty() ? std::to_string(d.code) : d.name);
    case Diagnostic::Severity::kWarning:
      return "warning";
    case Diagnostic::Severity::kNote:
      break;
  }
  return "note";
}

Paint severity_paint(const Diagnostic& d) {
  switch (d.severity) {
    case Diagnostic::Severity::kError:
      return Paint::kError;
    case Diagnostic::Severity::kWarning:
      return Paint::kWarning;
    case Diagnostic::Severity::kNote:
      break;
  }
  return Paint::kNote;
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

std::string format_diagnostic(const Diagnostic& d, std::string_view source, bool color) {
  if (d.line > 0) {
    int64_t offset = d.offset >= 0 ? d.offset : offset_of(source, d.line, d.column);
    return with_source(Located{d.file, d.line, d.column, offset}, source, severity_text(d),
                       severity_paint(d), d.message, color);
  }
  const std::string place = d.file.empty() ? "compactor" : d.file;
  return headline(place, severity_text(d), severity_paint(d), d.message, color);
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

std::string format_error(const Model& m, std::string_view source, bool color) {
  RecordedError e{m.error_code, m.error_position, m.error_source, m.error_detail, {}};
  return format_diagnostic(error_diagnostic(e), source, color);
}

std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text,
                           bool color) {
  return with_source(Located{pos.file, pos.line, pos.column, pos.offset}, source, "warning",
                     Paint::kWarning, text, color);
}

std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text) {
  return with_source(Located{pos.file, pos.line, pos.column, pos.offset}, source, "", Paint::kPlace,
                     text, false);
}

std::string escaped_text(const std::string& text) {
  return escaped(text);
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
