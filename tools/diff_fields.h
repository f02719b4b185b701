// What the parts of diff share: a value as a difference shows it, the name a role gives a slot,
// and the differences of the fields of one record or cell.
#pragma once

#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "format/layouts.h"
#include "model/roles.h"
#include "tools/diagnostics.h"
#include "tools/scenario_diff.h"

namespace compactor {

// A text field quoted, its control characters escaped: a name from an output cannot drive the
// terminal. Its quotes and backslashes are escaped first, so that a quote ends the name and
// "\x01" is a control character, never four characters of the name.
inline std::string shown(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  std::string out = "\"";
  out += escaped_text(quoted);
  out += '"';
  return out;
}
template <class M>
std::string shown(const M& value) {
  return std::to_string(value);
}

// "11050 m" for the place of cell `index`.
inline std::string cell_metres(size_t index) {
  return std::to_string(index * 50) + " m";
}

// The name a role gives a slot of the layout, or the slot's own name.
inline const char* slot_name(std::span<const SlotName> names, const char* slot) {
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

// What the records say of the cells that name one: station_in_b[i] is the record in `b` of
// station record i of `a` (-1: none), so that a stop mark of a station that only changed its
// number reads the same; an indication board is compared by the text of its record.
struct CellRecords {
  std::vector<int> station_in_b;
  const std::array<ScenarioItem, kItemCount>* a = nullptr;
  const std::array<ScenarioItem, kItemCount>* b = nullptr;
};

// The grid's differences: slow orders as the author placed them, cells that moved, then each
// cell that differs otherwise.
void diff_grid(const std::vector<TrackCell>& a, const std::vector<TrackCell>& b,
               const CellRecords& records, std::vector<Difference>& out);

// The board-text records that an indication board of `grid` names.
std::vector<char> board_texts_named(const std::vector<TrackCell>& grid);

}  // namespace compactor
