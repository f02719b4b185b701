#include "compiler/record_check.h"

#include <string>
#include <string_view>

#include "compiler/fields.h"
#include "compiler/reader.h"
#include "compiler/record_kinds.h"
#include "model/errors.h"

namespace compactor {

namespace {

// A field as the walk found it.
struct Field {
  std::string_view text;
  int64_t offset = 0;
  int32_t line = 1;
  int32_t column = 1;
};

// A place in a source.
struct Place {
  int32_t line = 1;
  int32_t column = 1;
};

// Walks a source's fields as the field reader does, with LF alone also ending a line and a tab
// also a blank.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view bytes) : bytes_(bytes) {}

  bool at_end() const { return pos_ >= bytes_.size(); }
  // Where the walk stands.
  Place here() const { return Place{line_, column_of(pos_)}; }
  // The end of the line whose line end was passed last; `here()` when none was.
  Place last_line_end() const { return passed_line_end_ ? line_end_ : here(); }

  // A keyword or text field: up to a comma or a line end, which is passed.
  Field read_text() {
    Field f = start_field();
    while (!at_end() && bytes_[pos_] != ',' && line_end_size(pos_) == 0) ++pos_;
    f.text = bytes_.substr(static_cast<size_t>(f.offset), pos_ - static_cast<size_t>(f.offset));
    pass_comma_or_line_end();
    return f;
  }

  // A number field: up to a comma, a blank or a line end; blanks after it are passed, and then a
  // comma or a line end.
  Field read_number() {
    Field f = start_field();
    while (!at_end() && bytes_[pos_] != ',' && !is_blank(bytes_[pos_]) &&
           line_end_size(pos_) == 0) {
      ++pos_;
    }
    f.text = bytes_.substr(static_cast<size_t>(f.offset), pos_ - static_cast<size_t>(f.offset));
    skip_blanks();
    pass_comma_or_line_end();
    return f;
  }

  // True when the field just read ended at a line end or at the end of the file.
  bool ended_line(const Field& f) const {
    size_t after = static_cast<size_t>(f.offset) + f.text.size();
    while (after < bytes_.size() && is_blank(bytes_[after])) ++after;
    return after >= bytes_.size() || line_end_size(after) != 0;
  }

  // Goes back to the start of the line that holds `f`.
  void restart_line_of(const Field& f) {
    pos_ = static_cast<size_t>(f.offset) - static_cast<size_t>(f.column - 1);
    line_ = f.line;
    line_start_ = pos_;
    passed_line_end_ = false;
  }

  // Goes on at the start of the line after the one that holds `f`.
  void skip_line_of(const Field& f) {
    restart_line_of(f);
    while (!at_end() && line_end_size(pos_) == 0) ++pos_;
    if (!at_end()) pass_line_end();
  }

 private:
  static bool is_blank(char c) { return c == ' ' || c == '\t'; }

  size_t line_end_size(size_t at) const {
    if (bytes_[at] == '\n') return 1;
    return bytes_[at] == '\r' && at + 1 < bytes_.size() && bytes_[at + 1] == '\n' ? 2 : 0;
  }
  int32_t column_of(size_t at) const { return static_cast<int32_t>(at - line_start_ + 1); }

