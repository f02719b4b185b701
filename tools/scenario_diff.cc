#include "tools/scenario_diff.h"

#include <algorithm>
#include <cstring>

#include "syntax/record_kinds.h"
#include "syntax/tree.h"
#include "tools/diagnostics.h"
#include "tools/diff_fields.h"
#include "tools/dump.h"

namespace compactor {

namespace {

using Records = std::array<ScenarioItem, kItemCount>;

// The names of the slots of record `index` in the role record_role gave it.
std::span<const SlotName> role_slot_names(const std::string& role, int index) {
  if (role == "station") return kStationSlotNames;
  if (role == "chainage") return kChainageSlotNames;
  if (index == kLineDataRecord) return kLineDataSlotNames;
  if (index == kLineIdentityRecord) return kLineIdentitySlotNames;
  if (index == kTrainIdentityRecord) return kTrainIdentitySlotNames;
  return {};
}

const ScenarioItem& item(const Records& items, int index) {
  return items[static_cast<size_t>(index)];
}

// "station 3 \"ROMA\""; "station 5 \"ROMA\" (4 before)" when the station's record changed.
std::string station_place(const Records& items, int index, int index_after) {
  std::string out = "station " + std::to_string(index_after) + " " + shown(item(items, index).text);
  if (index_after != index) out += " (" + std::to_string(index) + " before)";
  return out;
}

// Two stations are the same station when they keep their name or their position; one that
// keeps both is the better pair (two stations may share a name): 2, 1, or 0 for none.
int station_likeness(const ScenarioItem& a, const ScenarioItem& b) {
  return (a.text == b.text ? 1 : 0) +
         (StationRecord(a).position == StationRecord(b).position ? 1 : 0);
}

// One step of the alignment of the stations: a pair, or a station of one side (0 on the other).
struct StationStep {
  int a = 0;
  int b = 0;
};

// The stations of `a` and `b` aligned by the common sequence of the same stations of the most
// likeness, so that one added or removed leaves the others paired, and of two stations of one
// name the one that kept its place too is paired.
std::vector<StationStep> align_stations(const Records& a, const Records& b) {
  const std::vector<int> sa = station_indexes(a);
  const std::vector<int> sb = station_indexes(b);
  const size_t n = sa.size(), m = sb.size();
  std::vector<int> common((n + 1) * (m + 1), 0);  // from (i, j) to the ends
  auto at = [&](size_t i, size_t j) -> int& { return common[i * (m + 1) + j]; };
  auto like = [&](size_t i, size_t j) { return station_likeness(item(a, sa[i]), item(b, sb[j])); };
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      const int paired = like(i, j) > 0 ? at(i + 1, j + 1) + like(i, j) : 0;
      at(i, j) = std::max({paired, at(i + 1, j), at(i, j + 1)});
    }
  }
  std::vector<StationStep> steps;
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && like(i, j) > 0 && at(i, j) == at(i + 1, j + 1) + like(i, j)) {
      steps.push_back({sa[i++], sb[j++]});
    } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
      steps.push_back({sa[i++], 0});
    } else {
      steps.push_back({0, sb[j++]});
    }
  }
  return steps;
}

void diff_stations(const Records& a, const Records& b, const std::vector<StationStep>& steps,
                   std::vector<Difference>& out) {
  for (const StationStep& s : steps) {
    if (s.a != 0 && s.b != 0) {
      diff_fields(kRecordLayout, item(a, s.a), item(b, s.b), station_place(a, s.a, s.b), out,
                  kStationSlotNames);
    } else if (s.a != 0) {
      out.push_back(Difference{station_place(a, s.a, s.a),
                               "removed (at " + shown(StationRecord(item(a, s.a)).position) + " m)",
                               "", ""});
    } else {
      out.push_back(Difference{station_place(b, s.b, s.b),
                               "added (at " + shown(StationRecord(item(b, s.b)).position) + " m)",
                               "", ""});
    }
  }
}

bool station_or_cleared(const Records& items, int index) {
  const std::string role = record_role(items, index);
  return role == "station" || role == "cleared";
}

// "record 84 (line and train data)".
std::string record_place(const Records& items, int index) {
  return "record " + std::to_string(index) + " (" + record_role(items, index) + ")";
}

