// The two source readers: the line source, then the train source, in one call.
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

// What a failed field read met, said for an author ("montagna: the type (a whole number) is
// missing; the line ends here"), and where: the field, or where it should have been.
void describe_field_failure(ReaderContext& cx, const FieldDescription& described) {
  const ReadFailureInfo& f = cx.reader->failure();
  const std::string field = std::string(cx.kind->keyword) + ": the " + described.noun;
  const std::string what = field + " (" + type_phrase(described.type) + ")";
  if (f.kind == ReadFailureInfo::kEndOfFile && f.line_end_before < 0) {
    cx.failure_detail = what + " is missing; the file ends here";
  } else if (f.kind == ReadFailureInfo::kEndOfFile || f.line_end_before >= 0) {
    cx.failure_detail = what + " is missing; the line ends here";
    cx.failure_offset = f.line_end_before;
  } else if (f.kind == ReadFailureInfo::kNotANumber) {
    cx.failure_detail = f.token.empty() ? what + " is missing"
                                        : field + " \"" + f.token + "\" is not a whole number";
  } else if (f.kind == ReadFailureInfo::kOutOfRange) {
    bool large = !f.token.empty() && f.token[0] != '-';
    cx.failure_detail = field + " " + f.token + " is too " + (large ? "large" : "small") + " (at " +
                        (large ? "most " + std::to_string(f.hi) : "least " + std::to_string(f.lo)) +
                        ")";
  } else if (f.kind == ReadFailureInfo::kRejected) {
    cx.failure_detail = field + " is longer than " + std::to_string(kMaxText) + " bytes";
  }
}

void mark_record(ReaderContext& cx) {
  cx.record = cx.reader->field_offset();
  cx.reader->field_position(cx.record_pos);
}

// Reads the next keyword field into cx.keyword and marks the record there. False on a read
// failure, which only the end of the file can cause.
bool read_keyword(ReaderContext& cx) {
  if (!cx.reader->read_text(cx.keyword)) return false;
  mark_record(cx);
  return true;
}

bool has_hyphen(const std::string& f) {
  return f.find('-') != std::string::npos;
}

// A field that holds "[" and "]" and does not begin with a hyphen after its leading blanks.
bool is_section_header(const std::string& f) {
  if (f.find('[') == std::string::npos || f.find(']') == std::string::npos) return false;
  size_t first = f.find_first_not_of(' ');
  return first == std::string::npos || f[first] != '-';
}

// Reads the next record's keyword field; false at the end of the file. Up to two fields holding
// a hyphen (remarks) are passed over, the end of the file tested after each.
bool next_keyword(ReaderContext& cx) {
  FieldReader& r = *cx.reader;
  if (r.at_end()) return false;
  read_keyword(cx);
  if (r.at_end()) return false;
  for (int i = 0; i < 2 && has_hyphen(cx.keyword); ++i) {
    read_keyword(cx);
    if (r.at_end()) return false;
  }
  return true;
}

// Reads the record of every kind of `section` whose keyword the field holds, in table order.
// `used` tells whether any kind took it.
RecordStep dispatch(ReaderContext& cx, RecordSection section, bool& used) {
  used = false;
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section != section || !kind.matches(cx.keyword)) continue;
    cx.kind = &kind;
    cx.field_index = 0;
    RecordStep step = kind.read(cx);
    if (step == RecordStep::kNotHere) continue;
    used = true;
    if (step != RecordStep::kNext) return step;
  }
  return RecordStep::kNext;
}

// The name of the first record kind of `section` whose keyword the field holds, or null.
const char* keyword_of_section(const std::string& f, RecordSection section) {
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section == section && kind.matches(f)) return kind.keyword;
  }
  return nullptr;
}

// The name of the general record a keyword field would select, or null.
const char* general_keyword(const std::string& f) {
  if (contains_any_case(f, "percorso") && contains_any_case(f, "lunghezza")) {
    return "lunghezza percorso";
  }
  if (contains_exact(f, "progressiva")) return "progressiva chilometrica";
  if (contains_exact(f, "sfondo")) return "sfondo";
  if (contains_exact(f, "segnali") && contains_exact(f, "ripetizione")) {
    return "ripetizione segnali";
  }
  return nullptr;
}

// A field no record of its section took: a record of the other line section, or not a keyword.
void warn_unused(ReaderContext& cx, RecordSection section) {
  const std::string& f = cx.keyword;
  const char* name = nullptr;
  if (section == RecordSection::kLineGeneral) {
    name = keyword_of_section(f, RecordSection::kLineFeatures);
    if (name != nullptr) {
      warn(cx, kRankMisplaced,
           std::string("a \"") + name +
               "\" record is not read in the general section; it is ignored there");
      return;
    }
  } else if (section == RecordSection::kLineFeatures) {
    name = general_keyword(f);
    if (name != nullptr) {
      warn(cx, kRankMisplaced,
           std::string("a \"") + name +
               "\" record is read only in the general section; it is ignored here");
      return;
    }
  }
  unused_field(cx, f);
}