  void skip_blanks() {
    while (!at_end() && is_blank(bytes_[pos_])) ++pos_;
  }
  Field start_field() {
    skip_blanks();
    Field f;
    f.offset = static_cast<int64_t>(pos_);
    f.line = line_;
    f.column = column_of(pos_);
    return f;
  }
  void pass_line_end() {
    line_end_ = here();
    passed_line_end_ = true;
    pos_ += line_end_size(pos_);
    ++line_;
    line_start_ = pos_;
  }
  void pass_comma_or_line_end() {
    if (at_end()) return;
    if (bytes_[pos_] == ',') {
      ++pos_;
    } else if (line_end_size(pos_) != 0) {
      pass_line_end();
    }
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  int32_t line_ = 1;
  size_t line_start_ = 0;
  Place line_end_;
  bool passed_line_end_ = false;
};

bool has_hyphen(std::string_view f) {
  return f.find('-') != std::string_view::npos;
}

// A field that holds "[" and "]" and does not begin with a hyphen after its leading blanks.
bool is_section_header(std::string_view f) {
  if (f.find('[') == std::string_view::npos || f.find(']') == std::string_view::npos) return false;
  size_t first = f.find_first_not_of(" \t");
  return first == std::string_view::npos || f[first] != '-';
}

// What is wrong with a number field's text.
struct NumberProblem {
  enum Kind { kNone, kNotANumber, kOutOfRange } kind = kNone;
  std::string text;  // a phrase after the field's noun
};

NumberProblem number_problem(std::string_view token, const FieldDescription& expected) {
  std::string shown(token.substr(0, 40));
  if (token.size() > 40) shown += "...";
  bool negative = !token.empty() && token[0] == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return {NumberProblem::kNotANumber, "\"" + shown + "\" is not a whole number"};
  }
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > (int64_t{1} << 40)) break;
  }
  if (negative) value = -value;
  int64_t lo = field_type_min(expected.type);
  int64_t hi = field_type_max(expected.type);
  if (value > hi) {
    return {NumberProblem::kOutOfRange,
            shown + " is too large (at most " + std::to_string(hi) + ")"};
  }
  if (value < lo) {
    return {NumberProblem::kOutOfRange,
            shown + " is too small (at least " + std::to_string(lo) + ")"};
  }
  return {};
}

const char* type_phrase(const FieldDescription& expected) {
  return expected.type == FieldType::kText ? "a text" : "a whole number";
}

// The walk over one source's records.
class SourceWalk {
 public:
  SourceWalk(const SourceFile& source, bool with_plan, RecordCheck& out)
      : file_(source.name), cursor_(*source.bytes), with_plan_(with_plan), out_(out) {}

  void line_source() {
    if (!skip_to_general_field()) return;
    if (!general_section()) return;
    while (next_keyword()) records(RecordSection::kLineFeatures);
  }

  void train_source() {
    if (!skip_to_general_field()) return;
    while (next_keyword()) records(RecordSection::kTrain);
  }

 private:
  // Everything up to the "[generale]" field. False when the records are not reached.
  bool skip_to_general_field() {
    for (;;) {
      if (cursor_.at_end()) return false;
      keyword_ = cursor_.read_text();
      if (cursor_.at_end()) return false;
      if (contains_any_case(keyword_.text, "[generale]")) return true;
    }
  }

  // The general section, up to a section header. False when the file ends in it.
  bool general_section() {
    for (;;) {
      if (cursor_.at_end()) return false;
      keyword_ = cursor_.read_text();
      if (cursor_.at_end()) return false;
      // Up to ten hyphen fields in a row are passed over.
      for (int i = 0; i < 10 && has_hyphen(keyword_.text); ++i) {
        if (cursor_.at_end()) return false;
        keyword_ = cursor_.read_text();
      }
      records(RecordSection::kLineGeneral);
      if (is_section_header(keyword_.text)) return true;
    }
  }

  // The next keyword field, past up to two hyphen fields; false at the end of the file, which
  // leaves the last field unread.
  bool next_keyword() {
    if (cursor_.at_end()) return false;
    keyword_ = cursor_.read_text();
    if (cursor_.at_end()) return false;
    for (int i = 0; i < 2 && has_hyphen(keyword_.text); ++i) {
      keyword_ = cursor_.read_text();
      if (cursor_.at_end()) return false;
    }
    return true;
  }

  // Reads the records of every kind of `section` whose keyword the field holds.
  void records(RecordSection section) {
    for (const RecordKind& kind : record_kinds()) {
      if (kind.section != section || !kind.matches(keyword_.text)) continue;
      if (kind.plan_only && !with_plan_) continue;
      if (!record(kind)) return;
    }
  }