// The stations aligned, then the other records by their index. Returns the record in `b` of
// each station record of `a` (-1: removed).
std::vector<int> diff_records(const Records& a, const Records& b,
                              const std::vector<char>& told_by_boards,
                              std::vector<Difference>& out) {
  const std::vector<StationStep> steps = align_stations(a, b);
  diff_stations(a, b, steps, out);
  for (int i = 0; i < kItemCount; ++i) {
    const bool a_station = record_role(a, i) == "station";
    const bool b_station = record_role(b, i) == "station";
    if ((a_station || b_station) && station_or_cleared(a, i) && station_or_cleared(b, i)) continue;
    if (told_by_boards[static_cast<size_t>(i)]) continue;
    const std::span<const SlotName> names = role_slot_names(record_role(a, i), i);
    diff_fields(kRecordLayout, item(a, i), item(b, i), record_place(a, i), out, names);
  }
  std::vector<int> station_in_b(kItemCount, -1);
  for (const StationStep& s : steps) {
    if (s.a != 0) station_in_b[static_cast<size_t>(s.a)] = s.b != 0 ? s.b : -1;
  }
  return station_in_b;
}

// The board-text records whose texts the indication boards tell: a board text on one side at
// least, and on each side a board text that a board names, or cleared.
std::vector<char> told_by_boards(const DecodedScenario& a, const DecodedScenario& b) {
  const std::vector<char> named_a = board_texts_named(*a.grid);
  const std::vector<char> named_b = board_texts_named(*b.grid);
  std::vector<char> told(kItemCount, 0);
  for (int i = kFirstStationRecord; i <= kLastBoardTextRecord; ++i) {
    const auto n = static_cast<size_t>(i);
    const std::string role_a = record_role(*a.records, i);
    const std::string role_b = record_role(*b.records, i);
    if (role_a != "board text" && role_b != "board text") continue;
    const bool a_told = role_a == "cleared" || (role_a == "board text" && named_a[n]);
    const bool b_told = role_b == "cleared" || (role_b == "board text" && named_b[n]);
    told[n] = a_told && b_told;
  }
  return told;
}

bool same_value(const TaggedValue& a, const TaggedValue& b) {
  if (a.tag != b.tag) return false;
  if (a.tag == TaggedValue::kInteger) return a.integer == b.integer;
  if (a.tag == TaggedValue::kEmpty) return true;
  return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;  // the same bits, NaN or not
}

bool same_point(const Plan& a, const Plan& b, size_t i) {
  return same_value(a.x[i], b.x[i]) && same_value(a.y[i], b.y[i]);
}

// The curve that turns the plan at `metre`, else the last one before it, which set the
// direction the plan keeps there: "in curvad3 at 1000 m, 500 m long", "after ...".
std::string curve_at(const std::vector<PlanSource>& sources, int64_t metre) {
  const PlanSource* before = nullptr;
  for (const PlanSource& s : sources) {
    if (s.first <= metre && metre <= s.last) return "in " + s.text;
    if (s.last < metre && (before == nullptr || s.last > before->last)) before = &s;
  }
  return before == nullptr ? "before any curve" : "after " + before->text;
}

// A run of points that differ: "points 1501-1800 differ (1501-1800 m)", the points being 1 m
// apart from metre 0, with the curves of each side at its first point when a side gives them:
// in `what` when they are the same, else as the values before and after.
Difference plan_run(const DecodedScenario& a, const DecodedScenario& b, size_t first, size_t last) {
  std::string what = last == first ? "point " + std::to_string(first)
                                   : "points " + std::to_string(first) + "-" + std::to_string(last);
  what += " differ (" + std::to_string(first);
  if (last != first) {
    what += '-';
    what += std::to_string(last);
  }
  what += " m";
  if (!a.plan_sources && !b.plan_sources) return Difference{"plan", what + ")", "", ""};
  const auto metre = static_cast<int64_t>(first);
  const std::string before = a.plan_sources ? curve_at(*a.plan_sources, metre) : "not known";
  const std::string after = b.plan_sources ? curve_at(*b.plan_sources, metre) : "not known";
  if (before == after) return Difference{"plan", what + "; " + before + ")", "", ""};
  return Difference{"plan", what + ")", before, after};
}

