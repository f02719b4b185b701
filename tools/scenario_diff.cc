#include "tools/scenario_diff.h"

#include <cstring>
#include <span>
#include <type_traits>

#include "format/layouts.h"
#include "model/roles.h"
#include "tools/diagnostics.h"
#include "tools/dump.h"

namespace compactor {

namespace {

// A text field quoted, its control characters escaped: a name from an output cannot drive the
// terminal.
std::string shown(const std::string& text) {
  std::string out = "\"";
  out += escaped_text(text);
  out += '"';
  return out;
}
template <class M>
std::string shown(const M& value) {
  return std::to_string(value);
}

// The name a role gives a slot of the layout, or the slot's own name.
const char* slot_name(std::span<const SlotName> names, const char* slot) {
  for (const SlotName& n : names) {
    if (std::strcmp(n.slot, slot) == 0) return n.name;
  }
  return slot;
}

// Each field of the layout whose values differ in `a` and `b`, under `where`, by the names of
// the role.
template <class Layout, class Struct>
void diff_fields(const Layout& layout, const Struct& a, const Struct& b, const std::string& where,
                 std::vector<Difference>& out, std::span<const SlotName> names = {}) {
  for_each_field(layout, [&]<class M>(const FieldLayout<Struct, M>& f) {
    if (a.*f.member == b.*f.member) return;
    out.push_back(
        Difference{where, slot_name(names, f.name), shown(a.*f.member), shown(b.*f.member)});
  });
}

// The names of the slots of record `index` in the role record_role gave it.
std::span<const SlotName> role_slot_names(const std::string& role, int index) {
  if (role == "station") return kStationSlotNames;
  if (role == "chainage") return kChainageSlotNames;
  if (index == kLineDataRecord) return kLineDataSlotNames;
  if (index == kLineIdentityRecord) return kLineIdentitySlotNames;
  if (index == kTrainIdentityRecord) return kTrainIdentitySlotNames;
  return {};
}

// "station 3 \"ROMA\"", "record 84 (line and train data)".
std::string record_place(const std::array<ScenarioItem, kItemCount>& items, int index) {
  const std::string role = record_role(items, index);
  if (role != "station") return "record " + std::to_string(index) + " (" + role + ")";
  return "station " + std::to_string(index) + " " + shown(items[static_cast<size_t>(index)].text);
}

void diff_records(const std::array<ScenarioItem, kItemCount>& a,
                  const std::array<ScenarioItem, kItemCount>& b, std::vector<Difference>& out) {
  for (int i = 0; i < kItemCount; ++i) {
    const auto n = static_cast<size_t>(i);
    const std::span<const SlotName> names = role_slot_names(record_role(a, i), i);
    diff_fields(kRecordLayout, a[n], b[n], record_place(a, i), out, names);
  }
}

void diff_grid(const std::vector<TrackCell>& a, const std::vector<TrackCell>& b,
               std::vector<Difference>& out) {
  if (a.size() != b.size()) {
    out.push_back(Difference{"grid", "cells", shown(a.size()), shown(b.size())});
  }
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    const std::string where = "cell " + std::to_string(i) + " (" + std::to_string(i * 50) + " m)";
    if (a[i].kind != b[i].kind) {
      out.push_back(Difference{where, "", cell_kind_name(a[i].kind), cell_kind_name(b[i].kind)});
    }
    TrackCell same_kind = b[i];
    same_kind.kind = a[i].kind;
    diff_fields(kCellLayout, a[i], same_kind, where, out);
  }
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

// The runs of points that differ, each as "points FIRST–LAST differ (from FIRST m)".
void diff_plan(const Plan& a, const Plan& b, std::vector<Difference>& out) {
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
    const std::string run = last == i ? "point " + std::to_string(i)
                                      : "points " + std::to_string(i) + "-" + std::to_string(last);
    out.push_back(Difference{"plan", run + " differ (from " + std::to_string(i) + " m)", "", ""});
    i = last + 1;
  }
}

}  // namespace

std::vector<Difference> diff_scenarios(const DecodedScenario& a, const DecodedScenario& b) {
  std::vector<Difference> out;
  if (a.records && b.records) diff_records(*a.records, *b.records, out);
  if (a.grid && b.grid) diff_grid(*a.grid, *b.grid, out);
  if (a.plan && b.plan) diff_plan(*a.plan, *b.plan, out);
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

std::string differences_json(const std::vector<Difference>& differences) {
  std::string out = "{\"same\":";
  out += differences.empty() ? "true" : "false";
  out += ",\"differences\":[";
  for (size_t i = 0; i < differences.size(); ++i) {
    const Difference& d = differences[i];
    if (i > 0) out += ",";
    out += "{\"where\":";
    out += json_string(d.where);
    out += ",\"what\":";
    out += json_string(d.what);
    out += ",\"before\":";
    out += json_string(d.before);
    out += ",\"after\":";
    out += json_string(d.after);
    out += "}";
  }
  return out + "]}\n";
}

}  // namespace compactor
