// What the line source's records do to the model: chainage ordering, gradients, the plan of the
// line, tunnels, speed boards and indication boards.
#include <algorithm>
#include <cmath>

#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "model/errors.h"
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

bool order_chainage_records(Model& m) {
  ScenarioItem t = m.record(kFirstChainageRecord), d = m.record(kFirstChainageRecord + 1),
               u = m.record(kLastChainageRecord);
  auto assign = [&m](const ScenarioItem& a, const ScenarioItem& b, const ScenarioItem& c) {
    const ScenarioItem* order[3] = {&a, &b, &c};
    ScenarioItem copies[3] = {*order[0], *order[1], *order[2]};
    for (int i = 0; i < 3; ++i) {
      ScenarioItem& r = m.record(kFirstChainageRecord + i);
      r.value1 = copies[i].value1;
      r.value2 = copies[i].value2;
      r.value3 = copies[i].value3;
    }
  };
  auto zero_all = [&m] {
    for (int i = kFirstChainageRecord; i <= kLastChainageRecord; ++i) {
      m.record(i).value1 = m.record(i).value2 = m.record(i).value3 = 0;
    }
  };
  int64_t kt = t.value1, kd = d.value1, ku = u.value1;
  // The sum is 32-bit arithmetic on source values, added left to right.
  if (!fits_int32(kt + kd) || !fits_int32(kt + kd + ku)) {
    return record_read_failure(m, "the sum of the chainage keys does not fit 32 bits");
  }
  if (kt + kd + ku != 0) {
    if (kt > kd && kt > ku) {
      if (kd > ku)
        assign(t, d, u);
      else if (ku > kd)
        assign(t, u, d);
      else
        assign(t, u, d);
    } else if (kd > kt && kd > ku) {
      if (kt > ku)
        assign(d, t, u);
      else if (ku > kt)
        assign(d, u, t);
      else
        assign(d, u, t);
    } else if (ku > kt && ku > kd) {
      if (kt > kd)
        assign(u, t, d);
      else if (kd > kt)
        assign(u, d, t);
      else
        assign(u, d, t);
    } else {
      zero_all();
    }
  } else if (u.value2 > 0) {
    assign(u, d, t);
  } else if (d.value2 > 0) {
    assign(d, t, u);
  } else if (t.value2 > 0) {
    assign(t, d, u);
  } else {
    zero_all();
  }
  for (int i = kFirstChainageRecord; i <= kLastChainageRecord; ++i) {
    ScenarioItem& r = m.record(i);
    if (r.value3 == 1 && !assign_int32(r.value2, int64_t{r.value2} + 100)) {
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

double plan_number(const PlanColumn& column, int32_t point) {
  return column.at(static_cast<size_t>(point)).number();
}

// Builds the plan from point st.next_point up to point `to`, each point from the two before it:
// a straight step when k is 0, else a step turned by k. For a curve record (`checked`) it
// returns false with error 103 where a step-by-step walk would stop: at a point beyond the plan
// (tested before the step) or once point 1,000,000 is done (tested after it); the points
// computed until then stay. Unchecked, `to` must lie inside the plan.
bool build_plan(Model& mo, LineFeatureState& st, int32_t to, double k, bool curved, bool checked) {
  if (st.next_point > to) return true;
  const int32_t last = checked ? std::min({to, mo.plan_last, kMaxPlanPoint}) : to;
  if (st.next_point <= last) {
    // The last two points are kept at hand: (x1, y1) is point m - 1 and (x2, y2) point m - 2.
    const int32_t first = st.next_point;
    double x1 = plan_number(mo.plan.x, first - 1), y1 = plan_number(mo.plan.y, first - 1);
    double x2 = plan_number(mo.plan.x, first - 2), y2 = plan_number(mo.plan.y, first - 2);
    // Points are appended in order: point `first` is the next one of each column.
    const auto count = static_cast<size_t>(last - first + 1);
    PlanColumn::DoubleWriter xs = mo.plan.x.append_doubles(count);
    PlanColumn::DoubleWriter ys = mo.plan.y.append_doubles(count);
    for (int32_t m = first; m <= last; ++m) {
      double dx = x1 - x2;
      double dy = y1 - y2;
      double x;
      double y;
      if (curved) {
        x = x1 + (dx + k * dy);
        y = y1 + (dy - k * dx);
      } else {
        x = x1 + dx;
        y = y1 + dy;
      }
      xs.put(x);
      ys.put(y);
      x2 = x1;
      y2 = y1;
      x1 = x;
      y1 = y;
    }
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

// One of a board's three speeds for both sides in one 16-bit number; false when it does not fit.
bool packed_speed(int32_t side_s, int32_t side_d, int16_t& out) {
  int64_t v = round_even(static_cast<double>(side_d) / 5.0 + static_cast<double>(side_s) * 20.0);
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
  if (!packed_speed(b.side_s[0], b.side_d[0], cell.param1) ||
      !packed_speed(b.side_s[1], b.side_d[1], cell.param2) ||
      !packed_speed(b.side_s[2], b.side_d[2], cell.param3)) {
    return record_read_failure(m, "a speed of the board does not fit 16 bits (vXd / 5 + vXs * 20)");
  }
  int16_t s = static_cast<int16_t>(b.stripes_s & 0xFFFF);
  int16_t d = static_cast<int16_t>(b.stripes_d & 0xFFFF);
  cell.param4 = static_cast<int16_t>(static_cast<uint16_t>(s * 10 + d));
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
  cell.param1 = static_cast<int16_t>(st.board_counter);
  m.record(st.board_counter).text = text;
  --st.board_counter;
  return true;
}

}  // namespace compactor