// The runs of points that differ.
void diff_plan(const DecodedScenario& da, const DecodedScenario& db, std::vector<Difference>& out) {
  const Plan& a = *da.plan;
  const Plan& b = *db.plan;
  if (a.x.size() != b.x.size()) {
    out.push_back(Difference{"plan", "points", shown(a.x.size()), shown(b.x.size())});
  }
  const size_t common = std::min(a.x.size(), b.x.size());
  for (size_t i = 0; i < common;) {
    if (same_point(a, b, i)) {
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < common && !same_point(a, b, last + 1)) ++last;
    out.push_back(plan_run(da, db, i, last));
    i = last + 1;
  }
}

}  // namespace

std::vector<PlanSource> plan_sources(std::string_view line_source) {
  const SourceSyntax tree = parse_source(line_source, SourceRole::kLine, true);
  std::vector<PlanSource> out;
  for (const SyntaxRecord& r : tree.records) {
    if (r.kind == nullptr || r.kind->id != KindId::kCurve || r.value_count < 2) continue;
    const int64_t start = tree.fields[r.first_value].value;
    const int64_t length = tree.fields[r.first_value + 1].value;
    const std::string keyword(field_text(tree.bytes, tree.fields[r.keyword].at));
    out.push_back(PlanSource{escaped_text(keyword) + " at " + std::to_string(start) + " m, " +
                                 std::to_string(length) + " m long",
                             start + 1, start + length});
  }
  return out;
}

std::vector<Difference> diff_scenarios(const DecodedScenario& a, const DecodedScenario& b) {
  std::vector<Difference> out;
  CellRecords cell_records;
  if (a.records && b.records) {
    const std::vector<char> told =
        a.grid && b.grid ? told_by_boards(a, b) : std::vector<char>(kItemCount, 0);
    cell_records.station_in_b = diff_records(*a.records, *b.records, told, out);
    cell_records.a = &*a.records;
    cell_records.b = &*b.records;
  }
  if (a.grid && b.grid) diff_grid(*a.grid, *b.grid, cell_records, out);
  if (a.plan && b.plan) diff_plan(a, b, out);
  return out;
}

std::string differences_text(const std::vector<Difference>& differences) {
  std::string out;
  for (const Difference& d : differences) {
    out += d.where + ": ";
    if (!d.what.empty()) out += d.what;
    if (!d.before.empty() || !d.after.empty()) {
      out += (d.what.empty() ? "" : " ") + d.before + " → " + d.after;
    }
    out += "\n";
  }
  return out;
}

namespace {

// A JSON string of a name as the diff shows it: a valid UTF-8 sequence stays as it is, a byte
// of no sequence is taken as Latin-1 (0xC0 is "\u00C0"), as the dumps take it.
std::string json_text(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const bool high = static_cast<unsigned char>(text[at]) >= 0x80;
    const size_t sequence = high ? utf8_sequence_length(text, at) : 0;
    if (sequence > 0) {
      out.append(text.substr(at, sequence));
      at += sequence;
      continue;
    }
    const std::string one = json_string(text.substr(at, 1));
    out.append(one, 1, one.size() - 2);
    ++at;
  }
  return out + "\"";
}

}  // namespace

std::string differences_json(const std::vector<Difference>& differences) {
  std::string out = "{\"same\":";
  out += differences.empty() ? "true" : "false";
  out += ",\"differences\":[";
  for (size_t i = 0; i < differences.size(); ++i) {
    const Difference& d = differences[i];
    if (i > 0) out += ",";
    out += "{\"where\":";
    out += json_text(d.where);
    out += ",\"what\":";
    out += json_text(d.what);
    out += ",\"before\":";
    out += json_text(d.before);
    out += ",\"after\":";
    out += json_text(d.after);
    if (!d.stored_field.empty()) {
      out += ",\"stored\":{\"field\":" + json_text(d.stored_field) +
             ",\"before\":" + json_text(d.stored_before) +
             ",\"after\":" + json_text(d.stored_after) + "}";
    }
    out += "}";
  }
  return out + "]}\n";
}

}  // namespace compactor
