// The two source readers: the line source, then the train source, in one call.
#include <algorithm>
#include <string>

#include "compiler/cells.h"
#include "compiler/reader.h"
#include "model/errors.h"

namespace compactor {

namespace {

// An error of a whole source file, with no record to point at.
RecordStep file_error(ReaderContext& cx, int32_t code, const std::string& file) {
  cx.m.error_code = code;
  cx.m.error_source = SourcePos{file, 0, 0, 0};
  log_error(cx.m);
  return RecordStep::kStop;
}

const char* type_phrase(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return "a text";
    case FieldType::kUint8:
      return "a whole number from 0 to 255";
    case FieldType::kInt16:
    case FieldType::kInt32:
      break;
  }
  return "a whole number";
}

// How many values stand after the keyword on the record's line, when that line holds fewer than
// the kind's fields and the failed field is on it: a value left out, whose place the next one
// took. 0 otherwise.
size_t values_on_short_line(const ReaderContext& cx) {
  const std::string_view bytes = cx.parser->bytes();
  const int64_t at = cx.read_failure.offset;
  if (at < cx.record || at > static_cast<int64_t>(bytes.size())) return 0;
  const size_t end = bytes.find('\n', static_cast<size_t>(cx.record));
  const std::string_view line = bytes.substr(static_cast<size_t>(cx.record),
                                             end == std::string_view::npos ? end : end - cx.record);
  if (static_cast<size_t>(at - cx.record) > line.size()) return 0;
  const auto values = static_cast<size_t>(std::count(line.begin(), line.end(), ','));
  return values < cx.kind->fields.size() ? values : 0;
}

// What a failed field read met, said for an author ("montagna: the type (a whole number) is
// missing; the line ends here"), and where: the field, or where it should have been.
void describe_field_failure(ReaderContext& cx, const FieldDescription& described) {
  const ReadFailureInfo& f = cx.read_failure;
  const std::string field = std::string(cx.kind->keyword) + ": the " + described.noun;
  const std::string what = field + " (" + type_phrase(described.type) + ")";
  if (f.kind == FieldFailure::kEndOfFile && f.line_end_before < 0) {
    cx.failure_detail = what + " is missing; the file ends here";
  } else if (f.kind == FieldFailure::kEndOfFile || f.line_end_before >= 0) {
    cx.failure_detail = what + " is missing; the line ends here";
    cx.failure_offset = f.line_end_before;
    cx.failure_end = -1;
  } else if (f.kind == FieldFailure::kNotANumber && !f.token.empty() && values_on_short_line(cx)) {
    cx.failure_detail = std::string(cx.kind->keyword) + ": the record has " +
                        std::to_string(values_on_short_line(cx)) + " values and needs " +
                        std::to_string(cx.kind->fields.size()) + "; the count runs out at the " +
                        described.noun + " (" + type_phrase(described.type) + "), where \"" +
                        std::string(f.token) + "\" stands";
  } else if (f.kind == FieldFailure::kNotANumber) {
    cx.failure_detail = f.token.empty()
                            ? what + " is missing"
                            : field + " \"" + std::string(f.token) + "\" is not a whole number";
  } else if (f.kind == FieldFailure::kOutOfRange) {
    bool large = !f.token.empty() && f.token[0] != '-';
    cx.failure_detail =
        field + " " + std::string(f.token) + " is too " + (large ? "large" : "small") + " (at " +
        (large ? "most " + std::to_string(f.hi) : "least " + std::to_string(f.lo)) + ")";
  } else if (f.kind == FieldFailure::kTooLong) {
    cx.failure_detail = field + " is longer than " + std::to_string(kMaxText) + " bytes";
  }
}

// The failure of the record being read, as the compile says it.
void take_failure(ReaderContext& cx, const FieldFailure& failure,
                  const FieldDescription& described) {
  ReadFailureInfo& f = cx.read_failure;
  f = ReadFailureInfo{};
  f.kind = failure.kind;
  f.offset = failure.at.start;
  f.end = failure.at.end;
  f.line_end_before = failure.at.line_end_before;
  if (failure.kind == FieldFailure::kNotANumber || failure.kind == FieldFailure::kOutOfRange) {
    f.token = field_text(cx.parser->bytes(), failure.at);
  }
  f.lo = field_type_min(described.type);
  f.hi = field_type_max(described.type);
}

// The next value of the record being read, or null, with the failure described, when the parse
// holds none: the record's field that cannot be read.
const SyntaxField* next_value(ReaderContext& cx) {
  const SyntaxRecord& r = *cx.record_node;
  size_t index = cx.field_index++;
  if (index < r.value_count) {
    const SyntaxField& f = cx.item.values[r.first_value + index];
    cx.field_start = f.at.start;
    cx.field_end = f.at.end;
    return &f;
  }
  const FieldDescription& described = cx.kind->fields[index];
  take_failure(cx, r.failure, described);
  describe_field_failure(cx, described);
  return nullptr;
}

SourcePos position_of(const ReaderContext& cx, int64_t offset) {
  return source_position(cx.parser->bytes(), *cx.file, offset);
}

// Where error 25 stands: the field that cannot be read (over its bytes), the place where a
// missing field should be, or the record.
SourcePos failure_position(const ReaderContext& cx) {
  int64_t offset = cx.failure_offset;
  int64_t end = cx.failure_end;
  if (offset < 0) {
    const ReadFailureInfo& f = cx.read_failure;
    if (f.offset < 0) return cx.record_pos;
    offset = f.offset;
    end = f.end;
  }
  SourcePos pos = position_of(cx, offset);
  if (end > offset) pos.end_column = pos.column + static_cast<int32_t>(end - offset);
  return pos;
}

// The record being read starts at keyword field `f` (the remarks and the last field of a source
// are marked as well: an error without a field of its own stands at the field read last).
void mark_record(ReaderContext& cx, const SyntaxField& f) {
  cx.record = f.at.start;
  cx.record_pos.file.assign(*cx.file);
  cx.record_pos.line = f.at.line;
  cx.record_pos.column = f.at.column;
  cx.record_pos.offset = f.at.start;
  cx.record_pos.end_column = f.at.column + static_cast<int32_t>(f.at.end - f.at.start);
  cx.keyword = field_text(cx.parser->bytes(), f.at);
}

// A read that met the end of the source at `offset`.
void end_of_source(ReaderContext& cx, int64_t offset, std::string detail) {
  cx.read_failure = ReadFailureInfo{};
  cx.read_failure.kind = FieldFailure::kEndOfFile;
  cx.read_failure.offset = offset;
  cx.read_failure.end = offset;
  cx.failure_detail = std::move(detail);
}

// Reads the record of every kind whose keyword the field holds, in table order, from the
// records the parse holds for it. `used` tells whether any kind took it.
RecordStep dispatch(ReaderContext& cx, const SyntaxField& keyword, bool& used) {
  used = false;
  for (uint32_t i = 0; i < keyword.record_count; ++i) {
    const SyntaxRecord& r = cx.item.records[keyword.first_record + i];
    cx.kind = r.kind;
    cx.record_node = &r;
    cx.field_index = 0;
    RecordStep step = read_record(r.kind->id, cx);
    if (step == RecordStep::kNotHere) continue;
    used = true;
    if (step != RecordStep::kNext) return step;
  }
  return RecordStep::kNext;
}

// A field no record of its section took: a record of the other line section, or not a keyword.
void warn_unused(ReaderContext& cx, RecordSection section) {
  const char* name = misplaced_keyword(cx.keyword, section);
  if (name == nullptr) {
    unused_field(cx, cx.keyword);
  } else if (section == RecordSection::kLineGeneral) {
    source_error(cx, "misplaced-record",
                 std::string("a \"") + name +
                     "\" record is not read in the general section; it is ignored there");
  } else {
    source_error(cx, "misplaced-record",
                 std::string("a \"") + name +
                     "\" record is read only in the general section; it is ignored here");
  }
}

// Reads the records of one keyword field of `section`; kNext to go on.
RecordStep read_records(ReaderContext& cx, RecordSection section, const SyntaxField& keyword) {
  bool used = false;
  RecordStep step = dispatch(cx, keyword, used);
  if (step != RecordStep::kNext) return step;
  if (used) {
    matched_record(cx);
  } else {
    warn_unused(cx, section);
  }
  return RecordStep::kNext;
}

// Whether a keyword field holds a blank and then a digit: values the author meant to separate
// with a tab or spaces.
bool holds_blank_then_digit(std::string_view field) {
  size_t first = field.find_first_not_of(" \t");
  for (size_t i = first; i != std::string_view::npos && i + 1 < field.size(); ++i) {
    if (is_blank(field[i]) && field[i + 1] >= '0' && field[i + 1] <= '9') return true;
  }
  return false;
}

// A field the reading passes over. The last field of a source, alone on its line, is the end
// marker ("[fine]"); after other fields of its line it is a field the author meant to be read. A
// remark that starts with a keyword of the section and holds values after blanks is most likely
// a record written with tabs or spaces instead of commas ("pendenza<tab>1350<tab>-2").
void passed_field(ReaderContext& cx, const SyntaxField& f, RecordSection section) {
  if (f.kind == NodeKind::kLast && f.at.line_end_before < 0) {
    unused_field(cx, cx.keyword);
  } else if (f.kind == NodeKind::kRemark && holds_blank_then_digit(cx.keyword)) {
    for (const RecordKind& kind : record_kinds()) {
      if (kind.section != section || !matches(kind, cx.keyword)) continue;
      warn(cx, kRankMisplaced, "record-in-remark",
           std::string("this field holds the keyword \"") + kind.keyword +
               "\" and values, but its hyphen makes it a remark, which is not read; only a comma "
               "ends a field");
      return;
    }
  }
}

// The records after the general section (or the train's): kNext at the end of the file or when
// a position test ends them, kStop or kFailed otherwise.
RecordStep read_record_part(ReaderContext& cx, RecordSection section) {
  while (cx.parser->next(cx.item)) {
    mark_record(cx, cx.item.field);
    passed_field(cx, cx.item.field, section);
    if (cx.item.field.kind != NodeKind::kKeyword) continue;  // a remark, or the last field
    RecordStep step = read_records(cx, section, cx.item.field);
    if (step == RecordStep::kLeave) return RecordStep::kNext;
    if (step != RecordStep::kNext) return step;
  }
  return RecordStep::kNext;
}

// A field before the "[generale]" field that holds something: not empty, no remark, no header.
bool holds_data(std::string_view field) {
  return field.find_first_not_of(" \t") != std::string_view::npos && !is_remark(field) &&
         !is_section_header(field);
}

// The first field of a source without a "[generale]" field that comes close to it; it may be
// "[generale]" itself as the file's last field, which is never read.
struct NearGeneralField {
  SourcePos pos;
  bool last_field = false;
  // What the author is told about it.
  std::string hint() const {
    return last_field ? "the \"[generale]\" field is the file's last field, and the last field "
                        "is never read: the records come after it"
                      : "did you mean \"[generale]\"?";
  }
};

// Marks the fields up to the "[generale]" field; false when the source holds none. Before it,
// the first field that holds something is an error (nothing there is read); `near` receives the
// first field that comes close to "[generale]".
bool pass_to_general_field(ReaderContext& cx, NearGeneralField& near) {
  SourcePos first;
  std::string first_text;
  int64_t passed = 0;
  while (cx.parser->next(cx.item)) {
    mark_record(cx, cx.item.field);
    if (cx.item.field.header) {
      if (passed == 0) return true;
      source_error(cx, first, "before-general",
                   "\"" + first_text +
                       "\" stands before the \"[generale]\" field, and nothing "
                       "before that field is read (" +
                       std::to_string(passed) + (passed == 1 ? " field)" : " fields)"));
      return true;
    }
    if (near.pos.line == 0 && near_general_field(cx.keyword)) {
      near = NearGeneralField{cx.record_pos, is_general_field(cx.keyword)};
    }
    if (!holds_data(cx.keyword)) continue;
    if (passed++ == 0) {
      first = cx.record_pos;
      first_text = std::string(cx.keyword.substr(0, 40));
    }
  }
  return false;
}

// --- Line source ------------------------------------------------------------------------------

void create_tables(ReaderContext& cx) {
  if (!cx.tables_pending) return;
  cx.tables_pending = false;
  create_grid(cx.m, cx.m.grid_last);
  if (cx.with_plan) create_profile(cx.m, cx.m.plan_last);
}

// The general section: kNext when it ends (at a section header or the end of the file).
RecordStep read_general_section(ReaderContext& cx) {
  while (cx.parser->next(cx.item)) {
    mark_record(cx, cx.item.field);
    passed_field(cx, cx.item.field, RecordSection::kLineGeneral);
    if (cx.item.field.kind != NodeKind::kKeyword) continue;  // a remark, or the last field
    RecordStep step = read_records(cx, RecordSection::kLineGeneral, cx.item.field);
    if (step != RecordStep::kNext) return step;
    if (cx.item.field.header) return RecordStep::kNext;
  }
  if (cx.parser->end() == SourceEnd::kAfterRemark) {
    end_of_source(cx, static_cast<int64_t>(cx.parser->bytes().size()),
                  "the file ends after a remark (a field with a hyphen)");
    return RecordStep::kFailed;
  }
  return RecordStep::kNext;
}

// Everything up to the "[generale]" field; kStop with error 102 when there is none.
RecordStep skip_to_general_section(ReaderContext& cx) {
  if (cx.parser->bytes().empty()) {
    end_of_source(cx, 0, "the line source is empty");
    return RecordStep::kFailed;
  }
  NearGeneralField near;
  if (!pass_to_general_field(cx, near)) {
    RecordStep step = file_error(cx, kErrNoGeneralSection, cx.s.line.name);
    if (near.pos.line > 0) {
      cx.m.error_log.back().notes.push_back(ErrorNote{
          near.pos,
          near.last_field ? near.hint() : near.hint() + " Only that field opens the records"});
    }
    return step;
  }
  return RecordStep::kNext;
}

// The line's plan starts with two points: (0, 0) and (0, 1).
void start_plan(Model& m) {
  m.plan.x.append(TaggedValue::Integer(0));  // metre 0
  m.plan.y.append(TaggedValue::Integer(0));
  m.plan.x.append(TaggedValue::Integer(0));  // metre 1
  m.plan.y.append(TaggedValue::Integer(1));
}

// Error 104. When a length record stands in the feature part, where it is not read, the error
// stands at it, with the warning that part gives a record of the general section.
RecordStep no_line_length(ReaderContext& cx) {
  const std::string_view bytes = cx.parser->bytes();
  const SourceSyntax tree = parse_source(bytes, SourceRole::kLine, cx.with_plan);
  for (const SyntaxField& f : tree.fields) {
    if (f.kind != NodeKind::kKeyword || f.header || f.section != RecordSection::kLineFeatures) {
      continue;
    }
    const char* name = misplaced_keyword(field_text(bytes, f.at), RecordSection::kLineFeatures);
    if (name == nullptr || std::string_view(name) != "lunghezza percorso") continue;
    mark_record(cx, f);
    warn(cx, kRankMisplaced,
         "a \"lunghezza percorso\" record is read only in the general section; it is ignored "
         "here");
    cx.m.error_code = kErrNoLineLength;
    cx.m.error_source = cx.record_pos;
    cx.m.error_detail =
        "the line source gives no line length in its general section: its \"lunghezza "
        "percorso\" record stands here, after the general section's end; move it above the "
        "first section header";
    log_error(cx.m);
    return RecordStep::kStop;
  }
  return file_error(cx, kErrNoLineLength, cx.s.line.name);
}

// The line half after its general section.
RecordStep read_line_features(ReaderContext& cx) {
  Model& m = cx.m;
  if (!m.has_grid()) return no_line_length(cx);
  if (!order_chainage_records(m)) return RecordStep::kFailed;
  m.tunnels.clear();
  cx.line = LineFeatureState{};
  if (cx.with_plan) start_plan(m);
  RecordStep step = read_record_part(cx, RecordSection::kLineFeatures);
  if (step != RecordStep::kNext) return step;
  complete_gradients(m, cx.line);
  if (cx.with_plan) complete_plan(m, cx.line);
  return RecordStep::kNext;
}

// The line half. kNext when the train half is to run.
RecordStep read_line_source(ReaderContext& cx) {
  Model& m = cx.m;
  m.record(kLineIdentityRecord).text = m.line_id;
  m.record(kTrainIdentityRecord).text = m.train_number;
  if (!cx.s.line.bytes) return file_error(cx, kErrNoLineSource, cx.s.line.name);
  cx.parser = &cx.line_parser.emplace(*cx.s.line.bytes, SourceRole::kLine, cx.with_plan);
  cx.file = &cx.s.line.name;
  // From here on the line source is deleted whatever happens.
  cx.s.line.consumed = true;
  check_encoding(cx, *cx.s.line.bytes, cx.s.line.name);
  warn_lone_line_end(cx, *cx.s.line.bytes, cx.s.line.name);
  RecordStep step = skip_to_general_section(cx);
  if (step != RecordStep::kNext) return step;
  step = read_general_section(cx);
  if (step == RecordStep::kFailed) return step;
  create_tables(cx);
  if (step != RecordStep::kNext) return step;
  return read_line_features(cx);
}

// --- Train source -----------------------------------------------------------------------------

// The speed and adhesion in force run to three cells before the end of the grid; then the
// chainage records are checked.
RecordStep finish_train(ReaderContext& cx) {
  Model& m = cx.m;
  TrainState& ts = cx.train;
  do {
    if (!write_speed(m, ts.speed, ts.speed_fill)) return speed_failure(cx, ts.speed);
    ++ts.speed_fill;
  } while (ts.speed_fill < int64_t{m.grid_last} - 2);
  do {
    write_adhesion(m, ts.adhesion, ts.adhesion_fill);
    ++ts.adhesion_fill;
  } while (ts.adhesion_fill < int64_t{m.grid_last} - 2);
  for (int i = kFirstChainageRecord; i <= kLastChainageRecord; ++i) {
    if (chainage_record(m, i).key % 50 != 0 || chainage_record(m, i).chainage % 50 != 0) {
      file_error(cx, kErrChainage, cx.s.line.name);
      break;
    }
  }
  return RecordStep::kNext;
}

// The train half. A stop skips the final fills; the end of the records does not.
RecordStep read_train_source(ReaderContext& cx) {
  if (!cx.s.train.bytes) {  // the file cannot be opened
    cx.parser = nullptr;
    cx.record_pos = SourcePos{cx.s.train.name, 0, 0, 0};
    cx.failure_detail = "the train source does not exist";
    return RecordStep::kFailed;
  }
  cx.parser = &cx.train_parser.emplace(*cx.s.train.bytes, SourceRole::kTrain, cx.with_plan);
  cx.file = &cx.s.train.name;
  cx.s.train.consumed = true;
  check_encoding(cx, *cx.s.train.bytes, cx.s.train.name);
  warn_lone_line_end(cx, *cx.s.train.bytes, cx.s.train.name);
  cx.train = TrainState{};
  if (cx.parser->bytes().empty()) {
    end_of_source(cx, 0, "the train source is empty");
    return RecordStep::kFailed;
  }
  NearGeneralField near;
  if (!pass_to_general_field(cx, near)) {
    cx.record_pos = near.pos.line > 0 ? near.pos : SourcePos{cx.s.train.name, 1, 1, 0};
    source_error(cx, "no-general-section",
                 std::string("no \"[generale]\" field: nothing of the train source is read") +
                     (near.pos.line > 0 ? "; " + near.hint() : ""));
  } else {
    RecordStep step = read_record_part(cx, RecordSection::kTrain);
    if (step != RecordStep::kNext) return step;
  }
  return finish_train(cx);
}

// Error 25: where the read failed, the tables of an accepted length, every source that exists
// deleted.
void record_failure(ReaderContext& cx) {
  Model& m = cx.m;
  m.error_code = kErrReadFailure;
  create_tables(cx);
  m.error_source = cx.record_pos;
  if (cx.parser) m.error_source = failure_position(cx);
  if (!cx.failure_detail.empty()) {
    m.error_detail = cx.failure_detail;
  } else if (!m.error_detail.empty() && cx.kind != nullptr) {
    m.error_detail = std::string(cx.kind->keyword) + ": " + m.error_detail;
  }
  if (cx.s.line.bytes) cx.s.line.consumed = true;
  if (cx.s.train.bytes) cx.s.train.consumed = true;
  log_error(m);
  if (cx.parser == nullptr || cx.kind == nullptr) return;
  if (looks_like_comment(cx.keyword)) {
    m.error_log.back().notes.push_back(
        ErrorNote{cx.record_pos, std::string("this field is read as a \"") + cx.kind->keyword +
                                     "\" record: a remark is written with a hyphen (\"- ...\")"});
  } else if (holds_blank_then_digit(cx.keyword)) {
    m.error_log.back().notes.push_back(
        ErrorNote{cx.record_pos,
                  "the whole line up to a comma is the keyword field: a tab or a "
                  "space does not end a field, a comma does"});
  }
}

}  // namespace