  // Reads one record's fields; false when one cannot be read.
  bool record(const RecordKind& kind) {
    last_line_ = keyword_.line;
    for (const FieldDescription& expected : kind.fields) {
      if (cursor_.at_end()) return file_ended(kind, expected);
      if (!field(kind, expected)) return false;
    }
    return true;
  }

  // Reads the next field as `expected` describes it; false, with the record listed and the walk
  // moved to where it goes on, when it cannot be read.
  bool field(const RecordKind& kind, const FieldDescription& expected) {
    Place line_end = cursor_.last_line_end();
    Field f = expected.type == FieldType::kText ? cursor_.read_text() : cursor_.read_number();
    bool new_line = f.line > last_line_;
    last_line_ = f.line;
    if (expected.type == FieldType::kText) {
      if (f.text.size() <= kMaxText) return true;
      fail(kind, f, at(f),
           "the " + std::string(expected.noun) + " is too long (" + std::to_string(f.text.size()) +
               " bytes; at most " + std::to_string(kMaxText) + ")");
      cursor_.skip_line_of(f);
      return false;
    }
    NumberProblem problem = number_problem(f.text, expected);
    if (problem.kind == NumberProblem::kNone) return true;
    if (new_line && problem.kind == NumberProblem::kNotANumber) {  // the field is missing above
      fail(kind, f, line_end, missing(expected) + "; the line ends here");
      cursor_.restart_line_of(f);
      return false;
    }
    if (f.text.empty()) {
      fail(kind, f, at(f),
           missing(expected) + (cursor_.ended_line(f) ? "; the line ends here" : ""));
    } else {
      fail(kind, f, at(f), "the " + std::string(expected.noun) + " " + problem.text, f.text.size());
    }
    cursor_.skip_line_of(f);
    return false;
  }

  // The file ends where a field should be.
  bool file_ended(const RecordKind& kind, const FieldDescription& expected) {
    Place here = cursor_.here();
    Field end;
    end.line = here.line;
    end.column = here.column;
    // At the end of the last line: the line that holds text, not the empty one after it.
    Place shown = here.column > 1 ? here : cursor_.last_line_end();
    fail(kind, end, shown, missing(expected) + "; the file ends here");
    return false;
  }

  static Place at(const Field& f) { return Place{f.line, f.column}; }

  static std::string missing(const FieldDescription& expected) {
    return "the " + std::string(expected.noun) + " (" + type_phrase(expected) + ") is missing";
  }

  // Lists a failure at `shown`; `stop` is where the field reader stops.
  void fail(const RecordKind& kind, const Field& stop, Place shown, const std::string& text,
            size_t width = 0) {
    if (out_.failures.size() >= kListedRecordFailures) {
      ++out_.not_listed;
      return;
    }
    RecordFailure r;
    Diagnostic& d = r.diagnostic;
    d.file = file_;
    d.line = shown.line;
    d.column = shown.column;
    d.end_column = shown.column + static_cast<int32_t>(width);
    d.severity = Diagnostic::Severity::kError;
    d.code = kErrReadFailure;
    d.message = std::string(kind.keyword) + ": " + text;
    r.stop_line = stop.line;
    r.stop_column = stop.column;
    out_.failures.push_back(std::move(r));
  }

  std::string file_;
  FieldCursor cursor_;
  bool with_plan_;
  RecordCheck& out_;
  Field keyword_;
  int32_t last_line_ = 0;  // line of the record's field read last
};

}  // namespace

RecordCheck check_records(const Sources& s, bool with_plan) {
  RecordCheck out;
  if (s.line.bytes) SourceWalk(s.line, with_plan, out).line_source();
  if (s.train.bytes) SourceWalk(s.train, with_plan, out).train_source();
  return out;
}

}  // namespace compactor
