// The train source's records from the outputs: record 84 and 86 give the general section, the
// station records the stations, the grid's cells the profiles, slow orders, signals and code
// points.
#include <algorithm>
#include <functional>
#include <optional>
#include <queue>
#include <utility>

#include "compiler/cells.h"
#include "decompiler/recover.h"
#include "format/decode.h"
#include "model/roles.h"
#include "model/written_values.h"
#include "syntax/record_kinds.h"

namespace compactor {

namespace {

using K = KindId;

SourceSection general_section(const Model& m) {
  SourceSection s{"[generale]", {}};
  s.lines.push_back(line_of(K::kCoaches, {number(line_data(m).coaches)}));
  s.lines.push_back(line_of(K::kBrakedMass, {number(line_data(m).braked_mass)}));
  TrainIdentityRecord train = train_identity(m);
  s.lines.push_back(line_of(K::kSand, {number(train.sand)}));
  s.lines.push_back(line_of(K::kClock, {number(train.clock_hours), number(train.clock_minutes),
                                        number(train.clock_seconds)}));
  return s;
}

SourceSection profile_section(const Model& m, const char* header, KindId kind,
                              int64_t (*value_of)(const TrackCell&)) {
  SourceSection s{header, {}};
  profile_lines(m, kind, 0, value_of, s.lines);
  return s;
}

// Whole seconds as hours, minutes and seconds, the minutes and seconds from 0 to 59.
std::vector<std::string> time_values(int64_t t) {
  int64_t hours = t >= 0 ? t / 3600 : -((-t + 3599) / 3600);
  int64_t rest = t - hours * 3600;
  return {number(hours), number(rest / 60), number(rest % 60)};
}

// The platform length from the extent, and flag3 as written: an ordinary station whose extent
// ends 50 m further had it set, even where the first station's record clears it (any other value
// stays as the record keeps it).
SourceLine station_line(const Model& m, int n) {
  const StationRecord st = station_record(m, n);
  const int64_t p = st.position;
  const bool ordinary = !(st.kind >= 5 && st.kind <= 8);
  int64_t length = ordinary ? 2 * (p - st.extent_start) : p - st.extent_start;
  int flag3 = st.flag3;
  if (ordinary && flag3 == 0 && int64_t{st.extent_end} - (p + length / 2) == 50) flag3 = 1;
  std::vector<std::string> v = {number(p),        number(st.kind), number(length),  number(st.mark),
                                number(st.flag4), number(flag3),   number(st.num1), number(st.num2),
                                number(st.flag1), number(st.num3), number(st.num4), number(st.num5),
                                number(st.flag2)};
  for (std::string& part : time_values(st.scheduled_time)) v.push_back(std::move(part));
  v.push_back(st.name);
  return line_of(K::kStation, std::move(v));
}

SourceSection station_section(const Model& m) {
  SourceSection s{"[stazioni]", {}};
  for (int n : station_indexes(m.items)) s.lines.push_back(station_line(m, n));
  return s;
}

// Whether a start cell and an end cell hold the same speed, f_tt and d_v, as the two cells of
// one slow order do.
bool same_slow_order(const Model& m, int64_t start, int64_t end) {
  const SlowOrderCell a(m.track_grid[static_cast<size_t>(start)]);
  const SlowOrderCell b(m.track_grid[static_cast<size_t>(end)]);
  return a.speed == b.speed && a.value_f_tt == b.value_f_tt && a.value_d_v == b.value_d_v;
}

// The end cell of each start cell: every end cell, from the first on, goes to the last start
// before it that holds the same values and has none yet, so slow orders may lie inside one
// another; a start left without one is a slow order of length 0 (its start cell is marked over
// its end cell).
std::vector<int64_t> slow_order_ends(const Model& m, const std::vector<int64_t>& starts,
                                     const std::vector<int64_t>& ends) {
  std::vector<int64_t> end_of(starts);
  std::vector<bool> matched(starts.size(), false);
  for (int64_t e : ends) {
    for (size_t i = starts.size(); i-- > 0;) {
      if (starts[i] < e && !matched[i] && same_slow_order(m, starts[i], e)) {
        matched[i] = true;
        end_of[i] = e;
        break;
      }
    }
  }
  return end_of;
}

// Slow orders from their start and end cells; approach cells 25 cells before the start tell
// f_ta.
SourceSection slow_order_section(const Model& m) {
  SourceSection s{"[rallentamenti]", {}};
  std::vector<int64_t> starts, ends;
  for (int64_t c = 0; c <= m.grid_last; ++c) {
    uint8_t kind = m.track_grid[static_cast<size_t>(c)].kind;
    if (kind == kSlowOrderStart) starts.push_back(c);
    if (kind == kSlowOrderEnd) ends.push_back(c);
  }
  const std::vector<int64_t> end_cells = slow_order_ends(m, starts, ends);
  for (size_t i = 0; i < starts.size(); ++i) {
    const int64_t c = starts[i];
    const SlowOrderCell cell(m.track_grid[static_cast<size_t>(c)]);
    const int64_t end = end_cells[i];
    const int64_t approach = c - 25;
    const bool with_approach =
        approach >= 0 && m.track_grid[static_cast<size_t>(approach)].kind == kSlowOrderApproach;
    s.lines.push_back(
        line_of(K::kSlowOrder,
                {number((c - 1) * 50), number(cell.speed), number((end - c) * 50),
                 number(cell.value_f_tt), number(with_approach ? 1 : 0), number(cell.value_d_v)}));
  }
  return s;
}

bool is_signal(const Model& m, int64_t c) {
  return c >= 0 && c <= m.grid_last && m.track_grid[static_cast<size_t>(c)].kind == kSignal;
}

// Whether another signal than the one at cell c writes the approach code of cell `approach`:
// any other, or with `later_only` one further on.
bool overwritten(const Model& m, int64_t c, int64_t approach, bool later_only) {
  for (int64_t k = 1; k <= 4; ++k) {
    const int64_t other = approach + 2 * k;
    if (other != c && (other > c || !later_only) && is_signal(m, other)) return true;
  }
  return false;
}

// The approach codes the stations' stop marks write, by cell: 81 to 84 in the four cells before
// each stop mark, from the last station that writes there; 0 where none does. The approach cells
// of every signal are looked up in it.
struct SignalGrid {
  const Model& m;
  std::vector<uint8_t> station_codes;
};

SignalGrid signal_grid(const Model& m) {
  SignalGrid g{m, std::vector<uint8_t>(m.track_grid.size(), 0)};
  for (int n : station_indexes(m.items)) {
    const StationRecord st = station_record(m, n);
    if (st.kind >= 25 || st.kind == 5 || st.kind == 6) continue;
    for (int64_t k = 1; k <= 4; ++k) {
      const int64_t y = round_even(static_cast<double>(st.extent_end) / 50.0 - k - 1);
      if (y > 1 && y <= m.grid_last) g.station_codes[static_cast<size_t>(y)] = 80 + k;
    }
  }
  return g;
}

// Whether the approach code of cell x may be a station's rather than a signal's.
bool station_code_kept(const SignalGrid& g, int64_t x) {
  const uint8_t code = g.station_codes[static_cast<size_t>(x)];
  return code != 0 && code == g.m.track_grid[static_cast<size_t>(x)].approach_code;
}

// The side types' sum 3 × sx + dx as an approach cell k of the signal keeps it, low8(sum × 10 +
// k): known modulo 128 from the first of the four cells that no other signal writes, else from
// the first that no signal further on writes over, leaving out those that hold the code a
// station writes there; nullopt when there is none inside the grid.
std::optional<int64_t> approach_types(const SignalGrid& g, int64_t c) {
  const Model& m = g.m;
  for (int pass = 0; pass < 8; ++pass) {
    const int64_t k = 1 + pass % 4;
    const int64_t approach = c - 2 * k;
    if (approach < 0 || approach > m.grid_last || overwritten(m, c, approach, pass >= 4) ||
        station_code_kept(g, approach)) {
      continue;
    }
    const int64_t code = m.track_grid[static_cast<size_t>(approach)].approach_code;
    if ((code - k) % 2 != 0) return std::nullopt;
    // sum × 5 ≡ (code - k) / 2 (mod 128), and 77 × 5 ≡ 1 (mod 128).
    return ((((code - k) / 2) * 77) % 128 + 128) % 128;
  }
  return std::nullopt;
}

// The relation digit and the types' sum from the type code, low16(relation × 10 + sum), and the
// sum the approach cells give.
std::pair<int64_t, int64_t> relation_and_types(const SignalGrid& g, int64_t c, int64_t type_code) {
  std::optional<int64_t> types = approach_types(g, c);
  if (!types) return {type_code >= 6 ? (type_code - 6) / 10 : 0, 0};
  for (int64_t sum = *types; sum < *types + 128 * 5; sum += 128) {
    int64_t rest = ((type_code - sum) % 65536 + 65536) % 65536;
    if (rest % 10 == 0) return {rest / 10, sum};
  }
  return {0, *types};
}

// A signal with sx = 2 (the only type that keeps a time): the type code and the approach cells
// give the relation digit and dx.
SourceLine signal_line(const SignalGrid& g, int64_t c, const TrackCell& cell) {
  const SignalCell signal(cell);
  auto [relation, types] = relation_and_types(g, c, signal.type_code);
  if (!approach_types(g, c)) types = int64_t{signal.type_code} - relation * 10;
  const int64_t type_d = types - 6;
  std::vector<std::string> v = {number((c - 1) * 50), "2"};
  const int16_t digits[3] = {signal.digits_1, signal.digits_2, signal.digits_3};
  int64_t side_d[3];
  for (int i = 0; i < 3; ++i) {
    int64_t d = digits[i];
    int64_t high = d >= 0 ? d / 10 : 0;
    v.push_back(number(high));
    side_d[i] = d - high * 10;
  }
  v.push_back(number(relation));
  v.push_back(number(type_d));
  for (int64_t d : side_d) v.push_back(number(d));
  // A time of 1 to 100 becomes 101: one of those is kept as its low 8 bits from above.
  const int64_t time = cell.signal_time;
  v.push_back(number(time >= 1 && time <= 100 ? time + 256 : time));
  return line_of(K::kSignal, std::move(v));
}

// Where two signals write the approach code of one cell, the one written later keeps it: for
// each such cell that exactly one of its writers' codes matches, that one goes after the others.
std::vector<std::vector<size_t>> must_follow(const SignalGrid& g,
                                             const std::vector<int64_t>& cells) {
  const Model& m = g.m;
  std::vector<std::optional<int64_t>> types;
  for (int64_t c : cells) types.push_back(approach_types(g, c));
  std::vector<std::vector<size_t>> after(cells.size());  // after[i]: those that go before i
  for (size_t i = 0; i < cells.size(); ++i) {
    for (int64_t k = 1; k <= 4; ++k) {
      const int64_t x = cells[i] - 2 * k;
      if (x < 0 || !types[i]) continue;
      const int64_t code = m.track_grid[static_cast<size_t>(x)].approach_code;
      if (((*types[i] * 10 + k) & 0xFF) != code) continue;
      // The other writers stand 2 to 8 cells after x.
      const size_t from = std::upper_bound(cells.begin(), cells.end(), x) - cells.begin();
      for (size_t j = from; j < cells.size() && cells[j] <= x + 8; ++j) {
        const int64_t kj = (cells[j] - x) / 2;
        if (j == i || (cells[j] - x) % 2 != 0) continue;
        if (types[j] && ((*types[j] * 10 + kj) & 0xFF) == code) continue;
        after[i].push_back(j);
      }
    }
  }
  return after;
}

// The signals in the order of their cells, but for those the approach codes put later (`after`,
// from must_follow).
std::vector<size_t> writing_order(const std::vector<std::vector<size_t>>& after) {
  const size_t count = after.size();
  std::vector<std::vector<size_t>> before(count);  // before[j]: those that wait for j
  std::vector<size_t> waiting(count, 0);
  for (size_t i = 0; i < count; ++i) {
    for (size_t j : after[i]) before[j].push_back(i);
    waiting[i] = after[i].size();
  }
  std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>> ready;
  for (size_t i = 0; i < count; ++i) {
    if (waiting[i] == 0) ready.push(i);
  }
  std::vector<size_t> order;
  std::vector<bool> placed(count, false);
  while (!ready.empty()) {
    const size_t i = ready.top();
    ready.pop();
    placed[i] = true;
    order.push_back(i);
    for (size_t w : before[i]) {
      if (--waiting[w] == 0) ready.push(w);
    }
  }
  // Codes that contradict each other: the rest in the order of their cells.
  for (size_t i = 0; i < count; ++i) {
    if (!placed[i]) order.push_back(i);
  }
  return order;
}

// Whether the signal at cell c was placed before a station whose codes then covered one of its
// approach cells: that cell holds the station's code where the signal's own differs.
bool placed_before_station(const SignalGrid& g, int64_t c) {
  const Model& m = g.m;
  const std::optional<int64_t> types = approach_types(g, c);
  if (!types) return false;
  for (int64_t k = 1; k <= 4; ++k) {
    const int64_t x = c - 2 * k;
    if (x < 0 || x > m.grid_last || !station_code_kept(g, x)) continue;
    if (((*types * 10 + k) & 0xFF) != m.track_grid[static_cast<size_t>(x)].approach_code) {
      return true;
    }
  }
  return false;
}

// Those placed before a station and the signals they follow (`after`, from must_follow).
std::vector<bool> before_stations(const SignalGrid& g, const std::vector<int64_t>& cells,
                                  const std::vector<std::vector<size_t>>& after) {
  std::vector<bool> early(cells.size(), false);
  std::vector<size_t> to_mark;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (placed_before_station(g, cells[i])) to_mark.push_back(i);
  }
  while (!to_mark.empty()) {
    const size_t i = to_mark.back();
    to_mark.pop_back();
    if (early[i]) continue;
    early[i] = true;
    for (size_t j : after[i]) to_mark.push_back(j);
  }
  return early;
}

// The signals in their writing order, split in two: those written before the stations (the
// ones placed before a station, with the signals they follow), and the rest.
std::pair<SourceSection, SourceSection> signal_sections(const Model& m) {
  std::vector<int64_t> cells;
  for (int64_t c = 0; c <= m.grid_last; ++c) {
    if (is_signal(m, c)) cells.push_back(c);
  }
  const SignalGrid g = signal_grid(m);
  const std::vector<std::vector<size_t>> after = must_follow(g, cells);
  const std::vector<bool> early = before_stations(g, cells, after);
  std::pair<SourceSection, SourceSection> s{{"[segnali]", {}}, {"[segnali]", {}}};
  for (size_t i : writing_order(after)) {
    const int64_t c = cells[i];
    SourceSection& section = early[i] ? s.first : s.second;
    section.lines.push_back(signal_line(g, c, m.track_grid[static_cast<size_t>(c)]));
  }
  return s;
}

}  // namespace