// --- Shared with the record readers -----------------------------------------------------------

bool read_number_field(ReaderContext& cx, int64_t& out) {
  const SyntaxField* f = next_value(cx);
  if (f == nullptr) return false;
  out = f->value;
  return true;
}

bool read_text_field(ReaderContext& cx, std::string& out) {
  const SyntaxField* f = next_value(cx);
  if (f == nullptr) return false;
  out.assign(field_text(cx.parser->bytes(), f->at));
  warn_text_characters(cx, cx.kind->fields[cx.field_index - 1].noun, f->at.start, out);
  return true;
}

SourcePos source_position(std::string_view bytes, const std::string& file, int64_t offset) {
  LineColumn at = line_column(bytes, offset);
  return SourcePos{file, at.line, at.column, offset};
}

RecordStep record_error(ReaderContext& cx, int32_t code) {
  cx.m.error_code = code;
  cx.m.error_source = cx.record_pos;
  log_error(cx.m);
  return RecordStep::kStop;
}

RecordStep record_error(ReaderContext& cx, int32_t code, int32_t position) {
  cx.m.error_position = position;
  return record_error(cx, code);
}

RecordStep placement_stopped(ReaderContext& cx, int32_t position) {
  if (cx.m.error_code == kErrReadFailure) return RecordStep::kFailed;
  cx.m.error_source = cx.record_pos;
  cx.m.error_position = position;
  log_error(cx.m);
  return RecordStep::kStop;
}

