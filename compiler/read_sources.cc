// The two source readers: the line source, then the train source, in one call.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "compiler/fields.h"
#include "model/errors.h"

namespace compactor {

namespace {

// Texts go into the record output behind a 16-bit length.
constexpr size_t kMaxText = 65535;

// A warning found while reading; at most one is kept per source line, the lowest rank first.
struct WarningCandidate {
  SourcePos pos;
  int rank = 0;
  std::string text;
  bool unused_field = false;  // text is the field; the message depends on the rest of the line
};

// Source lines, per file. Lines come in reading order, so each file's list stays sorted with a
// push at its end: no node or copy of the file name per record.
class LineSet {
 public:
  void insert(const std::string& file, int32_t line) {
    std::vector<int32_t>& lines = by_file_[file];
    if (lines.empty() || lines.back() < line) {
      lines.push_back(line);
    } else if (auto at = std::lower_bound(lines.begin(), lines.end(), line); *at != line) {
      lines.insert(at, line);
    }
  }
  bool contains(const std::string& file, int32_t line) const {
    auto it = by_file_.find(file);
    return it != by_file_.end() && std::binary_search(it->second.begin(), it->second.end(), line);
  }

 private:
  std::map<std::string, std::vector<int32_t>> by_file_;
};

struct Context {
  Model& m;
  Sources& s;
  FieldReader* reader = nullptr;  // the reader in use, one of the two below
  int64_t record = 0;             // offset of the record being read
  SourcePos record_pos;
  std::vector<WarningCandidate> warnings;
  LineSet record_lines;  // lines where a record starts
  LineSet quiet_lines;   // lines with expected leftovers
  // The readers live as long as the call: the failure handler still asks them for a position.
  std::optional<FieldReader> line_reader{};
  std::optional<FieldReader> train_reader{};
  bool tables_pending = false;  // a length was accepted; the grid and plan are not made yet
};

void mark_record(Context& cx) {
  cx.record = cx.reader->field_offset();
  cx.reader->field_position(cx.record_pos);
}

constexpr int kRankMisplaced = 0;
constexpr int kRankOffGrid = 1;
constexpr int kRankUnused = 2;

// Only one warning is kept per source line, the lowest rank first (finish_warnings). A candidate
// for the same line as the one before replaces it or is dropped at once, so that a line of a
// million stray fields holds one candidate, not a million.
void add_candidate(Context& cx, WarningCandidate w) {
  if (!cx.warnings.empty()) {
    WarningCandidate& last = cx.warnings.back();
    if (last.pos.line == w.pos.line && last.pos.file == w.pos.file) {
      if (w.rank < last.rank) last = std::move(w);
      return;
    }
  }
  cx.warnings.push_back(std::move(w));
}

void warn(Context& cx, int rank, std::string text) {
  if (cx.s.warnings == nullptr) return;
  add_candidate(cx, WarningCandidate{cx.record_pos, rank, std::move(text), false});
}

// A record keyword matched at the current record.
void matched_record(Context& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.record_lines.insert(cx.record_pos.file, cx.record_pos.line);
}

// A line whose leftover fields are expected (a curve without a plan).
void quiet_line(Context& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.quiet_lines.insert(cx.record_pos.file, cx.record_pos.line);
}

// A keyword field that no record used.
void unused_field(Context& cx, const std::string& field) {
  if (cx.s.warnings == nullptr) return;
  size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) return;            // empty fields say nothing
  if (field.find('-') != std::string::npos) return;  // hyphen fields are skipped on purpose
  if (field.find('[') != std::string::npos && field.find(']') != std::string::npos) return;
  add_candidate(cx, WarningCandidate{cx.record_pos, kRankUnused, field, true});
}

// A lone CR or LF is an ordinary character of a field. A source that holds one was most likely
// saved with other line ends than CR LF, and its fields are then not the ones the author sees:
// the first one is reported.
void warn_lone_line_end(Context& cx, std::string_view bytes, const std::string& file) {
  if (cx.s.warnings == nullptr) return;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool lone_lf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
    bool lone_cr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
    if (!lone_lf && !lone_cr) continue;
    cx.record_pos = source_position(bytes, file, static_cast<int64_t>(i));
    warn(cx, kRankMisplaced,
         std::string("a line ends with ") + (lone_lf ? "LF" : "CR") +
             " alone; only CR LF ends a line, so the text after it is read as part of this field");
    return;
  }
}