std::vector<SourceSection> recover_train(DecodedOutputs& d) {
  const Model& m = d.m;
  std::vector<SourceSection> sections;
  sections.push_back(general_section(m));
  sections.push_back(profile_section(m, "[aderenze]", K::kAdhesion,
                                     [](const TrackCell& c) -> int64_t { return c.adhesion; }));
  sections.push_back(profile_section(
      m, "[vel_limite]", K::kSpeed,
      [](const TrackCell& c) -> int64_t { return speed_limit_kmh(c.speed_limit); }));
  auto [signals_before_stations, signals] = signal_sections(m);
  if (!signals_before_stations.lines.empty()) {
    sections.push_back(std::move(signals_before_stations));
  }
  sections.push_back(station_section(m));
  sections.push_back(slow_order_section(m));
  sections.push_back(std::move(signals));
  return sections;
}

namespace {

bool same_code_point(const TrackCell& a, const TrackCell& b) {
  return a.kind == b.kind && a.param1 == b.param1;
}

// Whether the compile put a code point where the outputs hold another cell or another code: the
// pass put its own there, which in the outputs a point the author wrote has moved on.
bool pass_point_moved(const std::vector<TrackCell>& wanted,
                      const std::vector<TrackCell>& compiled) {
  for (size_t c = 0; c < compiled.size(); ++c) {
    const TrackCell& cell = compiled[c];
    if (cell.kind != kCodePoint && cell.kind != kCodePointNoCode) continue;
    if (c >= wanted.size() || !same_code_point(wanted[c], cell)) return true;
  }
  return false;
}

// The record of the code point in cell `c`.
SourceLine code_point_line(size_t c, const TrackCell& cell) {
  int64_t code = cell.kind == kCodePointNoCode ? 0 : cell.param1;
  if (cell.kind == kCodePoint && code <= 0) code += 65536;  // its low 16 bits are stored
  return line_of(K::kCodePoint, {number(static_cast<int64_t>(c) * 50), number(code)});
}

}  // namespace

