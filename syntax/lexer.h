// The fields of a source, read from bytes held in memory.
//
// A field ends at a comma or a line end (CR LF, or LF alone). Blanks (spaces and tabs) before a
// field are skipped. A text field keeps everything up to the comma or line end, trailing blanks
// included. A numeric field also ends at a blank; blanks after it are skipped and a comma or line
// end met then is consumed with it. A lone CR is an ordinary byte of a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace compactor {

// A blank: a space or a tab.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// One field as the lexer met it.
struct LexedField {
  int64_t start = 0;  // the field's first byte, after the blanks before it
  int64_t end = 0;    // one past its last byte (a text keeps its trailing blanks)
  int32_t line = 1;   // line and column (1-based) of `start`
  int32_t column = 1;
  // Where the line of the field lexed before this one ended, when this one stands on a later
  // line; -1 when both stand on the same line.
  int64_t line_end_before = -1;
};

// Where the lexer stands; a copy of it can be taken and put back.
class FieldLexer {
 public:
  explicit FieldLexer(std::string_view bytes) : bytes_(bytes) {}

  // True when nothing remains after the last field lexed.
  bool at_end() const { return pos_ >= bytes_.size(); }
  int64_t offset() const { return static_cast<int64_t>(pos_); }
  int32_t line() const { return line_; }
  int32_t column() const { return static_cast<int32_t>(pos_ - line_start_ + 1); }
  // Where the line of the field lexed last ended, when a line end came after it (-1: none did).
  int64_t line_end_after_last() const { return field_line_ == line_ ? -1 : last_line_end_; }
  // Where the line end passed last starts (-1: none was).
  int64_t last_line_end() const { return last_line_end_; }

  // A keyword or text field, and the comma or line end after it. Not to be called at_end().
  LexedField text();
  // A numeric field, the blanks after it, and then a comma or line end.
  LexedField number();
  // Everything up to the end of the line that holds `from` and that line end; the lexer goes on
  // at the start of the next line.
  void skip_line(const LexedField& from);
  // Back to the start of the line that holds `field`, which is the first field of its line.
  void restart_line(const LexedField& field);

 private:
  size_t line_end_length(size_t at) const;  // 2 for CR LF, 1 for LF, 0 when no line ends there
  void pass_line_end(size_t length);
  void pass_terminator();
  void skip_blanks();
  LexedField start_field();

  std::string_view bytes_;
  size_t pos_ = 0;
  int32_t line_ = 1;            // line of pos_
  size_t line_start_ = 0;       // offset where that line starts
  int32_t field_line_ = 1;      // line of the field lexed last
  int64_t last_line_end_ = -1;  // where the line end passed last starts
};

// What a number field's text holds, for a field that must lie in [lo, hi].
struct NumberRead {
  enum Kind : uint8_t { kValue, kNotANumber, kOutOfRange } kind = kValue;
  int64_t value = 0;
};
NumberRead read_number(std::string_view token, int64_t lo, int64_t hi);

// Substring tests on a field: with ASCII letter case folded, or exactly.
bool contains_any_case(std::string_view field, std::string_view text);
bool contains_exact(std::string_view field, std::string_view text);

// The length of the line end at `at`: 2 for CR LF, 1 for LF, 0 otherwise.
size_t line_end_length(std::string_view bytes, size_t at);

}  // namespace compactor
