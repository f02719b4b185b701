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

void place_signal(Model& m, int32_t posizione, int32_t& sx, int32_t& s1, int32_t& s2, int32_t& s3,
                  int32_t& rapp, int32_t& dx, int32_t& d1, int32_t& d2, int32_t& d3,
                  int32_t& tempo) {
  int64_t i = cell_after(posizione);
  if (!in_grid(m, i)) {  // the reader's range check keeps the signal's cell inside the grid
    m.error_code = kErrBeyondGrid;
    return;
  }
  TrackCell& cell = m.track_grid[i];
  if (!is_free(cell)) {
    m.error_code = kErrSignalOccupied;
    return;
  }
  cell.kind = kSignal;
  cell.param4 = low16(int64_t{rapp} * 10 + int64_t{sx} * 3 + dx);
  cell.param1 = low16(int64_t{s1} * 10 + d1);
  cell.param2 = low16(int64_t{s2} * 10 + d2);
  cell.param3 = low16(int64_t{s3} * 10 + d3);
  if (tempo >= 1 && tempo <= 100) tempo = 101;
  cell.signal_time = sx == 2 ? low8(tempo) : 0;
  for (int k = 1; k <= 4; ++k) {
    int64_t c = i - 2 * k;
    if (!in_grid(m, c)) continue;  // approach cells before the start of the line are left out
    m.track_grid[c].approach_code = low8((int64_t{sx} * 3 + dx) * 10 + k);
  }
}

void place_slow_order(Model& m, int32_t x, int32_t& v, int32_t& l, int32_t& f_tt, int32_t f_ta,
                        int32_t& d_v) {
  int64_t start = cell_after(x);
  int64_t end = cell_after(to_int32(int64_t{x} + l));
  bool board = x > 1500;
  int64_t warning = board ? cell_after(to_int32(int64_t{x} - 1200)) : 0;
  if (!in_grid(m, start) || !in_grid(m, end) || !in_grid(m, warning)) {
    m.error_code = kErrBeyondGrid;  // the reader's range check keeps slow orders in the grid
    return;
  }
  if (!board) f_ta = 0;
  if (board && !is_free(m.track_grid[warning])) {
    m.error_code = kErrWarningBoardOccupied;
    return;
  }
  if (!is_free(m.track_grid[start])) {
    m.error_code = kErrStartOccupied;
    return;
  }
  if (!is_free(m.track_grid[end])) {
    m.error_code = kErrEndOccupied;
    return;
  }
  m.track_grid[end].kind = kSlowOrderEnd;
  if (d_v != 0) m.track_grid[end].param2 = low16(d_v);
  m.track_grid[start].kind = kSlowOrderStart;
  if (d_v != 0) m.track_grid[start].param2 = low16(d_v);
  if (board) {
    m.track_grid[warning].kind = kWarningBoard;
    if (d_v != 0) m.track_grid[warning].param2 = low16(d_v);
    m.track_grid[warning].param1 = low16(v);
  }
  m.track_grid[start].param1 = low16(v);
  m.track_grid[end].param1 = low16(v);
  m.track_grid[start].param3 = low16(f_tt);
  m.track_grid[end].param3 = low16(f_tt);
  int64_t h = cell_at(int64_t{x} - 1200);
  if (f_ta != 0) {
    for (int j = 0; j < 4; ++j) {
      if (!in_grid(m, h - j) || !is_free(m.track_grid[h - j])) {
        m.error_code = kErrApproachOccupied;
        return;
      }
    }
    for (int j = 0; j < 4; ++j) {
      TrackCell& cell = m.track_grid[h - j];
      cell.kind = kSlowOrderApproach;
      cell.param1 = static_cast<int16_t>(j + 1);
      if (d_v != 0) cell.param2 = static_cast<int16_t>(j + 1);
    }
  }
}

bool place_code_point(Model& m, int32_t posizione, int32_t codice) {
  int64_t q = cell_at(posizione);
  if (!in_grid(m, q)) {  // the reader's range check keeps code points inside the grid
    m.error_code = kErrBeyondGrid;
    return false;
  }
  TrackCell& cell = m.track_grid[q];
  if (!is_free(cell)) {
    m.error_code = kErrCodePointOccupied;
    return false;
  }
  if (codice > 0) {
    cell.kind = kCodePoint;
    cell.param1 = low16(codice);
  } else {
    cell.kind = kCodePointNoCode;
  }
  return true;
}

bool place_station(Model& m, int32_t n, int32_t lunghezza) {
  ScenarioItem& r = m.items[n];
  int64_t p = r.value3;
  int32_t t = r.kind;
  int64_t len = lunghezza;
  if (t == 5 || t == 6) {
    r.value2 = to_int32(p + 150);
    r.value1 = to_int32(p - len);
    r.flag3 = 0;
  } else if (t == 7 || t == 8) {
    r.value1 = to_int32(p - len);
    r.value2 = to_int32(p + len);
    r.flag3 = 0;
  } else {
    r.value1 = to_int32(p - len / 2);
    r.value2 = to_int32(p + len / 2 + (r.flag3 != 0 ? 50 : 0));
  }
  if (lunghezza < 600) r.flag4 = 0;
  if (n == 1) {
    r.flag3 = 0;
    r.flag4 = 0;
  }
  if (t < 25) {
    // Marks must stay inside the grid: a stop mark beyond the last cell is refused.
    if (cell_before(r.value2) > m.grid_last) {
      m.error_code = kErrBeyondGrid;
      m.error_position = r.value3;
      return false;
    }
    if (t != 5 && t != 6) {
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
  }
  if (n > 1 && int64_t{r.value1} - 350 < m.items[n - 1].value2) {
    m.error_code = kErrStationSpacing;
    m.error_position = r.value3;
    return false;
  }
  return true;
}

}  // namespace compactor