std::vector<SourceLine> certain_code_points(const std::vector<TrackCell>& wanted) {
  std::vector<SourceLine> lines;
  for (size_t c = 0; c < wanted.size(); ++c) {
    const TrackCell& cell = wanted[c];
    const bool pass_made = cell.kind == kCodePoint && cell.param1 == kInsertedCode;
    if ((cell.kind == kCodePoint || cell.kind == kCodePointNoCode) && !pass_made) {
      lines.push_back(code_point_line(c, cell));
    }
  }
  return lines;
}

std::vector<SourceLine> recover_code_points(const std::vector<TrackCell>& wanted,
                                            const std::vector<TrackCell>& compiled) {
  std::vector<SourceLine> lines;
  std::vector<SourceLine> pass_like;  // with the pass's own code, where a pass point has moved
  const bool moved = pass_point_moved(wanted, compiled);
  for (size_t c = 0; c < wanted.size(); ++c) {
    const TrackCell& cell = wanted[c];
    if (cell.kind != kCodePoint && cell.kind != kCodePointNoCode) continue;
    if (c < compiled.size() && same_code_point(compiled[c], cell)) {
      continue;  // the cab-code pass puts it there
    }
    SourceLine line = code_point_line(c, cell);
    const bool may_be_the_pass = moved && cell.kind == kCodePoint && cell.param1 == kInsertedCode;
    (may_be_the_pass ? pass_like : lines).push_back(std::move(line));
  }
  return lines.empty() ? pass_like : lines;
}

}  // namespace compactor
