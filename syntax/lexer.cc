#include "syntax/lexer.h"

#include <algorithm>

namespace compactor {

namespace {

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool contains_any_case(std::string_view field, std::string_view text) {
  auto it = std::search(field.begin(), field.end(), text.begin(), text.end(),
                        [](char a, char b) { return fold(a) == fold(b); });
  return it != field.end() || text.empty();
}

bool contains_exact(std::string_view field, std::string_view text) {
  return field.find(text) != std::string_view::npos;
}

size_t line_end_length(std::string_view bytes, size_t at) {
  if (at < bytes.size() && bytes[at] == '\n') return 1;
  if (at + 1 < bytes.size() && bytes[at] == '\r' && bytes[at + 1] == '\n') return 2;
  return 0;
}

NumberRead read_number(std::string_view token, int64_t lo, int64_t hi) {
  bool negative = !token.empty() && token[0] == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  if (digits.empty()) return {NumberRead::kNotANumber};
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return {NumberRead::kNotANumber};
    // Past 2^40 the value is out of every range: only the digits are still checked.
    if (value <= (int64_t{1} << 40)) value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < lo || value > hi) return {NumberRead::kOutOfRange, value};
  return {NumberRead::kValue, value};
}

size_t FieldLexer::line_end_length(size_t at) const {
  return compactor::line_end_length(bytes_, at);
}

void FieldLexer::pass_line_end(size_t length) {
  last_line_end_ = static_cast<int64_t>(pos_);
  pos_ += length;
  ++line_;
  line_start_ = pos_;
}

// After a field: a comma or a line end, when one follows.
void FieldLexer::pass_terminator() {
  if (pos_ >= bytes_.size()) return;
  if (bytes_[pos_] == ',') {
    ++pos_;
  } else if (size_t n = line_end_length(pos_); n > 0) {
    pass_line_end(n);
  }
}

void FieldLexer::skip_blanks() {
  while (pos_ < bytes_.size() && is_blank(bytes_[pos_])) ++pos_;
}

LexedField FieldLexer::start_field() {
  LexedField f;
  f.line_end_before = line_end_after_last();
  skip_blanks();
  f.start = static_cast<int64_t>(pos_);
  f.line = line_;
  f.column = column();
  field_line_ = line_;
  return f;
}

LexedField FieldLexer::text() {
  LexedField f = start_field();
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && line_end_length(pos_) == 0) ++pos_;
  f.end = static_cast<int64_t>(pos_);
  pass_terminator();
  return f;
}

LexedField FieldLexer::number() {
  LexedField f = start_field();
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !is_blank(bytes_[pos_]) &&
         line_end_length(pos_) == 0) {
    ++pos_;
  }
  f.end = static_cast<int64_t>(pos_);
  skip_blanks();
  pass_terminator();
  return f;
}

void FieldLexer::restart_line(const LexedField& field) {
  pos_ = static_cast<size_t>(field.start - (field.column - 1));
  line_ = field.line;
  line_start_ = pos_;
  field_line_ = line_;
}

void FieldLexer::skip_line(const LexedField& from) {
  restart_line(from);
  while (pos_ < bytes_.size() && line_end_length(pos_) == 0) ++pos_;
  if (pos_ < bytes_.size()) pass_line_end(line_end_length(pos_));
}

}  // namespace compactor
