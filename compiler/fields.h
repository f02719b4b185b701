// Reading a source file field by field, from bytes held in memory.
//
// A field ends at a comma or a line end (CR LF, or LF alone). Blanks (spaces and tabs) before a
// field are skipped. A text field keeps everything up to the comma or line end, trailing blanks
// included. A numeric field also ends at a blank; blanks after it are skipped and a comma or line
// end met then is consumed with it. Reading when nothing is left, or a number that is not an
// optional "-" and decimal digits fitting its type, is a read failure: the read returns false,
// leaves its output as it was, and failure() tells what and where. Nothing is read after a
// failure: the compile ends the source there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model.h"

namespace compactor {

// What a failed read met.
struct ReadFailureInfo {
  enum Kind : uint8_t {
    kNone,
    kEndOfFile,   // nothing was left to read
    kNotANumber,  // the field is not an optional "-" and decimal digits
    kOutOfRange,  // a number outside [lo, hi]
    kRejected,    // refused by the caller (a text too long to store)
  };
  Kind kind = kNone;
  int64_t offset = -1;  // where in the source: the field's start, or the end of the file
  int64_t end = -1;     // where the field ends
  std::string token;    // the field as written
  int64_t lo = 0;       // the range a number had to lie in
  int64_t hi = 0;
  // Where the line of the field read before ended, when the failed field stands on a later
  // line: -1 when it stands on the same line.
  int64_t line_end_before = -1;
};

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
  bool reject_field();
  // What the failed read met; kind kNone while nothing failed.
  const ReadFailureInfo& failure() const { return failure_; }
  // Where the failed read happened (-1 while nothing failed).
  int64_t failure_offset() const { return failure_.offset; }

  // Where the field read last started.
  int64_t field_offset() const { return field_start_; }
  SourcePos field_position() const;
  // The same, into `pos`, reusing its storage: the readers mark every record they read.
  void field_position(SourcePos& pos) const;
  SourcePos position_of(int64_t offset) const;
  const std::string& file() const { return file_; }

 private:
  void skip_blanks();
  size_t line_end_length() const;  // 2 for CR LF, 1 for LF, 0 when no line ends at pos_
  void consume_line_end(size_t length);
  void consume_terminator();
  void start_field();
  bool fail(ReadFailureInfo::Kind kind, int64_t offset, std::string_view token = {});
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
  int64_t field_end_ = 0;
  int32_t line_ = 1;        // line of pos_
  size_t line_start_ = 0;   // offset where that line starts
  int32_t field_line_ = 1;  // line and column of the field read last
  int32_t field_column_ = 1;
  int64_t last_line_end_ = -1;    // where the line of the field read last ended, if it did
  int64_t line_end_before_ = -1;  // the same for the field before the one being read
  ReadFailureInfo failure_;
};

// Substring tests on a field: with ASCII letter case folded, or exactly.
bool contains_any_case(std::string_view field, std::string_view text);
bool contains_exact(std::string_view field, std::string_view text);

// A blank: a space or a tab.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Line and column (1-based) of a byte offset; lines end at CR LF or LF.
SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset);

}  // namespace compactor
