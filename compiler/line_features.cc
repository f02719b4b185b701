// What the line source's records do to the model: chainage ordering, gradients, the plan of the
// line, tunnels, speed boards and indication boards.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "model/errors.h"
#include "model/roles.h"
#include "syntax/lexer.h"

namespace compactor {

bool fits_int32(int64_t v) {
  return v >= INT32_MIN && v <= INT32_MAX;
}

bool assign_int32(int32_t& out, int64_t v) {
  if (!fits_int32(v)) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool record_read_failure(Model& m, const char* what) {
  m.error_code = kErrReadFailure;
  m.error_detail = what;
  return false;
}

namespace {

// The key, chainage and direction of a chainage record as read.
struct ChainageValues {
  int32_t key = 0;
  int32_t chainage = 0;
  int32_t direction = 0;
};

ChainageValues chainage_values(const Model& m, int n) {
  ChainageRecord record = chainage_record(m, n);
  return {record.key, record.chainage, record.direction};
}

// The order of the three chainage records: the greatest key first, then the greater of the
// other two, and of two equal keys uno before due before tre. Empty when no key is the
// greatest.
std::vector<const ChainageValues*> order_by_keys(const ChainageValues& tre,
                                                 const ChainageValues& due,
                                                 const ChainageValues& uno) {
  std::vector<const ChainageValues*> order = {&uno, &due, &tre};
  std::stable_sort(
      order.begin(), order.end(),
      [](const ChainageValues* a, const ChainageValues* b) { return a->key > b->key; });
  if (order[0]->key == order[1]->key) order.clear();
  return order;
}

// With keys that add up to 0 the order is fixed: the first record of uno, due, tre whose
// chainage is above 0 decides it. Empty when none is.
std::vector<const ChainageValues*> order_by_chainage(const ChainageValues& tre,
                                                     const ChainageValues& due,
                                                     const ChainageValues& uno) {
  if (uno.chainage > 0) return {&uno, &due, &tre};
  if (due.chainage > 0) return {&due, &tre, &uno};
  if (tre.chainage > 0) return {&tre, &due, &uno};
  return {};
}

}  // namespace

bool order_chainage_records(Model& m) {
  // As read: tre in the first chainage record, due in the second, uno in the last.
  const ChainageValues tre = chainage_values(m, kFirstChainageRecord);
  const ChainageValues due = chainage_values(m, kFirstChainageRecord + 1);
  const ChainageValues uno = chainage_values(m, kLastChainageRecord);
  const int64_t key_sum = int64_t{tre.key} + due.key + uno.key;
  // The sum is 32-bit arithmetic on source values, added left to right.
  if (!fits_int32(int64_t{tre.key} + due.key) || !fits_int32(key_sum)) {
    return record_read_failure(m, "the sum of the chainage keys does not fit 32 bits");
  }
  const std::vector<const ChainageValues*> order =
      key_sum != 0 ? order_by_keys(tre, due, uno) : order_by_chainage(tre, due, uno);
  const ChainageValues cleared;
  for (int i = 0; i < 3; ++i) {
    const ChainageValues& from = order.empty() ? cleared : *order[static_cast<size_t>(i)];
    ChainageRecord record = chainage_record(m, kFirstChainageRecord + i);
    record.key = from.key;
    record.chainage = from.chainage;
    record.direction = from.direction;
  }
  for (int n = kFirstChainageRecord; n <= kLastChainageRecord; ++n) {
    ChainageRecord record = chainage_record(m, n);
    if (record.direction == 1 && !assign_int32(record.chainage, int64_t{record.chainage} + 100)) {
      return record_read_failure(m, "a chainage plus 100 m does not fit 32 bits");
    }
  }
  return true;
}

namespace {

void write_gradient(Model& m, LineFeatureState& st) {
  if (st.fill_cell >= 0 && st.fill_cell <= m.grid_last) {
    m.track_grid[st.fill_cell].gradient_code =
        static_cast<uint8_t>((int64_t{st.prev_gradient} + 100) & 0xFF);
  }
  ++st.fill_cell;
}

}  // namespace

void place_gradient(Model& m, LineFeatureState& st, int32_t position, int32_t gradient) {
  int64_t n = cell_at(position);
  if (n > 0) {
    do {
      write_gradient(m, st);
    } while (st.fill_cell < n);
  }
  st.prev_gradient = gradient;
}

void complete_gradients(Model& m, LineFeatureState& st) {
  do {
    write_gradient(m, st);
  } while (st.fill_cell < int64_t{m.grid_last} - 2);
}

double curve_curvature(std::string_view keyword) {
  static const double kByClass[6] = {0.0001, 0.0002, 0.0004, 0.001, 0.002, 0.003};
  double k = 0.0;
  for (int c = 1; c <= 6; ++c) {
    if (keyword.find(static_cast<char>('0' + c)) != std::string::npos) {
      k = kByClass[c - 1];
      break;
    }
  }
  if (k != 0.0 && contains_any_case(keyword, "s")) k = k * -1.0;
  return k;
}

namespace {

constexpr int32_t kMaxPlanPoint = 1000000;

// Builds the plan from point st.next_point up to point `to`, each point from the two before it:
// a straight step when k is 0, else a step turned by k. For a curve record (`checked`) it
// returns false with error 103 where a step-by-step walk would stop: at a point beyond the plan
// (tested before the step) or once point 1,000,000 is done (tested after it); the points
// computed until then stay. Unchecked, `to` must lie inside the plan.
bool build_plan(Model& mo, LineFeatureState& st, int32_t to, double k, bool curved, bool checked) {
  if (st.next_point > to) return true;
  const int32_t last = checked ? std::min({to, mo.plan_last, kMaxPlanPoint}) : to;
  if (st.next_point <= last) {
    // Points are appended in order: point st.next_point is the next one of each column.
    assert(mo.plan.x.appended() == static_cast<size_t>(st.next_point));
    mo.plan.append_steps(static_cast<size_t>(last - st.next_point + 1), k, curved);
    st.next_point = last + 1;
  }
  if (checked && (st.next_point > kMaxPlanPoint || st.next_point <= to)) {
    mo.error_code = kErrCurve;
    return false;
  }
  return true;
}

}  // namespace

bool place_curve(Model& m, LineFeatureState& st, double k, int32_t start, int32_t length) {
  if (!build_plan(m, st, start, k, false, true)) return false;
  int32_t end = 0;
  if (!assign_int32(end, int64_t{start} + length)) {
    return record_read_failure(m, "the curve's end, start + length, does not fit 32 bits");
  }
  return build_plan(m, st, end, k, true, true);
}

void complete_plan(Model& m, LineFeatureState& st) {
  // Straight up to the last point but two, with no 1,000,000 limit.
  build_plan(m, st, m.plan_last - 2, 0.0, false, false);
}

bool place_tunnel(Model& m, int32_t start, int32_t end, int32_t type) {
  if (m.tunnels.size() >= kMaxTunnels) {
    m.error_code = kErrTooManyTunnels;
    return false;
  }
  int64_t first = cell_at(start);
  int64_t last = cell_before(end);
  if (first <= last && (first < 0 || last > m.grid_last)) {  // tunnels stay inside the grid
    m.error_code = kErrBeyondGrid;
    return false;
  }
  // A type above 10 also sets a marker in every fourth free cell.
  bool marker = false;
  if (type > 10) {
    type -= 10;
    marker = true;
  }
  m.tunnels.push_back(Tunnel{start, end});
  if (m.tunnels.size() > 1) {
    // A tunnel that begins within 150 m of the end of the tunnel record before it is of type 3.
    int64_t gap = int64_t{start} - m.tunnels[m.tunnels.size() - 2].end;
    if (!fits_int32(gap)) {
      return record_read_failure(m, "the gap to the tunnel before it does not fit 32 bits");
    }
    if (gap <= 150) type = 3;
  }
  int64_t count = 0;
  for (int64_t c = first; c <= last; ++c) {
    ++count;
    TrackCell& cell = m.track_grid[c];
    cell.tunnel_type = static_cast<uint8_t>(type & 0xFF);
    if (marker && count % 4 == 0 && cell.kind == kFree) cell.kind = kTunnelMarker;
  }
  return true;
}

namespace {

// One of a board's three speeds for both sides in one 16-bit number, (s / 5) × 100 + d / 5;
// false when it does not fit.
bool packed_speed(int32_t speed_s, int32_t speed_d, int16_t& out) {
  int64_t v = round_even(static_cast<double>(speed_d) / 5.0 + static_cast<double>(speed_s) * 20.0);
  if (v < INT16_MIN || v > INT16_MAX) return false;
  out = static_cast<int16_t>(v);
  return true;
}

}  // namespace

bool place_speed_boards(Model& m, int32_t position, const SpeedBoards& b) {
  int64_t c = cell_after(position);
  if (c < 0 || c > m.grid_last) {  // the reader's position test keeps boards inside the grid
    m.error_code = kErrBeyondGrid;
    return false;
  }
  TrackCell& cell = m.track_grid[c];
  if (!is_free(cell)) {
    m.error_code = kErrSpeedBoardOccupied;
    return false;
  }
  cell.kind = kSpeedBoard;
  SpeedBoardCell board(cell);
  const BoardSide& s = b.side_s;
  const BoardSide& d = b.side_d;
  if (!packed_speed(s.speeds[0], d.speeds[0], board.speeds_a) ||
      !packed_speed(s.speeds[1], d.speeds[1], board.speeds_b) ||
      !packed_speed(s.speeds[2], d.speeds[2], board.speeds_c)) {
    return record_read_failure(m, "a speed of the board does not fit 16 bits (vXd / 5 + vXs * 20)");
  }
  int16_t stripes_s = static_cast<int16_t>(s.stripes & 0xFFFF);
  int16_t stripes_d = static_cast<int16_t>(d.stripes & 0xFFFF);
  board.stripes = static_cast<int16_t>(static_cast<uint16_t>(stripes_s * 10 + stripes_d));
  return true;
}

bool place_board(Model& m, LineFeatureState& st, int32_t position, const std::string& text) {
  int64_t c = cell_after(position);
  if (c < 0 || c > m.grid_last) {
    m.error_code = kErrBeyondGrid;
    return false;
  }
  TrackCell& cell = m.track_grid[c];
  if (!is_free(cell)) {
    m.error_code = kErrBoardOccupied;
    return false;
  }
  if (st.board_counter < 1) {
    m.error_code = kErrNoBoardSlot;
    return false;
  }
  cell.kind = kIndicationBoard;
  IndicationBoardCell(cell).text_record = static_cast<int16_t>(st.board_counter);
  BoardTextRecord(m.record(st.board_counter)).text = text;
  --st.board_counter;
  return true;
}

}  // namespace compactor
