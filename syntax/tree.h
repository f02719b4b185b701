// One source parsed into a syntax tree that holds every byte of the file in exactly one node:
// printing the nodes in order gives back the file byte for byte.
//
// The parse reads the fields as the compile does: everything up to the "[generale]" field is
// passed over; in the line source's general section up to ten fields with a hyphen (remarks) in
// a row come before a keyword field, elsewhere up to two; a keyword field that holds the keywords
// of several kinds of its section starts a record of each, in table order, and each record's
// fields are read as the table of record kinds describes them; a section header ends the general
// section. A curve without the plan is passed over with its keyword alone, so the tree depends on
// `with_plan`. Unlike the compile, the parse never stops: a record whose field cannot be read is
// kept with its failure, and the parse goes on at the next line. A record may run on over a line
// end when its next field is a whole number; a field that is not one at the start of a new line
// means the field is missing from the line before, and that line is where the parse goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/lexer.h"
#include "syntax/record_kinds.h"

namespace compactor {

enum class SourceRole : uint8_t { kLine, kTrain };

// What a run of bytes is.
enum class NodeKind : uint8_t {
  kBeforeGeneral,  // a field up to and including the "[generale]" field
  kKeyword,        // a field where a keyword stands (it may start no record)
  kRemark,         // a field with a hyphen that the reading passes over
  kValue,          // a field of a record
  kLast,           // the source's last field where a keyword would stand: not read as one
  kTrivia,         // blanks, commas and line ends between fields
  kUnread,         // bytes the parse passes over after a field that cannot be read
};

struct SyntaxNode {
  NodeKind kind;
  int64_t start;
  int64_t end;
};

// A field the parse read: a keyword, a remark or a record's value.
struct SyntaxField {
  LexedField at;
  NodeKind kind = NodeKind::kKeyword;
  RecordSection section = RecordSection::kLineGeneral;
  bool header = false;        // a section header ("[curve]")
  uint32_t first_record = 0;  // for a keyword: the records it starts
  uint32_t record_count = 0;
  int64_t value = 0;  // for a number value
};

// Why a record's field cannot be read.
struct FieldFailure {
  enum Kind : uint8_t {
    kNone,
    kEndOfFile,   // nothing was left to read
    kNotANumber,  // not an optional "-" and decimal digits
    kOutOfRange,  // a number outside its type's range
    kTooLong,     // a text longer than kMaxText
  };
  Kind kind = kNone;
  uint16_t field = 0;  // which field of the kind
  // The field met; at the end of the file an empty field there, whose line_end_before tells
  // where the line of the field before ended, when it did.
  LexedField at;
  // A number that is not one, at the start of a line after the record's field before: the field
  // is missing from that line, and the parse goes on at this one.
  bool missing_above = false;
  int64_t line_end = -1;   // where the line end passed last before the field starts
  bool ends_line = false;  // the field ends at a line end or the end of the file
};

struct SyntaxRecord {
  const RecordKind* kind = nullptr;
  uint32_t keyword = 0;      // its keyword field (index into the fields of its tree or item)
  uint32_t first_value = 0;  // its first value field (index into the same fields)
  uint16_t value_count = 0;  // the values read whole
  bool passed_over = false;  // a curve without the plan: no field is read
  FieldFailure failure;
};

// How the reading of a source's records ends.
enum class SourceEnd : uint8_t {
  kEmpty,        // the source holds no byte
  kNoGeneral,    // no "[generale]" field, or only as the last field
  kEndOfFile,    // the records run to the end of the file
  kAfterRemark,  // the general section ends in a remark where a keyword should follow
};

// One field where a keyword stands, with the records it starts and their values: a step of the
// parse. The values of its records stand in `values`.
struct SyntaxItem {
  SyntaxField field;
  std::vector<SyntaxRecord> records;
  std::vector<SyntaxField> values;
  // The bytes passed over after a field that cannot be read, up to its line end: [start, end).
  int64_t unread_start = -1;
  int64_t unread_end = -1;
};

// The parse, one item at a time: what the compile reads as it goes, without holding the tree.
class SourceParser {
 public:
  SourceParser(std::string_view bytes, SourceRole role, bool with_plan);

  // The next item into `item` (its vectors reused); false when the source has no more.
  bool next(SyntaxItem& item);
  // How the reading ended, once next() returned false.
  SourceEnd end() const { return end_; }
  std::string_view bytes() const { return bytes_; }

 private:
  enum class Phase : uint8_t { kSeekGeneral, kGeneral, kRecords, kDone };
  bool seek_general(SyntaxItem& item);
  bool general(SyntaxItem& item);
  bool records_part(SyntaxItem& item);
  bool finish(SourceEnd end);
  void take(SyntaxItem& item, const LexedField& f, NodeKind kind);
  void read_records(SyntaxItem& item);
  bool read_values(SyntaxItem& item, SyntaxRecord& r);
  bool read_value(SyntaxItem& item, SyntaxRecord& r, const FieldDescription& described);
  bool end_of_file(SyntaxRecord& r);
  bool fail(SyntaxItem& item, FieldFailure& failure, FieldFailure::Kind kind, const LexedField& f);
  std::string_view text(const LexedField& f) const;

  std::string_view bytes_;
  FieldLexer lexer_;
  bool with_plan_;
  bool line_source_;
  Phase phase_ = Phase::kSeekGeneral;
  RecordSection section_;
  int remarks_ = 0;  // remarks in a row before the keyword being looked for
  SourceEnd end_ = SourceEnd::kEmpty;
};

// The whole tree of a source.
struct SourceSyntax {
  std::string_view bytes;
  SourceRole role = SourceRole::kLine;
  bool with_plan = true;
  std::vector<SyntaxNode> nodes;  // every byte, in order
  std::vector<SyntaxField> fields;
  std::vector<SyntaxRecord> records;
  SourceEnd end = SourceEnd::kEmpty;
  uint32_t general_field = UINT32_MAX;  // the "[generale]" field (index into fields)
};

SourceSyntax parse_source(std::string_view bytes, SourceRole role, bool with_plan);

// The bytes of the tree, node by node: the source again.
std::string print_tree(const SourceSyntax& tree);

inline std::string_view field_text(std::string_view bytes, const LexedField& f) {
  return bytes.substr(static_cast<size_t>(f.start), static_cast<size_t>(f.end - f.start));
}
inline std::string_view field_text(const SourceSyntax& tree, const LexedField& f) {
  return field_text(tree.bytes, f);
}

// A field with a hyphen: a remark where a keyword would stand.
bool is_remark(std::string_view field);
// A field that holds "[" and "]" and does not begin with a hyphen after its leading blanks.
bool is_section_header(std::string_view field);
// The field that opens the records of a source.
bool is_general_field(std::string_view field);

// Line and column (1-based) of a byte offset; lines end at CR LF or LF.
struct LineColumn {
  int32_t line = 1;
  int32_t column = 1;
};
LineColumn line_column(std::string_view bytes, int64_t offset);

}  // namespace compactor
