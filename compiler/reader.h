// The state of one read of the two sources, shared by the source driver and the record readers.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/record_readers.h"
#include "model/roles.h"
#include "syntax/tree.h"

namespace compactor {

// A warning found while reading; at most one is kept per source line, the lowest rank first.
struct WarningCandidate {
  SourcePos pos;
  int rank = 0;
  std::string text;
  bool unused_field = false;  // text is the field; the message depends on the rest of the line
  const char* name = "";      // the kind of warning
  bool error = false;         // an error of the program's own; a line keeps one of each
};

// Past this many candidates, those of the lines already read are turned into warnings.
constexpr size_t kCandidatesBeforeSettling = 1024;

constexpr int kRankMisplaced = 0;
constexpr int kRankOffGrid = 1;
constexpr int kRankUnused = 2;

// Source lines, per file. Lines come in reading order, so each file's list stays sorted with a
// push at its end: no node or copy of the file name per record.
class LineSet {
 public:
  void insert(const std::string& file, int32_t line);
  bool contains(const std::string& file, int32_t line) const;

 private:
  std::map<std::string, std::vector<int32_t>> by_file_;
};

// The train half's running state.
struct TrainState {
  int32_t speed_fill = 0;                 // next cell whose speed limit is not yet written
  int32_t adhesion_fill = 0;              // next cell whose adhesion is not yet written
  int32_t speed = 0;                      // speed in force before the first speed record
  int32_t adhesion = 0;                   // adhesion in force before the first adhesion record
  int32_t station = kFirstStationRecord;  // record of the next station
  int64_t speed_field = -1;               // where the speed in force was written
  int64_t speed_field_end = -1;
};

// What a failed field read met, as the compile says it.
struct ReadFailureInfo {
  FieldFailure::Kind kind = FieldFailure::kNone;
  int64_t offset = -1;     // where in the source: the field's start, or the end of the file
  int64_t end = -1;        // where the field ends
  std::string_view token;  // the number as written (empty for a text)
  int64_t lo = 0;          // the range a number had to lie in
  int64_t hi = 0;
  // Where the line of the field read before ended, when the failed field stands on a later
  // line: -1 when it stands on the same line.
  int64_t line_end_before = -1;
};

struct ReaderContext {
  ReaderContext(Model& model, Sources& sources) : m(model), s(sources) {}

  Model& m;
  Sources& s;
  bool with_plan = false;
  SourceParser* parser = nullptr;     // the source being read, one of the two below
  const std::string* file = nullptr;  // its name
  SyntaxItem item;                    // the keyword field being read, with its records
  int64_t record = 0;                 // offset of the record being read
  SourcePos record_pos;
  std::string_view keyword;                   // the keyword field of the record being read
  const RecordKind* kind = nullptr;           // the kind being read
  const SyntaxRecord* record_node = nullptr;  // its node in the tree
  size_t field_index = 0;                     // its next field
  int64_t field_start = 0;                    // where the field read last starts and ends
  int64_t field_end = 0;
  ReadFailureInfo read_failure;
  std::vector<WarningCandidate> warnings;
  // Candidates held before those of the lines already read are turned into warnings.
  size_t settle_warnings_at = kCandidatesBeforeSettling;
  LineSet record_lines;  // lines where a record starts
  LineSet quiet_lines;   // lines with expected leftovers
  size_t warnings_kept = 0;  // of s.warnings, the warnings and the errors
  size_t errors_kept = 0;
  // The record read last, and where its keyword stands: a field after its values on the same
  // line is a stray value.
  const RecordKind* last_record_kind = nullptr;
  SourcePos last_record_pos;
  // The sources that are not 8-bit text: one error says so, and nothing else is said of them.
  std::vector<std::string> not_text_files;
  std::optional<SourceParser> line_parser{};
  std::optional<SourceParser> train_parser{};
  bool tables_pending = false;  // a length was accepted; the grid and plan are not made yet
  // A read failure as an author reads it: what went wrong and where (-1: at the record).
  std::string failure_detail;
  int64_t failure_offset = -1;
  int64_t failure_end = -1;  // where the field at failure_offset ends (-1: a place, no field)
  LineFeatureState line;
  TrainState train;
};

// The three backgrounds of the line identity record, as their keywords name them.
enum class Background : uint8_t { kUno, kDue, kTre };

// Reads the next field of the record being read, as its kind's table entry says. False, with
// `out` unchanged, on a read failure.
bool read_number_field(ReaderContext& cx, int64_t& out);
bool read_text_field(ReaderContext& cx, std::string& out);

template <class T>
bool read_field(ReaderContext& cx, T& out) {
  int64_t v = 0;
  if (!read_number_field(cx, v)) return false;
  out = static_cast<T>(v);
  return true;
}

// The speed limit and the adhesion of cell i (train_records.cc); write_speed fails with error 25
// when speed / 5 does not fit a byte.
bool write_speed(Model& m, int32_t speed, int32_t i);
void write_adhesion(Model& m, int32_t adhesion, int32_t i);

// The record's error: the code and, with it, where the record stands.
RecordStep record_error(ReaderContext& cx, int32_t code);
RecordStep record_error(ReaderContext& cx, int32_t code, int32_t position);
// After a placement that returned false: a read failure, or an error at `position` that stops
// the source.
RecordStep placement_stopped(ReaderContext& cx, int32_t position);
// After a tunnel, speed-board, signal or slow-order placement that returned `placed`: these stop
// the source whenever an error is recorded, also one recorded before them (a line-source error
// that let the train half run stops it at its first signal or slow order, which the error's
// report then notes).
RecordStep after_placement(ReaderContext& cx, bool placed, int32_t position);
// A speed in force that a cell cannot hold: a read failure at the field that gave it.
RecordStep speed_failure(ReaderContext& cx, int32_t speed);

// Warnings about a record. Each does nothing when the read collects no warnings.
void warn(ReaderContext& cx, int rank, const char* name, std::string text);
// The same, named after its rank: "misplaced-record", "off-grid" or "unknown-keyword".
void warn(ReaderContext& cx, int rank, std::string text);
void warn_off_grid(ReaderContext& cx, const char* what, int64_t position);
// An error of the program's own at the current record (or at `pos`): a field the readers pass
// over that holds an author's data. The outcome stays as it is.
void source_error(ReaderContext& cx, const char* name, std::string text);
void source_error(ReaderContext& cx, const SourcePos& pos, const char* name, std::string text);
// A source that is not 8-bit text gets an error naming its encoding; false for such a source.
bool check_encoding(ReaderContext& cx, std::string_view bytes, const std::string& file);
// The characters of a record's text field that it cannot hold as the author sees them: a
// character of several bytes in UTF-8, a tab or another control character.
void warn_text_characters(ReaderContext& cx, const char* noun, int64_t start,
                          std::string_view text);
// A record keyword matched at the current record.
void matched_record(ReaderContext& cx);
// A line whose leftover fields are expected (a curve without a plan).
void quiet_line(ReaderContext& cx);
// A keyword field that no record used.
void unused_field(ReaderContext& cx, std::string_view field);
// The first lone CR or LF of a source, which splits its fields where the author sees none.
void warn_lone_line_end(ReaderContext& cx, std::string_view bytes, const std::string& file);
// Hands the warnings to the caller: one per source line, in source order.
void finish_warnings(ReaderContext& cx);

// Line and column of a byte offset of a source.
SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset);

// Sizes the grid and the plan for a line length; they are made once the general section ends.
void accept_line_length(ReaderContext& cx, int32_t length);

}  // namespace compactor
