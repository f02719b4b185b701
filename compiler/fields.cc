#include "compiler/fields.h"

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

SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset) {
  SourcePos p;
  p.file = file;
  p.offset = offset;
  p.line = 1;
  size_t line_start = 0;
  size_t end = std::min(static_cast<size_t>(std::max<int64_t>(offset, 0)), bytes.size());
  for (size_t i = 0; i < end; ++i) {
    if (bytes[i] == '\n') {
      ++p.line;
      line_start = i + 1;
    }
  }
  p.column = static_cast<int32_t>(end >= line_start ? end - line_start + 1 : 1);
  return p;
}

SourcePos FieldReader::position_of(int64_t offset) const {
  return source_position(bytes_, file_, offset);
}

SourcePos FieldReader::field_position() const {
  SourcePos p;
  field_position(p);
  return p;
}

void FieldReader::field_position(SourcePos& pos) const {
  pos.file = file_;
  pos.line = field_line_;
  pos.column = field_column_;
  pos.offset = field_start_;
  pos.end_column = field_column_ + static_cast<int32_t>(field_end_ - field_start_);
}

size_t FieldReader::line_end_length() const {
  if (pos_ < bytes_.size() && bytes_[pos_] == '\n') return 1;
  if (pos_ + 1 < bytes_.size() && bytes_[pos_] == '\r' && bytes_[pos_ + 1] == '\n') return 2;
  return 0;
}

void FieldReader::consume_line_end(size_t length) {
  last_line_end_ = static_cast<int64_t>(pos_);
  pos_ += length;
  ++line_;
  line_start_ = pos_;
}

// After a field: a comma or a line end, when one follows.
void FieldReader::consume_terminator() {
  if (pos_ >= bytes_.size()) return;
  if (bytes_[pos_] == ',') {
    ++pos_;
  } else if (size_t n = line_end_length(); n > 0) {
    consume_line_end(n);
  }
}

void FieldReader::start_field() {
  line_end_before_ = field_line_ == line_ ? -1 : last_line_end_;
  skip_blanks();
  field_start_ = static_cast<int64_t>(pos_);
  field_line_ = line_;
  field_column_ = static_cast<int32_t>(pos_ - line_start_ + 1);
}

void FieldReader::skip_blanks() {
  while (pos_ < bytes_.size() && is_blank(bytes_[pos_])) ++pos_;
}

bool FieldReader::fail(ReadFailureInfo::Kind kind, int64_t offset, std::string_view token) {
  failure_.kind = kind;
  failure_.offset = offset;
  failure_.end = kind == ReadFailureInfo::kEndOfFile ? offset : field_end_;
  failure_.token.assign(token);
  if (kind == ReadFailureInfo::kEndOfFile) {
    failure_.line_end_before = field_line_ == line_ ? -1 : last_line_end_;
  } else {
    failure_.line_end_before = line_end_before_;
  }
  return false;
}

bool FieldReader::reject_field() {
  return fail(ReadFailureInfo::kRejected, field_start_);
}

bool FieldReader::read_text(std::string& out) {
  if (at_end()) return fail(ReadFailureInfo::kEndOfFile, static_cast<int64_t>(pos_));
  start_field();
  size_t start = pos_;
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && line_end_length() == 0) ++pos_;
  field_end_ = static_cast<int64_t>(pos_);
  out.assign(bytes_.substr(start, pos_ - start));
  consume_terminator();
  return true;
}

bool FieldReader::read_number(int64_t lo, int64_t hi, int64_t& out) {
  if (at_end()) return fail(ReadFailureInfo::kEndOfFile, static_cast<int64_t>(pos_));
  start_field();
  size_t start = pos_;
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !is_blank(bytes_[pos_]) &&
         line_end_length() == 0) {
    ++pos_;
  }
  field_end_ = static_cast<int64_t>(pos_);
  std::string_view token = bytes_.substr(start, pos_ - start);
  skip_blanks();
  consume_terminator();
  bool negative = !token.empty() && token[0] == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  if (digits.empty()) return fail(ReadFailureInfo::kNotANumber, field_start_, token);
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return fail(ReadFailureInfo::kNotANumber, field_start_, token);
    // Past 2^40 the value is out of every range: only the digits are still checked.
    if (value <= (int64_t{1} << 40)) value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < lo || value > hi) {
    failure_.lo = lo;
    failure_.hi = hi;
    return fail(ReadFailureInfo::kOutOfRange, field_start_, token);
  }
  out = value;
  return true;
}

}  // namespace compactor
