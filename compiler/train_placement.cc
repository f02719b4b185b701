// What the train source's records do to the grid: signals, slow orders, code points, stations.
#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "model/errors.h"

namespace compactor {

namespace {

bool in_grid(const Model& m, int64_t c) {
  return c >= 0 && c <= m.grid_last;
}

int16_t low16(int64_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
}
uint8_t low8(int64_t v) {
  return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

bool place_signal(Model& m, int32_t position, const SignalRecord& sig) {
  int64_t i = cell_after(position);
  if (!in_grid(m, i)) {  // the reader's range check keeps the signal's cell inside the grid
    m.error_code = kErrBeyondGrid;
    return false;
  }
  TrackCell& cell = m.track_grid[i];
  if (!is_free(cell)) {
    m.error_code = kErrSignalOccupied;
    return false;
  }
  const int64_t type_code = int64_t{sig.type_s} * 3 + sig.type_d;
  cell.kind = kSignal;
  cell.param4 = low16(int64_t{sig.relation} * 10 + type_code);
  cell.param1 = low16(int64_t{sig.digits_s[0]} * 10 + sig.digits_d[0]);
  cell.param2 = low16(int64_t{sig.digits_s[1]} * 10 + sig.digits_d[1]);
  cell.param3 = low16(int64_t{sig.digits_s[2]} * 10 + sig.digits_d[2]);
  int32_t time = sig.time >= 1 && sig.time <= 100 ? 101 : sig.time;
  cell.signal_time = sig.type_s == 2 ? low8(time) : 0;
  for (int k = 1; k <= 4; ++k) {
    int64_t c = i - 2 * k;
    if (!in_grid(m, c)) continue;  // approach cells before the start of the line are left out
    m.track_grid[c].approach_code = low8(type_code * 10 + k);
  }
  return true;
}

namespace {

// Marks a slow-order cell of `kind` with the speed and, when there is one, the approach value.
void mark_slow_order_cell(TrackCell& cell, uint8_t kind, const SlowOrder& so) {
  cell.kind = kind;
  if (so.approach_value != 0) cell.param2 = low16(so.approach_value);
}

// The four approach cells before the warning board, numbered 1 to 4 away from it.
bool place_approach_cells(Model& m, const SlowOrder& so) {
  int64_t h = cell_at(int64_t{so.start} - 1200);
  for (int j = 0; j < 4; ++j) {
    if (!in_grid(m, h - j) || !is_free(m.track_grid[h - j])) {
      m.error_code = kErrApproachOccupied;
      return false;
    }
  }
  for (int j = 0; j < 4; ++j) {
    TrackCell& cell = m.track_grid[h - j];
    cell.kind = kSlowOrderApproach;
    cell.param1 = static_cast<int16_t>(j + 1);
    if (so.approach_value != 0) cell.param2 = static_cast<int16_t>(j + 1);
  }
  return true;
}

// The cells of a slow order must all be free; records the error of the first that is not.
bool slow_order_cells_free(Model& m, bool board, int64_t warning, int64_t start, int64_t end) {
  int32_t error = 0;
  if (board && !is_free(m.track_grid[warning])) {
    error = kErrWarningBoardOccupied;
  } else if (!is_free(m.track_grid[start])) {
    error = kErrStartOccupied;
  } else if (!is_free(m.track_grid[end])) {
    error = kErrEndOccupied;
  }
  if (error != 0) m.error_code = error;
  return error == 0;
}

}  // namespace

bool place_slow_order(Model& m, const SlowOrder& so) {
  int64_t start = cell_after(so.start);
  if (!fits_int32(int64_t{so.start} + so.length)) {
    return record_read_failure(m, "the end of the slow order, x + l, does not fit 32 bits");
  }
  int64_t end = cell_after(int64_t{so.start} + so.length);
  // Only a slow order that starts beyond 1500 m has a warning board, and so approach cells.
  bool board = so.start > 1500;
  if (board && !fits_int32(int64_t{so.start} - 1200)) {
    return record_read_failure(m, "the warning board's place, x - 1200, does not fit 32 bits");
  }
  int64_t warning = board ? cell_after(int64_t{so.start} - 1200) : 0;
  if (!in_grid(m, start) || !in_grid(m, end) || !in_grid(m, warning)) {
    m.error_code = kErrBeyondGrid;  // the reader's range check keeps slow orders in the grid
    return false;
  }
  if (!slow_order_cells_free(m, board, warning, start, end)) return false;
  mark_slow_order_cell(m.track_grid[end], kSlowOrderEnd, so);
  mark_slow_order_cell(m.track_grid[start], kSlowOrderStart, so);
  if (board) {
    mark_slow_order_cell(m.track_grid[warning], kWarningBoard, so);
    m.track_grid[warning].param1 = low16(so.speed);
  }
  m.track_grid[start].param1 = low16(so.speed);
  m.track_grid[end].param1 = low16(so.speed);
  m.track_grid[start].param3 = low16(so.param3_value);
  m.track_grid[end].param3 = low16(so.param3_value);
  if (board && so.with_approach_cells != 0) return place_approach_cells(m, so);
  return true;
}

bool place_code_point(Model& m, int32_t position, int32_t code) {
  int64_t q = cell_at(position);
  if (!in_grid(m, q)) {  // the reader's range check keeps code points inside the grid
    m.error_code = kErrBeyondGrid;
    return false;
  }
  TrackCell& cell = m.track_grid[q];
  if (!is_free(cell)) {
    m.error_code = kErrCodePointOccupied;
    return false;
  }
  if (code > 0) {
    cell.kind = kCodePoint;
    cell.param1 = low16(code);
  } else {
    cell.kind = kCodePointNoCode;
  }
  return true;
}

namespace {

// The station's extent, value1 to value2, from its position, kind and length; false when a
// bound does not fit 32 bits (the bounds before it are kept).
bool set_station_extent(ScenarioItem& r, int64_t length) {
  const int64_t p = r.value3;
  const int32_t t = r.kind;
  if (t == 5 || t == 6) {
    if (!assign_int32(r.value2, p + 150) || !assign_int32(r.value1, p - length)) return false;
    r.flag3 = 0;
  } else if (t == 7 || t == 8) {
    if (!assign_int32(r.value1, p - length) || !assign_int32(r.value2, p + length)) return false;
    r.flag3 = 0;
  } else {
    if (!assign_int32(r.value1, p - length / 2) ||
        !assign_int32(r.value2, p + length / 2 + (r.flag3 != 0 ? 50 : 0))) {
      return false;
    }
  }
  return true;
}

// The stop mark in the cell before the end of the extent, and for most kinds the approach codes
// 81 to 84 in the four cells before it.
bool place_stop_mark(Model& m, int32_t n) {
  ScenarioItem& r = m.record(n);
  // Marks must stay inside the grid: a stop mark beyond the last cell is refused.
  if (cell_before(r.value2) > m.grid_last) {
    m.error_code = kErrBeyondGrid;
    m.error_position = r.value3;
    return false;
  }
  if (r.kind != 5 && r.kind != 6) {
    for (int k = 1; k <= 4; ++k) {
      int64_t y = round_even(static_cast<double>(r.value2) / 50.0 - k - 1);
      if (y > 1) m.track_grid[y].approach_code = static_cast<uint8_t>(80 + k);
    }
  }
  int64_t y = cell_before(r.value2);
  if (y <= 1) {
    m.error_code = kErrStopMark;
    return false;
  }
  m.track_grid[y].kind = kStopMark;
  m.track_grid[y].param1 = static_cast<int16_t>(n);
  return true;
}

}  // namespace

bool place_station(Model& m, int32_t n, int32_t length) {
  ScenarioItem& r = m.record(n);
  if (!set_station_extent(r, length)) {
    return record_read_failure(m, "the station's extent does not fit 32 bits");
  }
  if (length < 600) r.flag4 = 0;
  if (n == kFirstStationRecord) {
    r.flag3 = 0;
    r.flag4 = 0;
  }
  // Kinds from 25 on have no stop mark.
  if (r.kind < 25 && !place_stop_mark(m, n)) return false;
  if (n > kFirstStationRecord && int64_t{r.value1} - 350 < m.record(n - 1).value2) {
    m.error_code = kErrStationSpacing;
    m.error_position = r.value3;
    return false;
  }
  return true;
}

}  // namespace compactor