void warn_off_grid(Context& cx, const char* what, int64_t position) {
  if (position % 50 == 0) return;
  warn(cx, kRankOffGrid,
       std::string(what) + " at " + std::to_string(position) +
           " m is not a multiple of 50 m; it is placed in the nearest 50 m cell");
}

void finish_warnings(Context& cx) {
  if (cx.s.warnings == nullptr) return;
  auto key = [&cx](const WarningCandidate& w) {
    return std::make_tuple(w.pos.file == cx.s.line.name ? 0 : 1, w.pos.line, w.rank);
  };
  std::stable_sort(
      cx.warnings.begin(), cx.warnings.end(),
      [&key](const WarningCandidate& a, const WarningCandidate& b) { return key(a) < key(b); });
  std::set<std::pair<std::string, int32_t>> warned;
  for (const WarningCandidate& w : cx.warnings) {
    if (!warned.insert({w.pos.file, w.pos.line}).second) continue;
    if (w.unused_field && cx.quiet_lines.contains(w.pos.file, w.pos.line)) continue;
    std::string text = w.text;
    if (w.unused_field) {
      std::string shown = text.substr(0, text.find_last_not_of(' ') + 1);
      if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
      bool has_record = cx.record_lines.contains(w.pos.file, w.pos.line);
      text = "\"" + shown + "\" is not a record keyword; " +
             (has_record ? "the field is ignored" : "the line is ignored");
    }
    cx.s.warnings->push_back(Warning{w.pos, text});
  }
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

std::string read_stored_text(FieldReader& r) {
  std::string text = r.read_text();
  if (text.size() > kMaxText) throw ReadFailure{r.field_offset()};
  return text;
}

void record_error(Context& cx, int32_t code) {
  cx.m.error_code = code;
  cx.m.error_source = cx.record_pos;
}

void record_error(Context& cx, int32_t code, int32_t position) {
  record_error(cx, code);
  cx.m.error_position = position;
}

// Reads the next record's keyword field into text_line; false at the end of the file.
// `hyphen_skips` fields holding a hyphen are passed over; `test_end_between` says whether the end
// of the file is tested after each of them.
bool next_keyword(Context& cx, int hyphen_skips, bool test_end_between) {
  FieldReader& r = *cx.reader;
  if (r.at_end()) return false;
  cx.m.text_line = r.read_text();
  mark_record(cx);
  if (r.at_end()) return false;
  for (int i = 0; i < hyphen_skips && has_hyphen(cx.m.text_line); ++i) {
    cx.m.text_line = r.read_text();
    mark_record(cx);
    if (test_end_between && r.at_end()) return false;
  }
  return true;
}

// --- Line source ------------------------------------------------------------------------------

// An accepted length sizes the grid and the plan table. Both are made once the general section
// is over (or the reader stops in it): nothing is placed in them before, so they are the same
// tables, and a source with many length records does not build them again for each one.
void read_length(Context& cx, int32_t length) {
  Model& m = cx.m;
  m.plan_last = length + 7000;
  m.grid_last = static_cast<int32_t>(round_even(m.plan_last / 50.0));
  cx.tables_pending = true;
}

void create_tables(Context& cx) {
  if (!cx.tables_pending) return;
  cx.tables_pending = false;
  create_grid(cx.m, cx.m.grid_last);
  if (cx.m.with_plan != 0) create_profile(cx.m, cx.m.plan_last);
}

// The name of the feature record a keyword field would select, or null.
const char* feature_keyword(const std::string& f) {
  if (contains_any_case(f, "pendenza")) return "pendenza";
  if (contains_any_case(f, "curva")) return "curva";
  if (contains_any_case(f, "montagna")) return "montagna";
  if (contains_any_case(f, "indicatori_v")) return "indicatori_vmax";
  if (contains_any_case(f, "indicat") && contains_any_case(f, "cartello")) {
    return "cartello_indicatore";
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

// The general section. Returns false when the reader stops.
bool read_general_section(Context& cx) {
  Model& m = cx.m;
  FieldReader& r = *cx.reader;
  for (;;) {
    if (r.at_end()) return true;
    m.text_line = r.read_text();
    mark_record(cx);
    if (r.at_end()) return true;
    // Up to ten hyphen fields in a row are passed over, with no test of the end in between.
    for (int i = 0; i < 10; ++i) {
      if (has_hyphen(m.text_line)) {
        m.text_line = r.read_text();
        mark_record(cx);
      }
    }
    const std::string f = m.text_line;
    bool used = false;
    if (contains_any_case(f, "percorso") && contains_any_case(f, "lunghezza")) {
      used = true;
      int32_t length = r.read_int32();
      m.items[84].value2 = length;
      if (length > 1000000) {
        record_error(cx, kErrLineTooLong);
        return false;
      }
      if (length <= 0) {
        record_error(cx, kErrLineLengthNotPositive);
        return false;
      }
      read_length(cx, length);
    }
    static const char* const kChainage[3] = {"tre", "due", "uno"};
    for (int i = 0; i < 3; ++i) {
      if (contains_exact(f, kChainage[i]) && contains_exact(f, "progressiva")) {
        used = true;
        ScenarioItem& item = m.items[81 + i];
        item.value1 = r.read_int32();
        item.value2 = r.read_int32();
        item.value3 = r.read_int32();
      }
    }
    bool sfondo = contains_exact(f, "sfondo");
    if (sfondo && contains_exact(f, "uno")) m.items[85].value1 = r.read_int32();
    if (sfondo && contains_exact(f, "due")) m.items[85].value3 = r.read_int32();
    if (sfondo && contains_exact(f, "tre")) m.items[85].value2 = r.read_int32();
    if (sfondo &&
        (contains_exact(f, "uno") || contains_exact(f, "due") || contains_exact(f, "tre"))) {
      used = true;
    }
    if (contains_exact(f, "segnali") && contains_exact(f, "ripetizione")) {
      used = true;
      ScenarioItem& item = m.items[86];
      item.value1 = r.read_int32();
      item.value2 = r.read_int32();
      if (item.value1 % 50 != 0) {
        record_error(cx, kErrRepetitionStart);
        return false;
      }
      if (item.value2 % 50 != 0) {
        record_error(cx, kErrRepetitionEnd);
        return false;
      }
      if (f.find('4') != std::string::npos) {
        item.value3 = 4;
      } else if (f.find('9') != std::string::npos) {
        item.value3 = 9;
      } else {
        record_error(cx, kErrRepetitionDigit);
        return false;
      }
      if (item.value2 == 0) item.value3 = 0;
    }
    if (used) {
      matched_record(cx);
    } else if (const char* name = feature_keyword(f); name != nullptr) {
      warn(cx, kRankMisplaced,
           std::string("a \"") + name +
               "\" record is not read in the general section; it is ignored there");
    } else {
      unused_field(cx, f);
    }
    if (is_section_header(f)) return true;
  }
}

enum class FeatureEnd { kEndOfFile, kStop };

FeatureEnd read_feature_part(Context& cx, LineFeatureState& st) {
  Model& m = cx.m;
  FieldReader& r = *cx.reader;
  // A failed position test ends the feature part as the end of the file would.
  auto position_ok = [&](int32_t p) {
    if (within_grid(p, 100, m.grid_last)) return true;
    record_error(cx, kErrBeyondGrid, p);
    return false;
  };
  auto stop_at = [&](int32_t p) {
    cx.m.error_source = cx.record_pos;
    m.error_position = p;
    return FeatureEnd::kStop;
  };
  while (next_keyword(cx, 2, true)) {
    const std::string f = m.text_line;
    bool used = false;
    if (contains_any_case(f, "pendenza")) {
      used = true;
      int32_t p = r.read_int32();
      int32_t g = r.read_int32();
      if (!position_ok(p)) return FeatureEnd::kEndOfFile;
      warn_off_grid(cx, "the gradient", p);
      place_gradient(m, st, p, g);
    }
    if (contains_any_case(f, "curva") && m.with_plan == 0) {
      quiet_line(cx);  // curves are passed over on purpose without a plan
    }
    if (contains_any_case(f, "curva") && m.with_plan != 0) {
      used = true;
      int32_t start = r.read_int32();
      int32_t length = r.read_int32();
      if (!position_ok(start)) return FeatureEnd::kEndOfFile;
      double k = curve_curvature(f);
      if (k == 0.0) {
        record_error(cx, kErrCurve);
        return FeatureEnd::kStop;
      }
      if (!place_curve(m, st, k, start, length)) {
        record_error(cx, kErrCurve);
        return FeatureEnd::kStop;
      }
    }
    if (contains_any_case(f, "montagna")) {
      used = true;
      int32_t inizio = r.read_int32();
      int32_t fine = r.read_int32();
      int32_t tipo = r.read_int32();
      if (!position_ok(inizio)) return FeatureEnd::kEndOfFile;
      warn_off_grid(cx, "the tunnel start", inizio);
      warn_off_grid(cx, "the tunnel end", fine);
      place_tunnel(m, inizio, fine, tipo);
      if (m.error_code > 0) return stop_at(inizio);
    }
    if (contains_any_case(f, "indicatori_v")) {
      used = true;
      int32_t posizione = r.read_int32();
      int32_t v[8];
      for (int32_t& value : v) value = r.read_int32();
      if (!position_ok(posizione)) return FeatureEnd::kEndOfFile;
      warn_off_grid(cx, "the speed board", posizione);
      place_speed_boards(m, posizione, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
      if (m.error_code > 0) return stop_at(posizione);
    }
    if (contains_any_case(f, "indicat") && contains_any_case(f, "cartello")) {
      used = true;
      int32_t p = r.read_int32();
      m.text_line = read_stored_text(r);
      if (!position_ok(p)) return FeatureEnd::kEndOfFile;
      warn_off_grid(cx, "the indication board", p);
      if (!place_board(m, st, p, m.text_line)) return stop_at(p);
    }
    if (used) {
      matched_record(cx);
    } else if (const char* name = general_keyword(f); name != nullptr) {
      warn(cx, kRankMisplaced,
           std::string("a \"") + name +
               "\" record is read only in the general section; it is ignored here");
    } else {
      unused_field(cx, f);
    }
  }
  return FeatureEnd::kEndOfFile;
}

// The line half. Returns true when the train half is to run.
bool read_line_source(Context& cx, LineFeatureState& st) {
  Model& m = cx.m;
  m.items[85].text = m.line_id;
  m.items[86].text = m.train_number;
  if (!cx.s.line.bytes) {
    m.error_code = kErrNoLineSource;
    m.error_source = SourcePos{cx.s.line.name, 0, 0, 0};
    return false;
  }
  FieldReader& reader = cx.line_reader.emplace(*cx.s.line.bytes, cx.s.line.name);
  cx.reader = &reader;
  // From here on the line source is deleted whatever happens.
  cx.s.line.consumed = true;
  warn_lone_line_end(cx, *cx.s.line.bytes, cx.s.line.name);
  for (;;) {
    m.text_line = reader.read_text();
    mark_record(cx);
    if (reader.at_end()) {
      m.error_code = kErrNoGeneralSection;
      m.error_source = SourcePos{cx.s.line.name, 0, 0, 0};
      return false;
    }
    if (contains_any_case(m.text_line, "[generale]")) break;
  }
  bool general_ended = read_general_section(cx);
  create_tables(cx);
  if (!general_ended) return false;
  if (!m.has_grid()) {
    m.error_code = kErrNoLineLength;
    m.error_source = SourcePos{cx.s.line.name, 0, 0, 0};
    return false;
  }
  order_chainage_records(m);
  m.tunnel_count = 0;
  st = LineFeatureState{};
  if (m.with_plan != 0) {
    m.plan.x.append(TaggedValue::Integer(0));  // metre 0
    m.plan.y.append(TaggedValue::Integer(0));
    m.plan.x.append(TaggedValue::Integer(0));  // metre 1
    m.plan.y.append(TaggedValue::Integer(1));
  }
  if (read_feature_part(cx, st) == FeatureEnd::kStop) return false;
  complete_gradients(m, st);
  if (m.with_plan != 0) complete_plan(m, st);
  return true;
}

// --- Train source -----------------------------------------------------------------------------

struct TrainState {
  int32_t speed_fill = 0;
  int32_t adhesion_fill = 0;
  int32_t speed = 0;     // speed in force before the first speed record
  int32_t adhesion = 0;  // adhesion in force before the first adhesion record
  int32_t station = 1;
};

void write_speed(Model& m, int32_t speed, int32_t i) {
  int64_t v = round_even(static_cast<double>(speed) / 5.0);
  if (v < 0 || v > 255) throw ReadFailure{};
  if (i >= 0 && i <= m.grid_last) m.track_grid[i].speed_limit = static_cast<uint8_t>(v);
}

void write_adhesion(Model& m, int32_t adhesion, int32_t i) {
  if (i >= 0 && i <= m.grid_last) m.track_grid[i].adhesion = static_cast<uint8_t>(adhesion & 0xFF);
}

void read_station(Context& cx, TrainState& ts, int32_t board_counter, bool& stop, bool& leave) {
  Model& m = cx.m;
  FieldReader& r = *cx.reader;
  int32_t n = ts.station;
  if (n > board_counter) {  // every record up to 80 holds a board text: none is left
    record_error(cx, kErrStationSlot);
    stop = true;
    return;
  }
  ScenarioItem& it = m.items[n];
  it.value3 = r.read_int32();
  if (!within_grid(it.value3, 800, m.grid_last)) {
    record_error(cx, kErrBeyondGrid, it.value3);
    leave = true;
    return;
  }
  if (it.value3 % 50 != 0) {
    record_error(cx, kErrStationPosition, it.value3);
    stop = true;
    return;
  }
  it.kind = r.read_uint8();
  int32_t length = r.read_int32();
  if (length % 100 != 0) {
    record_error(cx, kErrStationLength, it.value3);
    stop = true;
    return;
  }
  it.mark = r.read_uint8();
  it.flag4 = r.read_uint8();
  it.flag3 = r.read_uint8();
  it.num1 = r.read_int16();
  it.num2 = r.read_int16();
  it.flag1 = r.read_uint8();
  it.num3 = r.read_int16();
  it.num4 = r.read_int16();
  it.num5 = r.read_int16();
  it.flag2 = r.read_uint8();
  int64_t hours = r.read_int32();
  int64_t minutes = r.read_int32();
  int64_t seconds = r.read_int32();
  it.check_code = to_int32((hours * 60 + minutes) * 60 + seconds);
  it.text = read_stored_text(r);
  if (!place_station(m, n, length)) {
    cx.m.error_source = cx.record_pos;
    stop = true;
    return;
  }
  ++ts.station;
  if (ts.station >= board_counter) {
    record_error(cx, kErrStationSlot);
    stop = true;
  }
}

void read_train_source(Context& cx, const LineFeatureState& line) {
  Model& m = cx.m;
  if (!cx.s.train.bytes) {  // the file cannot be opened
    cx.reader = nullptr;
    cx.record_pos = SourcePos{cx.s.train.name, 0, 0, 0};
    throw ReadFailure{};
  }
  FieldReader& reader = cx.train_reader.emplace(*cx.s.train.bytes, cx.s.train.name);
  cx.reader = &reader;
  cx.s.train.consumed = true;
  warn_lone_line_end(cx, *cx.s.train.bytes, cx.s.train.name);
  TrainState ts;
  bool found = false;
  for (;;) {
    m.text_line = reader.read_text();
    mark_record(cx);
    if (reader.at_end()) break;
    if (contains_any_case(m.text_line, "[generale]")) {
      found = true;
      break;
    }
  }
  auto range_ok = [&](int32_t p) {
    if (within_grid(p, 100, m.grid_last)) return true;
    record_error(cx, kErrBeyondGrid, p);
    return false;
  };
  // Stops of the train half: the file is deleted, no final fill is made.
  auto stop_at = [&](int32_t p) {
    m.error_source = cx.record_pos;
    m.error_position = p;
  };
  if (!found) {
    cx.record_pos = SourcePos{cx.s.train.name, 1, 1, 0};
    warn(cx, kRankMisplaced, "no \"[generale]\" field: nothing of the train source is read");
  }
  bool leave = false;
  while (found && !leave && next_keyword(cx, 2, true)) {
    const std::string f = m.text_line;
    bool used = false;
    if (contains_any_case(f, "frenata") && contains_any_case(f, "massa")) {
      used = true;
      m.items[84].value1 = reader.read_int32();
    }
    if (contains_any_case(f, "vetture")) {
      used = true;
      m.items[84].value3 = reader.read_int32();
    }
    if (contains_any_case(f, "velocit")) {
      used = true;
      int32_t p = reader.read_int32();
      int32_t v = reader.read_int32();
      if (!range_ok(p)) break;
      warn_off_grid(cx, "the speed change", p);
      int64_t c = cell_at(p);
      if (c > 0) {
        for (;;) {
          if (ts.speed_fill >= m.grid_last) break;
          write_speed(m, ts.speed, ts.speed_fill);
          ++ts.speed_fill;
          if (ts.speed_fill >= c) break;
        }
      }
      ts.speed = v;
    }
    if (contains_any_case(f, "aderenza")) {
      used = true;
      int32_t p = reader.read_int32();
      int32_t a = reader.read_int32();
      if (!range_ok(p)) break;
      warn_off_grid(cx, "the adhesion change", p);
      int64_t c = cell_at(p);
      if (c > 0) {
        do {
          write_adhesion(m, ts.adhesion, ts.adhesion_fill);
          ++ts.adhesion_fill;
        } while (ts.adhesion_fill < c);
      }
      ts.adhesion = a;
    }
    if (contains_any_case(f, "orologio")) {
      used = true;
      m.items[86].num3 = reader.read_int16();
      m.items[86].num4 = reader.read_int16();
      m.items[86].num5 = reader.read_int16();
    }
    if (contains_any_case(f, "sabbia")) {
      used = true;
      m.items[86].num1 = reader.read_int16();
    }
    if (contains_any_case(f, "segnale")) {
      used = true;
      int32_t posizione = reader.read_int32();
      int32_t v[10];
      for (int32_t& value : v) value = reader.read_int32();
      if (!range_ok(posizione)) break;
      warn_off_grid(cx, "the signal", posizione);
      place_signal(m, posizione, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]);
      if (m.error_code > 0) return stop_at(posizione);
    }
    if (contains_any_case(f, "rallentamento")) {
      used = true;
      int32_t x = reader.read_int32();
      int32_t v = reader.read_int32();
      int32_t l = reader.read_int32();
      int32_t f_tt = reader.read_int32();
      int32_t f_ta = reader.read_int32();
      int32_t d_v = reader.read_int32();
      if (!range_ok(x)) break;
      warn_off_grid(cx, "the slow order", x);
      warn_off_grid(cx, "the slow order's length", l);
      place_slow_order(m, x, v, l, f_tt, f_ta, d_v);
      if (m.error_code > 0) return stop_at(x);
    }
    if (contains_any_case(f, "abbattimento")) {
      used = true;
      int32_t p = reader.read_int32();
      int32_t code = reader.read_int32();
      if (!range_ok(p)) break;
      warn_off_grid(cx, "the code point", p);
      if (!place_code_point(m, p, code)) return stop_at(p);
    }
    if (contains_any_case(f, "stazione")) {
      used = true;
      bool stop = false;
      read_station(cx, ts, line.board_counter, stop, leave);
      if (stop) return;
    }
    if (used) {
      matched_record(cx);
    } else {
      unused_field(cx, f);
    }
  }
  // End processing: final fills up to grid_last - 3, then the chainage check.
  do {
    write_speed(m, ts.speed, ts.speed_fill);
    ++ts.speed_fill;
  } while (ts.speed_fill < int64_t{m.grid_last} - 2);
  do {
    write_adhesion(m, ts.adhesion, ts.adhesion_fill);
    ++ts.adhesion_fill;
  } while (ts.adhesion_fill < int64_t{m.grid_last} - 2);
  for (int i = 81; i <= 83; ++i) {
    if (m.items[i].value1 % 50 != 0 || m.items[i].value2 % 50 != 0) {
      m.error_code = kErrChainage;
      m.error_source = SourcePos{cx.s.line.name, 0, 0, 0};
    }
  }
}

}  // namespace

void read_sources(Model& m, Sources& s) {
  Context cx{m, s, nullptr, 0, {}, {}, {}, {}};
  try {
    LineFeatureState st;
    if (read_line_source(cx, st)) read_train_source(cx, st);
    finish_warnings(cx);
  } catch (const ReadFailure& failure) {
    m.error_code = kErrReadFailure;
    create_tables(cx);  // a failure in the general section keeps the tables of its length
    m.error_source = cx.record_pos;
    if (cx.reader) {
      m.error_source = cx.reader->position_of(failure.offset >= 0 ? failure.offset : cx.record);
    }
    // Every source file that still exists is deleted.
    if (s.line.bytes) s.line.consumed = true;
    if (s.train.bytes) s.train.consumed = true;
    finish_warnings(cx);
  }
}

}  // namespace compactor
