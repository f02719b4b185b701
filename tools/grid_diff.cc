// The grid's part of diff. A slow order is one thing to its author, but five to nine cells of
// the grid: its start, end, warning board and approach cells are read back into slow orders and
// compared as such. A signal, a board or a stop mark that only moved reads as moved. A change of
// a track field (tunnel type, speed limit, gradient, adhesion) over a run of cells is one line.
// Every other difference is a cell's, named by what its kind holds (model/roles.h). A speed limit,
// a gradient, a speed board's speeds and stripes and a tunnel type are shown as the author writes
// them (model/written_values.h), not as the cells store them.
#include <algorithm>
#include <optional>

#include "model/written_values.h"
#include "tools/diff_fields.h"

namespace compactor {

namespace {

using Grid = std::vector<TrackCell>;

bool is_slow_order_kind(uint8_t kind) {
  return kind == kSlowOrderEnd || kind == kSlowOrderStart || kind == kWarningBoard ||
         kind == kSlowOrderApproach;
}

// A slow order as its cells show it.
struct SlowOrderSpan {
  size_t start = 0;
  size_t end = 0;  // its end cell; the start cell when none follows
  std::optional<size_t> warning;
  size_t first_approach = 0;  // its approach cells: first_approach up to the warning board
  int approach_cells = 0;
  TrackCell start_cell;
};

// The warning board stands 24 cells (1200 m) before the start, the approach cells within the
// five cells before the board (the rounding of 1200 m before the start decides which four).
void find_warning_board(const Grid& g, SlowOrderSpan& s) {
  if (s.start < 24 || g[s.start - 24].kind != kWarningBoard) return;
  s.warning = s.start - 24;
  s.first_approach = *s.warning;
  for (size_t k = *s.warning; k-- > 0 && *s.warning - k <= 5;) {
    if (g[k].kind != kSlowOrderApproach) continue;
    ++s.approach_cells;
    s.first_approach = k;
  }
}

std::vector<SlowOrderSpan> slow_orders(const Grid& g) {
  std::vector<SlowOrderSpan> out;
  for (size_t i = 0; i < g.size(); ++i) {
    if (g[i].kind != kSlowOrderStart) continue;
    SlowOrderSpan s;
    s.start = s.end = i;
    s.start_cell = g[i];
    for (size_t k = i + 1; k < g.size() && g[k].kind != kSlowOrderStart; ++k) {
      if (g[k].kind != kSlowOrderEnd) continue;
      s.end = k;
      break;
    }
    find_warning_board(g, s);
    out.push_back(s);
  }
  return out;
}

// Marks the cells of each slow order in `owned`.
void mark_owned(const std::vector<SlowOrderSpan>& spans, std::vector<char>& owned) {
  auto mark = [&](size_t k) {
    if (k < owned.size()) owned[k] = 1;
  };
  for (const SlowOrderSpan& s : spans) {
    mark(s.start);
    mark(s.end);
    if (!s.warning) continue;
    for (size_t k = s.first_approach; k <= *s.warning; ++k) mark(k);
  }
}

// What a slow order is, field by field, in the order a difference lists them.
std::vector<std::pair<std::string, std::string>> slow_order_fields(const SlowOrderSpan& s) {
  const SlowOrderCell<const TrackCell> cell(s.start_cell);
  return {
      {"start", cell_metres(s.start)},
      {"length", std::to_string((s.end - s.start) * 50) + " m"},
      {slot_name(kSlowOrderSlotNames, "param1"), shown(cell.speed)},
      {slot_name(kSlowOrderSlotNames, "param2"), shown(cell.value_d_v)},
      {slot_name(kSlowOrderSlotNames, "param3"), shown(cell.value_f_tt)},
      {"warning board", s.warning ? cell_metres(*s.warning) : "none"},
      {"approach cells", shown(s.approach_cells)},
  };
}

std::string slow_order_place(const SlowOrderSpan& s) {
  return "slow order at " + cell_metres(s.start);
}

// "37350-37550 m, speed 50": a slow order that one side alone has.
std::string slow_order_summary(const SlowOrderSpan& s) {
  return std::to_string(s.start * 50) + "-" + cell_metres(s.end) + ", " +
         slot_name(kSlowOrderSlotNames, "param1") + " " +
         shown(SlowOrderCell<const TrackCell>(s.start_cell).speed);
}

void diff_slow_order(const SlowOrderSpan& a, const SlowOrderSpan& b, std::vector<Difference>& out) {
  const auto fa = slow_order_fields(a);
  const auto fb = slow_order_fields(b);
  // A moved warning board follows the start: only its coming or going is news.
  const bool both_boards = a.warning.has_value() == b.warning.has_value();
  for (size_t k = 0; k < fa.size(); ++k) {
    if (fa[k].second == fb[k].second) continue;
    if (both_boards && fa[k].first == "warning board") continue;
    out.push_back(Difference{slow_order_place(a), fa[k].first, fa[k].second, fb[k].second});
  }
}

// Pairs the slow orders of the two sides: the same start cell first; then, between two such
// pairs, the others in order, as moved; what is left was added or removed.
void diff_slow_orders(const std::vector<SlowOrderSpan>& a, const std::vector<SlowOrderSpan>& b,
                      std::vector<Difference>& out) {
  size_t i = 0, j = 0;
  std::vector<const SlowOrderSpan*> gap_a, gap_b;
  auto close_gap = [&] {
    const size_t paired = std::min(gap_a.size(), gap_b.size());
    for (size_t k = 0; k < paired; ++k) diff_slow_order(*gap_a[k], *gap_b[k], out);
    for (size_t k = paired; k < gap_a.size(); ++k) {
      out.push_back(Difference{slow_order_place(*gap_a[k]),
                               "removed (" + slow_order_summary(*gap_a[k]) + ")", "", ""});
    }
    for (size_t k = paired; k < gap_b.size(); ++k) {
      out.push_back(Difference{slow_order_place(*gap_b[k]),
                               "added (" + slow_order_summary(*gap_b[k]) + ")", "", ""});
    }
    gap_a.clear();
    gap_b.clear();
  };
  while (i < a.size() || j < b.size()) {
    if (i < a.size() && j < b.size() && a[i].start == b[j].start) {
      close_gap();
      diff_slow_order(a[i++], b[j++], out);
    } else if (j == b.size() || (i < a.size() && a[i].start < b[j].start)) {
      gap_a.push_back(&a[i++]);
    } else {
      gap_b.push_back(&b[j++]);
    }
  }
  close_gap();
}

// What each side's records say of its cells: the stations of `a` by their records in `b`.
struct SideRecords {
  const std::vector<int>* station_in_b = nullptr;
  const std::array<ScenarioItem, kItemCount>* items = nullptr;
};

// What a cell holds: its kind and slots, a stop mark's station by its record in `b`, an
// indication board's text in place of the number of its record.
struct Contents {
  TrackCell slots;
  std::string text;
};

Contents contents_of(const TrackCell& c, const SideRecords& side) {
  Contents out;
  out.slots.kind = c.kind;
  out.slots.param1 = c.param1;
  out.slots.param2 = c.param2;
  out.slots.param3 = c.param3;
  out.slots.param4 = c.param4;
  out.slots.signal_time = c.signal_time;
  const auto record = static_cast<size_t>(c.param1);
  const bool names_record = c.param1 > 0 && c.param1 < kItemCount;
  if (c.kind == kStopMark && side.station_in_b != nullptr && names_record &&
      (*side.station_in_b)[record] >= 0) {
    out.slots.param1 = static_cast<int16_t>((*side.station_in_b)[record]);
  }
  if (c.kind == kIndicationBoard && side.items != nullptr && names_record) {
    out.slots.param1 = 0;
    out.text = (*side.items)[record].text;
  }
  return out;
}

template <class Layout, class Struct>
bool all_same(const Layout& layout, const Struct& a, const Struct& b) {
  bool same = true;
  for_each_field(layout, [&]<class M>(const FieldLayout<Struct, M>& f) {
    same = same && a.*f.member == b.*f.member;
  });
  return same;
}

bool same_slots(const TrackCell& a, const TrackCell& b) {
  return a.kind == b.kind && a.param1 == b.param1 && a.param2 == b.param2 && a.param3 == b.param3 &&
         a.param4 == b.param4 && a.signal_time == b.signal_time;
}

bool same_contents(const Contents& a, const Contents& b) {
  return same_slots(a.slots, b.slots) && a.text == b.text;
}

// A cell whose thing went (vacated) or came (occupied): the other side's cell there is free.
struct Change {
  size_t cell;
  Contents contents;
};

// The farthest a thing can move and still read as moved: 2000 m.
constexpr size_t kMoveCells = 40;

struct Moves {
  std::vector<std::pair<size_t, size_t>> pairs;  // (cell in a, cell in b)
  std::vector<char> moved;                       // the cells of either side of a pair
};

// Pairs each vacated cell with the nearest occupied one that holds the same, within kMoveCells.
Moves find_moves(const std::vector<Change>& vacated, const std::vector<Change>& occupied,
                 size_t cells) {
  Moves m;
  m.moved.assign(cells, 0);
  std::vector<char> taken(occupied.size(), 0);
  size_t low = 0;
  for (const Change& v : vacated) {
    while (low < occupied.size() && occupied[low].cell + kMoveCells < v.cell) ++low;
    std::optional<size_t> best;
    for (size_t k = low; k < occupied.size() && occupied[k].cell <= v.cell + kMoveCells; ++k) {
      if (taken[k] || !same_contents(v.contents, occupied[k].contents)) continue;
      const auto distance = [&](size_t n) {
        return occupied[n].cell > v.cell ? occupied[n].cell - v.cell : v.cell - occupied[n].cell;
      };
      if (!best || distance(k) < distance(*best)) best = k;
    }
    if (!best) continue;
    taken[*best] = 1;
    m.pairs.emplace_back(v.cell, occupied[*best].cell);
    m.moved[v.cell] = m.moved[occupied[*best].cell] = 1;
  }
  return m;
}

std::string cell_place(size_t i) {
  return "cell " + std::to_string(i) + " (" + cell_metres(i) + ")";
}

// A slot of a speed board: the pair of fields of the [cartelli] record it packs, sides s and d.
// A stop mark on a board's cell keeps the board's slots after its own (param2 to param4).
struct BoardSlot {
  const char* slot;
  int16_t TrackCell::*member;
  SidePair (*written)(int16_t);
  const char* fields[2];
  const char* unit;
};
constexpr BoardSlot kBoardSlots[] = {
    {"param1", &TrackCell::param1, board_speeds, {"vas", "vad"}, " km/h"},
    {"param2", &TrackCell::param2, board_speeds, {"vbs", "vbd"}, " km/h"},
    {"param3", &TrackCell::param3, board_speeds, {"vcs", "vcd"}, " km/h"},
    {"param4", &TrackCell::param4, board_stripes, {"strisces", "strisced"}, ""},
};

// The board slot that slot k (0 to 3: param1 to param4) of cell `i` of `kind` is, if any. Cell 1
// holds the stamp there, whatever its kind.
const BoardSlot* board_slot(size_t i, uint8_t kind, size_t k) {
  if (i == 1) return nullptr;
  if (kind == kSpeedBoard || (kind == kStopMark && k > 0)) return &kBoardSlots[k];
  return nullptr;
}

// The two fields of a board slot as written: "vas 140 km/h".
std::array<std::string, 2> board_values(const BoardSlot& b, int16_t stored) {
  const SidePair v = b.written(stored);
  return {std::to_string(v.s) + b.unit, std::to_string(v.d) + b.unit};
}

// "signal (digits_1 21, type_code 7)": a cell's kind and the slots it fills, by their names; a
// speed board's by the fields of its record, as written ("vas 140 km/h"), unless `stored`.
std::string cell_contents(size_t i, const TrackCell& c, const SideRecords& side,
                          bool stored = false) {
  std::string out = cell_kind_name(c.kind);
  const Contents contents = contents_of(c, side);
  if (!contents.text.empty()) return out + " " + shown(contents.text);
  const std::span<const SlotName> names = cell_slot_names(i, c.kind);
  const int16_t values[] = {c.param1, c.param2, c.param3, c.param4};
  const char* slots[] = {"param1", "param2", "param3", "param4"};
  std::vector<std::string> filled;
  for (size_t k = 0; k < 4; ++k) {
    if (values[k] == 0) continue;
    const BoardSlot* board = stored ? nullptr : board_slot(i, c.kind, k);
    if (board == nullptr) {
      filled.push_back(std::string(slot_name(names, slots[k])) + " " + std::to_string(values[k]));
      continue;
    }
    const SidePair v = board->written(values[k]);
    const auto written = board_values(*board, values[k]);
    if (v.s != 0) filled.push_back(std::string(board->fields[0]) + " " + written[0]);
    if (v.d != 0) filled.push_back(std::string(board->fields[1]) + " " + written[1]);
  }
  std::string listed;
  for (const std::string& f : filled) listed += (listed.empty() ? "" : ", ") + f;
  return listed.empty() ? out : out + " (" + listed + ")";
}

// The board slots of cell `i` that differ, each field of the record that differs in it as one
// line; the slots told are made the same in `after`.
void diff_board_slots(size_t i, const TrackCell& a, TrackCell& after, const std::string& where,
                      std::vector<Difference>& out) {
  for (size_t k = 0; k < 4; ++k) {
    const BoardSlot* board = board_slot(i, a.kind, k);
    if (board == nullptr || a.*board->member == after.*board->member) continue;
    const int16_t before_stored = a.*board->member;
    const int16_t after_stored = after.*board->member;
    const auto before = board_values(*board, before_stored);
    const auto now = board_values(*board, after_stored);
    const char* stored_name = slot_name(cell_slot_names(i, kSpeedBoard), board->slot);
    for (size_t side = 0; side < 2; ++side) {
      if (before[side] == now[side]) continue;
      out.push_back(Difference{where, board->fields[side], before[side], now[side], stored_name,
                               shown(before_stored), shown(after_stored)});
    }
    after.*board->member = a.*board->member;
  }
}

// Makes the kind and slots of `after` those of `before`: told elsewhere, or the same.
void same_kind_and_slots(const TrackCell& before, TrackCell& after) {
  after.kind = before.kind;
  after.param1 = before.param1;
  after.param2 = before.param2;
  after.param3 = before.param3;
  after.param4 = before.param4;
  after.signal_time = before.signal_time;
}

// A tunnel type as written: "2", or for cells a tunnel with markers covers "12 (type 2 with
// markers)", what the cells hold beside the type that lays it.
std::string tunnel_type_text(uint8_t stored, bool markers) {
  const int64_t written = written_tunnel_type(stored, markers);
  if (written == stored) return std::to_string(written);
  return std::to_string(written) + " (type " + std::to_string(stored) +
         (markers ? " with markers)" : " without markers)");
}

std::string speed_limit_text(uint8_t stored, bool) {
  return std::to_string(speed_limit_kmh(stored)) + " km/h";
}

// A gradient in per mille, as the `pendenza` record gives it: the cells store gradient + 100.
std::string gradient_text(uint8_t stored, bool) {
  return std::to_string(written_gradient(stored)) + " ‰";
}

std::string stored_text(uint8_t stored, bool) {
  return std::to_string(stored);
}

// The fields a stretch of track keeps from cell to cell, set by records that cover many cells;
// they are told as runs of cells (diff_track_fields), not cell by cell, as the author writes
// them. Where that is not what the cells store, the stored value goes beside it, under the name
// of the field that stores it (`stored_name`, nullptr when the value is the stored one).
struct TrackField {
  const char* name;
  uint8_t TrackCell::*member;
  std::string (*written)(uint8_t stored, bool markers);
  const char* stored_name;
};
constexpr std::array<TrackField, 4> kTrackFields = {
    {{"tunnel_type", &TrackCell::tunnel_type, tunnel_type_text, "tunnel_type"},
     {"speed_limit", &TrackCell::speed_limit, speed_limit_text, "speed_limit"},
     {"gradient", &TrackCell::gradient_code, gradient_text, "gradient_code"},
     {"adhesion", &TrackCell::adhesion, stored_text, nullptr}}};

// A track field's value in one cell: what it stores, and for a tunnel type whether the cell's
// tunnel lays markers, which the type written says too.
struct TrackValue {
  uint8_t stored = 0;
  bool markers = false;
  bool operator==(const TrackValue&) const = default;
};

// Whether one tunnel with markers over the run gives its markers: one on each fourth cell that
// no other record took.
bool one_tunnel_lays_markers(const Grid& g, const TunnelRun& run) {
  for (int64_t c = run.first + 3; c <= run.last; c += 4) {
    if (g[static_cast<size_t>(c)].kind == kFree) return false;
  }
  return true;
}

// The cells of the tunnels that lay markers. A run of one type whose markers one tunnel does not
// give (a tunnel with markers and one without, of one stored type, end to end) has them from
// each chain of markers four cells apart (other records' cells may stand between), from three
// cells before its first marker to its last, as the decompile writes it back.
std::vector<char> marker_tunnel_cells(const Grid& g) {
  std::vector<char> cells(g.size(), 0);
  auto mark = [&cells](int64_t first, int64_t last) {
    for (int64_t c = std::max<int64_t>(first, 0); c <= last; ++c) cells[static_cast<size_t>(c)] = 1;
  };
  const auto size = static_cast<int64_t>(g.size());
  for (const TunnelRun& run : tunnel_runs(g)) {
    if (!run.markers) continue;
    if (one_tunnel_lays_markers(g, run)) {
      mark(run.first, run.last);
      continue;
    }
    for (int64_t c = run.first; c <= run.last; ++c) {
      if (g[static_cast<size_t>(c)].kind != kTunnelMarker || cells[static_cast<size_t>(c)]) continue;
      int64_t last = c;
      for (int64_t k = c + 4; k < size && g[static_cast<size_t>(k)].kind != kFree; k += 4) {
        if (g[static_cast<size_t>(k)].kind == kTunnelMarker) last = k;
      }
      mark(c - 3, last);
    }
  }
  return cells;
}

// A cell whose kind changed: one line with what each side holds, and when a side shows a speed
// board's fields as written, the kind and slots as stored beside them.
Difference kind_change(size_t i, const TrackCell& a, const TrackCell& b,
                       const SideRecords (&sides)[2]) {
  Difference d{cell_place(i), "", cell_contents(i, a, sides[0]), cell_contents(i, b, sides[1])};
  const std::string before = cell_contents(i, a, sides[0], true);
  const std::string after = cell_contents(i, b, sides[1], true);
  if (before != d.before || after != d.after) {
    d.stored_field = "kind";
    d.stored_before = before;
    d.stored_after = after;
  }
  return d;
}

// What is told of one cell apart from its own fields.
struct CellTold {
  bool slots = false;          // its kind and slots: by a slow order or a move
  bool approach_code = false;  // its approach code: by the signal or stop mark it belongs to
};

// One cell's differences. A change of kind is one line with what each side holds; else each
// slot by the name its kind gives it (an indication board's text rather than its record's
// number), then the fields after the slots.
void diff_cell(size_t i, const TrackCell& a, const TrackCell& b, CellTold told,
               const SideRecords (&sides)[2], std::vector<Difference>& out) {
  TrackCell after = b;
  const Contents ca = contents_of(a, sides[0]);
  const Contents cb = contents_of(b, sides[1]);
  std::string where = cell_place(i);
  if (!told.slots && a.kind != b.kind) {
    out.push_back(kind_change(i, a, b, sides));
  } else if (a.kind == b.kind && a.kind != kFree) {
    where += ' ';
    where += cell_kind_name(a.kind);
  }
  if (told.slots || same_contents(ca, cb) || a.kind != b.kind) same_kind_and_slots(a, after);
  if (!told.slots && a.kind == kIndicationBoard && b.kind == kIndicationBoard) {
    if (ca.text != cb.text)
      out.push_back(Difference{where, "text", shown(ca.text), shown(cb.text)});
    after.param1 = a.param1;
  }
  if (!told.slots && a.kind == b.kind) diff_board_slots(i, a, after, where, out);
  if (told.approach_code) after.approach_code = a.approach_code;
  for (const TrackField& f : kTrackFields) after.*f.member = a.*f.member;  // told as runs
  diff_fields(kCellLayout, a, after, where, out, cell_slot_names(i, a.kind));
}

// A run of cells in which one track field changed from the same value to the same value: one
// line, "cells 1780-1927 (89000-96350 m): adhesion 70 → 71", in the place of its first cell.
struct TrackRun {
  size_t line = 0;  // its line in `out`
  size_t first = 0;
  size_t last = 0;
  TrackValue before;
  TrackValue after;
};

// Which cells of each side lie in a tunnel that lays markers.
struct MarkerCells {
  const std::vector<char>& a;
  const std::vector<char>& b;
};

void close_run(std::optional<TrackRun>& run, std::vector<Difference>& out) {
  if (run && run->last > run->first) {
    out[run->line].where = "cells " + std::to_string(run->first) + "-" +
                           std::to_string(run->last) + " (" + std::to_string(run->first * 50) +
                           "-" + cell_metres(run->last) + ")";
  }
  run.reset();
}

// The track fields of cell `i`, each extending its run or starting one. A lone cell keeps its
// own line, `where` naming its kind as its other fields' lines do.
void diff_track_fields(size_t i, const TrackCell& a, const TrackCell& b, MarkerCells markers,
                       const std::string& where,
                       std::array<std::optional<TrackRun>, kTrackFields.size()>& runs,
                       std::vector<Difference>& out) {
  for (size_t k = 0; k < kTrackFields.size(); ++k) {
    const TrackField& f = kTrackFields[k];
    std::optional<TrackRun>& run = runs[k];
    const bool tunnel = f.member == &TrackCell::tunnel_type;
    const TrackValue before{a.*f.member, tunnel && markers.a[i] != 0};
    const TrackValue after{b.*f.member, tunnel && markers.b[i] != 0};
    if (run && (run->last + 1 != i || run->before != before || run->after != after)) {
      close_run(run, out);
    }
    if (before == after) continue;
    if (run) {
      run->last = i;
      continue;
    }
    run = TrackRun{out.size(), i, i, before, after};
    Difference d{where, f.name, f.written(before.stored, before.markers),
                 f.written(after.stored, after.markers)};
    if (f.stored_name != nullptr) {
      d.stored_field = f.stored_name;
      d.stored_before = shown(before.stored);
      d.stored_after = shown(after.stored);
    }
    out.push_back(std::move(d));
  }
}

// The cells whose approach code follows from a signal or a stop mark that differs: the eight
// before it.
std::vector<char> approach_cells_told(const Grid& a, const Grid& b, size_t common) {
  std::vector<char> told(common, 0);
  for (size_t i = 0; i < common; ++i) {
    const bool holder = a[i].kind == kSignal || a[i].kind == kStopMark || b[i].kind == kSignal ||
                        b[i].kind == kStopMark;
    if (!holder || same_slots(a[i], b[i])) continue;
    for (size_t k = i >= 8 ? i - 8 : 0; k < i; ++k) told[k] = 1;
  }
  return told;
}

}  // namespace

std::vector<char> board_texts_named(const Grid& grid) {
  std::vector<char> named(kItemCount, 0);
  for (const TrackCell& c : grid) {
    if (c.kind == kIndicationBoard && c.param1 > 0 && c.param1 < kItemCount) {
      named[static_cast<size_t>(c.param1)] = 1;
    }
  }
  return named;
}

void diff_grid(const Grid& a, const Grid& b, const CellRecords& records,
               std::vector<Difference>& out) {
  if (a.size() != b.size()) {
    out.push_back(Difference{"grid", "cells", shown(a.size()), shown(b.size())});
  }
  const size_t common = std::min(a.size(), b.size());
  const std::vector<int>* stations = records.station_in_b.empty() ? nullptr : &records.station_in_b;
  const SideRecords sides[2] = {{stations, records.a}, {nullptr, records.b}};
  const std::vector<SlowOrderSpan> orders_a = slow_orders(a);
  const std::vector<SlowOrderSpan> orders_b = slow_orders(b);
  diff_slow_orders(orders_a, orders_b, out);
  std::vector<char> owned(common, 0);
  mark_owned(orders_a, owned);
  mark_owned(orders_b, owned);
  auto told_by_slow_order = [&](size_t i) {
    return owned[i] && (a[i].kind == kFree || is_slow_order_kind(a[i].kind)) &&
           (b[i].kind == kFree || is_slow_order_kind(b[i].kind));
  };
  std::vector<Change> vacated, occupied;
  for (size_t i = 0; i < common; ++i) {
    if (a[i].kind == b[i].kind || told_by_slow_order(i)) continue;
    if (b[i].kind == kFree) vacated.push_back({i, contents_of(a[i], sides[0])});
    if (a[i].kind == kFree) occupied.push_back({i, contents_of(b[i], sides[1])});
  }
  const Moves moves = find_moves(vacated, occupied, common);
  const std::vector<char> approach_told = approach_cells_told(a, b, common);
  auto move = moves.pairs.begin();  // in the order of the cells they leave
  std::array<std::optional<TrackRun>, kTrackFields.size()> runs;
  const std::vector<char> markers_a = marker_tunnel_cells(a);
  const std::vector<char> markers_b = marker_tunnel_cells(b);
  for (size_t i = 0; i < common; ++i) {
    const bool names_a_record = a[i].kind == kStopMark || a[i].kind == kIndicationBoard;
    // A tunnel that gained or lost its markers changed the type written for every cell of it.
    const bool same_markers = markers_a[i] == markers_b[i];
    if (all_same(kCellLayout, a[i], b[i]) && !names_a_record && same_markers) {
      for (std::optional<TrackRun>& run : runs) close_run(run, out);
      continue;
    }
    if (move != moves.pairs.end() && move->first == i) {
      out.push_back(Difference{cell_place(i),
                               cell_kind_name(a[i].kind) + " moved to " + cell_place(move->second),
                               "", ""});
      ++move;
    }
    const CellTold told{told_by_slow_order(i) || moves.moved[i] != 0, approach_told[i] != 0};
    diff_cell(i, a[i], b[i], told, sides, out);
    const bool same_kind = a[i].kind == b[i].kind && a[i].kind != kFree;
    diff_track_fields(i, a[i], b[i], MarkerCells{markers_a, markers_b},
                      same_kind ? cell_place(i) + " " + cell_kind_name(a[i].kind) : cell_place(i),
                      runs, out);
  }
  for (std::optional<TrackRun>& run : runs) close_run(run, out);
}

}  // namespace compactor
