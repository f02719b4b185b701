// Reading a source file field by field, from bytes held in memory.
//
// A field ends at a comma or a line end (CR LF). Blanks (spaces) before a field are skipped.
// A text field keeps everything up to the comma or line end, trailing blanks included. A numeric
// field also ends at a blank; blanks after it are skipped and a comma or line end met then is
// consumed with it. Reading when nothing is left, or a number that is not an optional "-" and
// decimal digits fitting its type, is a read failure: the read returns false, leaves its output
// as it was, and failure_offset() tells where in the source it happened. Nothing is read after a
// failure: the compile ends the source there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model.h"

namespace compactor {

class FieldReader {
 public:
  FieldReader(std::string_view bytes, std::string file_name)
      : bytes_(bytes), file_(std::move(file_name)) {}

  // True when nothing remains after the last field read.
  bool at_end() const { return pos_ >= bytes_.size(); }

  // Reads a keyword or text field.
  bool read_text(std::string& out);
  // Reads a numeric field that must lie in [lo, hi].
  bool read_number(int64_t lo, int64_t hi, int64_t& out);
  bool read(int32_t& out) { return read_as(INT32_MIN, INT32_MAX, out); }
  bool read(int16_t& out) { return read_as(INT16_MIN, INT16_MAX, out); }
  bool read(uint8_t& out) { return read_as(0, 255, out); }

  // Refuses the field read last (a text too long to store): a read failure at its start.
  bool reject_field() { return fail(field_start_); }
  // Where the failed read happened.
  int64_t failure_offset() const { return failure_offset_; }

  // Where the field read last started.
  int64_t field_offset() const { return field_start_; }
  SourcePos field_position() const;
  // The same, into `pos`, reusing its storage: the readers mark every record they read.
  void field_position(SourcePos& pos) const;
  SourcePos position_of(int64_t offset) const;
  const std::string& file() const { return file_; }

 private:
  void skip_blanks();
  bool at_line_end() const;
  void consume_line_end();
  void start_field();
  bool fail(int64_t offset);
  template <class T>
  bool read_as(int64_t lo, int64_t hi, T& out) {
    int64_t v = 0;
    if (!read_number(lo, hi, v)) return false;
    out = static_cast<T>(v);
    return true;
  }

  std::string_view bytes_;
  std::string file_;
  size_t pos_ = 0;
  int64_t field_start_ = 0;
  int32_t line_ = 1;        // line of pos_
  size_t line_start_ = 0;   // offset where that line starts
  int32_t field_line_ = 1;  // line and column of the field read last
  int32_t field_column_ = 1;
  int64_t failure_offset_ = -1;
};

// Substring tests on a field: with ASCII letter case folded, or exactly.
bool contains_any_case(std::string_view field, std::string_view text);
bool contains_exact(std::string_view field, std::string_view text);

// Line and column (1-based) of a byte offset; lines end at CR LF.
SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset);

}  // namespace compactor
