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
  for (size_t i = 0; i + 1 < end; ++i) {
    if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
      ++p.line;
      line_start = i + 2;
      ++i;
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
}

void FieldReader::consume_line_end() {
  pos_ += 2;
  ++line_;
  line_start_ = pos_;
}

void FieldReader::start_field() {
  skip_blanks();
  field_start_ = static_cast<int64_t>(pos_);
  field_line_ = line_;
  field_column_ = static_cast<int32_t>(pos_ - line_start_ + 1);
}

void FieldReader::skip_blanks() {
  while (pos_ < bytes_.size() && bytes_[pos_] == ' ') ++pos_;
}

bool FieldReader::at_line_end() const {
  return pos_ + 1 < bytes_.size() && bytes_[pos_] == '\r' && bytes_[pos_ + 1] == '\n';
}

bool FieldReader::fail(int64_t offset) {
  failure_offset_ = offset;
  return false;
}

bool FieldReader::read_text(std::string& out) {
  if (at_end()) return fail(static_cast<int64_t>(pos_));
  start_field();
  size_t start = pos_;
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !at_line_end()) ++pos_;
  out.assign(bytes_.substr(start, pos_ - start));
  if (pos_ < bytes_.size()) {
    if (bytes_[pos_] == ',') {
      ++pos_;
    } else {
      consume_line_end();
    }
  }
  return true;
}

bool FieldReader::read_number(int64_t lo, int64_t hi, int64_t& out) {
  if (at_end()) return fail(static_cast<int64_t>(pos_));
  start_field();
  size_t start = pos_;
  while (pos_ < bytes_.size() && bytes_[pos_] != ',' && bytes_[pos_] != ' ' && !at_line_end()) {
    ++pos_;
  }
  std::string_view token = bytes_.substr(start, pos_ - start);
  skip_blanks();
  if (pos_ < bytes_.size()) {
    if (bytes_[pos_] == ',') {
      ++pos_;
    } else if (at_line_end()) {
      consume_line_end();
    }
  }
  bool negative = !token.empty() && token[0] == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  if (digits.empty()) return fail(field_start_);
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return fail(field_start_);
    value = value * 10 + (c - '0');
    if (value > (int64_t{1} << 40)) return fail(field_start_);
  }
  if (negative) value = -value;
  if (value < lo || value > hi) return fail(field_start_);
  out = value;
  return true;
}

}  // namespace compactor