RecordStep after_placement(ReaderContext& cx, bool placed, int32_t position) {
  if (!placed) return placement_stopped(cx, position);
  if (cx.m.error_code <= 0) return RecordStep::kNext;
  // Placed, but an error recorded before stops the source here.
  cx.m.error_source = cx.record_pos;
  cx.m.error_position = position;
  if (!cx.m.error_log.empty()) {
    cx.m.error_log.back().notes.push_back(
        ErrorNote{cx.record_pos, std::string("because of this error, reading stopped at this ") +
                                     cx.kind->keyword + " record; the outcome is error " +
                                     std::to_string(cx.m.error_code) + " at " +
                                     std::to_string(position) + " m"});
  }
  return RecordStep::kStop;
}

RecordStep speed_failure(ReaderContext& cx, int32_t speed) {
  cx.failure_offset = cx.train.speed_field;
  cx.failure_end = cx.train.speed_field_end;
  cx.failure_detail = "velocita: the speed " + std::to_string(speed) +
                      " km/h does not fit a cell (speed / 5, rounded, must lie in 0 to 255: "
                      "-2 to 1277 km/h)";
  return RecordStep::kFailed;
}

void accept_line_length(ReaderContext& cx, int32_t length) {
  // The grid and the plan are made once the general section is over (or the reader stops in
  // it): nothing is placed in them before, and a source with many length records does not
  // build them again for each one.
  cx.m.plan_last = length + 7000;
  cx.m.grid_last = static_cast<int32_t>(round_even(cx.m.plan_last / 50.0));
  cx.tables_pending = true;
}

void read_sources(Model& m, Sources& s, bool with_plan) {
  ReaderContext cx(m, s);
  cx.with_plan = with_plan;
  RecordStep step = read_line_source(cx);
  if (step == RecordStep::kNext) step = read_train_source(cx);
  if (step == RecordStep::kFailed) record_failure(cx);
  finish_warnings(cx);
}

}  // namespace compactor
