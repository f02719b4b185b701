// What the train source's records do to the grid: signals, slow orders, code points, stations.
#include <utility>

#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "model/errors.h"
#include "model/roles.h"

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
  SignalCell signal(cell);
  signal.type_code = low16(int64_t{sig.relation} * 10 + type_code);
  signal.digits_1 = low16(int64_t{sig.digits_s[0]} * 10 + sig.digits_d[0]);
  signal.digits_2 = low16(int64_t{sig.digits_s[1]} * 10 + sig.digits_d[1]);
  signal.digits_3 = low16(int64_t{sig.digits_s[2]} * 10 + sig.digits_d[2]);
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

// Marks a slow-order cell of `kind` with d_v when it is not 0.
void mark_slow_order_cell(TrackCell& cell, uint8_t kind, const SlowOrder& so) {
  cell.kind = kind;
  if (so.approach_value != 0) SlowOrderCell(cell).value_d_v = low16(so.approach_value);
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
    ApproachCell approach(cell);
    approach.number = static_cast<int16_t>(j + 1);
    if (so.approach_value != 0) approach.repeated_number = static_cast<int16_t>(j + 1);
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
    SlowOrderCell(m.track_grid[warning]).speed = low16(so.speed);
  }
  SlowOrderCell start_cell(m.track_grid[start]);
  SlowOrderCell end_cell(m.track_grid[end]);
  start_cell.speed = low16(so.speed);
  end_cell.speed = low16(so.speed);
  start_cell.value_f_tt = low16(so.param3_value);
  end_cell.value_f_tt = low16(so.param3_value);
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
    CodePointCell(cell).code = low16(code);
  } else {
    cell.kind = kCodePointNoCode;
  }
  return true;
}

namespace {

// The station's extent from its position, kind and length; false when a bound does not fit 32
// bits (the bounds before it are kept).
bool set_station_extent(StationRecord<ScenarioItem>& st, int64_t length) {
  const int64_t p = st.position;
  const int32_t kind = st.kind;
  if (kind == 5 || kind == 6) {
    if (!assign_int32(st.extent_end, p + 150) || !assign_int32(st.extent_start, p - length)) {
      return false;
    }
    st.flag3 = 0;
  } else if (kind == 7 || kind == 8) {
    if (!assign_int32(st.extent_start, p - length) || !assign_int32(st.extent_end, p + length)) {
      return false;
    }
    st.flag3 = 0;
  } else {
    if (!assign_int32(st.extent_start, p - length / 2) ||
        !assign_int32(st.extent_end, p + length / 2 + (st.flag3 != 0 ? 50 : 0))) {
      return false;
    }
  }
  return true;
}

// The stop mark in the cell before the end of the extent, and for most kinds the approach codes
// 81 to 84 in the four cells before it.
bool place_stop_mark(Model& m, int32_t n) {
  const StationRecord st = station_record(std::as_const(m), n);
  // Marks must stay inside the grid: a stop mark beyond the last cell is refused.
  if (cell_before(st.extent_end) > m.grid_last) {
    m.error_code = kErrBeyondGrid;
    m.error_position = st.position;
    return false;
  }
  if (st.kind != 5 && st.kind != 6) {
    for (int k = 1; k <= 4; ++k) {
      int64_t y = round_even(static_cast<double>(st.extent_end) / 50.0 - k - 1);
      if (y > 1) m.track_grid[y].approach_code = static_cast<uint8_t>(80 + k);
    }
  }
  int64_t y = cell_before(st.extent_end);
  if (y <= 1) {
    m.error_code = kErrStopMark;
    return false;
  }
  m.track_grid[y].kind = kStopMark;
  StopMarkCell(m.track_grid[y]).station_record = static_cast<int16_t>(n);
  return true;
}

// What error 22 says of station `n`: that it lies before the previous one, or how close after it,
// with the names of both.
std::string spacing_detail(Model& m, int32_t n) {
  StationRecord st = station_record(m, n);
  StationRecord previous = station_record(m, n - 1);
  const std::string names = "station \"" + std::string(st.name) + "\" ";
  const std::string other = "the previous one, \"" + std::string(previous.name) + "\" at " +
                            std::to_string(int32_t{previous.position}) + " m";
  if (st.position == previous.position) {
    return names + "stands at the same position as " + other +
           ": stations come in the order of their positions";
  }
  if (st.position < previous.position) {
    return names + "lies " + std::to_string(int64_t{previous.position} - st.position) +
           " m before " + other + ": stations come in the order of their positions";
  }
  const int64_t gap = int64_t{st.extent_start} - previous.extent_end;
  return names + "is too close after " + other + ": its stop area starts " +
         (gap >= 0 ? "only " + std::to_string(gap) + " m after"
                   : std::to_string(-gap) + " m before") +
         " the end of the previous one's, and must start at least 350 m after it";
}

}  // namespace

bool place_station(Model& m, int32_t n, int32_t length) {
  StationRecord st = station_record(m, n);
  if (!set_station_extent(st, length)) {
    return record_read_failure(m, "the station's extent does not fit 32 bits");
  }
  if (length < 600) st.flag4 = 0;
  if (n == kFirstStationRecord) {
    st.flag3 = 0;
    st.flag4 = 0;
  }
  // Kinds from 25 on have no stop mark.
  if (st.kind < 25 && !place_stop_mark(m, n)) return false;
  if (n > kFirstStationRecord &&
      int64_t{st.extent_start} - 350 < station_record(m, n - 1).extent_end) {
    m.error_code = kErrStationSpacing;
    m.error_position = st.position;
    m.error_detail = spacing_detail(m, n);
    return false;
  }
  return true;
}

}  // namespace compactor
