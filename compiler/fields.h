// Reading a source file field by field, from bytes held in memory.
//
// A field ends at a comma or a line end (CR LF). Blanks (spaces) before a field are skipped.
// A text field keeps everything up to the comma or line end, trailing blanks included. A numeric
// field also ends at a blank; blanks after it are skipped and a comma or line end met then is
// consumed with it. Reading when nothing is left, or a number that is not an optional "-" and
// decimal digits fitting its type, is a read failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model.h"

namespace compactor {

// Thrown for a run-time failure while a source is read; caught once by the compile.
struct ReadFailure {
  int64_t offset = -1;  // where in the source it happened; -1: at the record being read
};

class FieldReader {
 public:
  FieldReader(std::string_view bytes, std::string file_name)
      : bytes_(bytes), file_(std::move(file_name)) {}

  // True when nothing remains after the last field read.
  bool at_end() const { return pos_ >= bytes_.size(); }

  // Reads a keyword or text field.
  std::string read_text();
  // Reads a numeric field that must lie in [lo, hi].
  int64_t read_number(int64_t lo, int64_t hi);
  int32_t read_int32() { return static_cast<int32_t>(read_number(INT32_MIN, INT32_MAX)); }
  int16_t read_int16() { return static_cast<int16_t>(read_number(INT16_MIN, INT16_MAX)); }
  uint8_t read_uint8() { return static_cast<uint8_t>(read_number(0, 255)); }

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

  std::string_view bytes_;
  std::string file_;
  size_t pos_ = 0;
  int64_t field_start_ = 0;
  int32_t line_ = 1;        // line of pos_
  size_t line_start_ = 0;   // offset where that line starts
  int32_t field_line_ = 1;  // line and column of the field read last
  int32_t field_column_ = 1;
};

// Substring tests on a field: with ASCII letter case folded, or exactly.
bool contains_any_case(std::string_view field, std::string_view text);
bool contains_exact(std::string_view field, std::string_view text);

// Line and column (1-based) of a byte offset; lines end at CR LF.
SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset);

}  // namespace compactor