// Reads the records of one field of `section`; kNext to go on.
RecordStep read_records(ReaderContext& cx, RecordSection section) {
  bool used = false;
  RecordStep step = dispatch(cx, section, used);
  if (step != RecordStep::kNext) return step;
  if (used) {
    matched_record(cx);
  } else {
    warn_unused(cx, section);
  }
  return RecordStep::kNext;
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
  FieldReader& r = *cx.reader;
  for (;;) {
    if (r.at_end()) return RecordStep::kNext;
    if (!read_keyword(cx)) return RecordStep::kFailed;
    if (r.at_end()) return RecordStep::kNext;
    // Up to ten hyphen fields in a row are passed over, with no test of the end in between.
    for (int i = 0; i < 10; ++i) {
      if (has_hyphen(cx.keyword) && !read_keyword(cx)) {
        cx.failure_detail = "the file ends after a remark (a field with a hyphen)";
        return RecordStep::kFailed;
      }
    }
    RecordStep step = read_records(cx, RecordSection::kLineGeneral);
    if (step != RecordStep::kNext) return step;
    if (is_section_header(cx.keyword)) return RecordStep::kNext;
  }
}

// The features after the general section: kNext at the end of the file or when a position test
// ends them, kStop or kFailed otherwise.
RecordStep read_feature_part(ReaderContext& cx) {
  while (next_keyword(cx)) {
    RecordStep step = read_records(cx, RecordSection::kLineFeatures);
    if (step == RecordStep::kLeave) return RecordStep::kNext;
    if (step != RecordStep::kNext) return step;
  }
  return RecordStep::kNext;
}

// Everything up to the "[generale]" field; kStop with error 102 when there is none.
RecordStep skip_to_general_section(ReaderContext& cx) {
  for (;;) {
    if (!read_keyword(cx)) {
      cx.failure_detail = "the line source is empty";
      return RecordStep::kFailed;
    }
    if (cx.reader->at_end()) return file_error(cx, kErrNoGeneralSection, cx.s.line.name);
    if (contains_any_case(cx.keyword, "[generale]")) return RecordStep::kNext;
  }
}

// The line's plan starts with two points: (0, 0) and (0, 1).
void start_plan(Model& m) {
  m.plan.x.append(TaggedValue::Integer(0));  // metre 0
  m.plan.y.append(TaggedValue::Integer(0));
  m.plan.x.append(TaggedValue::Integer(0));  // metre 1
  m.plan.y.append(TaggedValue::Integer(1));
}

// The line half after its general section.
RecordStep read_line_features(ReaderContext& cx) {
  Model& m = cx.m;
  if (!m.has_grid()) return file_error(cx, kErrNoLineLength, cx.s.line.name);
  if (!order_chainage_records(m)) return RecordStep::kFailed;
  m.tunnels.clear();
  cx.line = LineFeatureState{};
  if (cx.with_plan) start_plan(m);
  RecordStep step = read_feature_part(cx);
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
  cx.reader = &cx.line_reader.emplace(*cx.s.line.bytes, cx.s.line.name);
  // From here on the line source is deleted whatever happens.
  cx.s.line.consumed = true;
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

// Everything up to the "[generale]" field; false when there is none.
RecordStep find_train_general(ReaderContext& cx, bool& found) {
  found = false;
  for (;;) {
    if (!read_keyword(cx)) {
      cx.failure_detail = "the train source is empty";
      return RecordStep::kFailed;
    }
    if (cx.reader->at_end()) return RecordStep::kNext;
    if (contains_any_case(cx.keyword, "[generale]")) {
      found = true;
      return RecordStep::kNext;
    }
  }
}

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
    cx.reader = nullptr;
    cx.record_pos = SourcePos{cx.s.train.name, 0, 0, 0};
    cx.failure_detail = "the train source does not exist";
    return RecordStep::kFailed;
  }
  cx.reader = &cx.train_reader.emplace(*cx.s.train.bytes, cx.s.train.name);
  cx.s.train.consumed = true;
  warn_lone_line_end(cx, *cx.s.train.bytes, cx.s.train.name);
  cx.train = TrainState{};
  bool found = false;
  if (find_train_general(cx, found) == RecordStep::kFailed) return RecordStep::kFailed;
  if (!found) {
    cx.record_pos = SourcePos{cx.s.train.name, 1, 1, 0};
    warn(cx, kRankMisplaced, "no-general-section",
         "no \"[generale]\" field: nothing of the train source is read");
  }
  while (found && next_keyword(cx)) {
    RecordStep step = read_records(cx, RecordSection::kTrain);
    if (step == RecordStep::kLeave) break;
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
  if (cx.reader) {
    int64_t offset = cx.reader->failure_offset();
    m.error_source = cx.reader->position_of(offset >= 0 ? offset : cx.record);
    if (cx.failure_offset >= 0) m.error_source = cx.reader->position_of(cx.failure_offset);
  }
  if (!cx.failure_detail.empty()) {
    m.error_detail = cx.failure_detail;
  } else if (!m.error_detail.empty() && cx.kind != nullptr) {
    m.error_detail = std::string(cx.kind->keyword) + ": " + m.error_detail;
  }
  if (cx.s.line.bytes) cx.s.line.consumed = true;
  if (cx.s.train.bytes) cx.s.train.consumed = true;
  log_error(m);
}

}  // namespace

// --- Shared with the record readers -----------------------------------------------------------

bool read_number_field(ReaderContext& cx, int64_t& out) {
  const FieldDescription& described = cx.kind->fields[cx.field_index++];
  if (cx.reader->read_number(field_type_min(described.type), field_type_max(described.type), out)) {
    return true;
  }
  describe_field_failure(cx, described);
  return false;
}

bool read_text_field(ReaderContext& cx, std::string& out) {
  const FieldDescription& described = cx.kind->fields[cx.field_index++];
  std::string text;
  bool ok = cx.reader->read_text(text);
  if (ok && text.size() > kMaxText) ok = cx.reader->reject_field();
  if (!ok) {
    describe_field_failure(cx, described);
    return false;
  }
  out = std::move(text);
  return true;
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
