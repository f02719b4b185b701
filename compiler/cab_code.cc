// The cab-code pass: code points in front of signals near warning boards and around slow orders.
#include <utility>

#include "compiler/compile.h"
#include "model/errors.h"
#include "model/roles.h"

namespace compactor {

namespace {

void place_point(TrackCell& cell) {
  cell.kind = kCodePoint;
  CodePointCell(cell).code = kInsertedCode;
}

// The record of the slow order whose start (or, by_warning, warning board) is `cell`.
SourcePos slow_order_source(const Model& m, int64_t cell, bool by_warning) {
  for (const SlowOrderOrigin& o : m.slow_order_origins) {
    if ((by_warning ? o.warning_cell : o.start_cell) == cell) return o.source;
  }
  return SourcePos{};
}

// Records an error of the pass at `cell`, naming the slow order at `owner` (its start cell, or
// with by_warning its warning board's) whose cells it concerns. The pass goes on after it.
void record_walk_error(Model& m, int32_t code, int64_t cell, int64_t owner, bool by_warning) {
  m.error_code = code;
  m.error_position = static_cast<int32_t>(cell * 50);
  m.error_source = slow_order_source(m, owner, by_warning);
  m.error_detail.clear();
  log_error(m);
}

// An existing point keeps the lower of the inserted code and its own.
int16_t lower_code(int16_t code) {
  return lower_of(TaggedValue::Integer(kInsertedCode), TaggedValue::Integer(code)).integer;
}

// Every signal in the 20 cells before a warning board gets a code point just in front of it.
void points_before_warning_board(Model& m, int32_t i) {
  auto& g = m.track_grid;
  for (int32_t j = 1; j <= 20; ++j) {
    if (i - j < 3) break;
    if (g[i - j].kind != kSignal) continue;
    TrackCell& near = g[i - j - 1];
    TrackCell& far = g[i - j - 2];
    if (is_free(near)) {
      place_point(near);
    } else if (is_free(far)) {
      place_point(far);
    } else if (near.kind == kCodePoint) {
      CodePointCell(near).code = lower_code(CodePointCell(near).code);
    } else if (far.kind == kCodePoint) {
      CodePointCell(far).code = lower_code(CodePointCell(far).code);
    } else {
      record_walk_error(m, kErrNoRoomBeforeSignal, i - j, i, true);
    }
  }
}

// One point in each of the three windows before a slow-order start.
void points_before_start(Model& m, int32_t i) {
  static const int kWindows[3][3] = {{5, 6, 7}, {11, 12, 13}, {18, 19, 20}};
  for (const auto& window : kWindows) {
    if (i <= window[2]) continue;
    bool placed = false;
    for (int back : window) {
      if (is_free(m.track_grid[i - back])) {
        place_point(m.track_grid[i - back]);
        placed = true;
        break;
      }
    }
    if (!placed) record_walk_error(m, kErrNoRoomBeforeStart, i, i, false);
  }
}

// The first slow-order end after cell i, or -1 when the grid ends first.
int64_t find_end(const Model& m, int64_t i) {
  for (int64_t k = i + 1; k <= m.grid_last; ++k) {
    if (m.track_grid[k].kind == kSlowOrderEnd) return k;
  }
  return -1;
}

// Inside a slow order below 110 km/h a point every 8 cells. Returns the end cell reached,
// or -1 when the grid ends before an end cell.
int64_t points_inside(Model& m, int32_t i) {
  auto& g = m.track_grid;
  int64_t step = 0;
  int64_t k = i;
  for (;;) {
    ++k;
    ++step;
    if (k > m.grid_last) return -1;
    if (step == 8) {
      if (is_free(g[k])) {
        place_point(g[k]);
        step = 0;
      } else if (is_free(g[k - 1])) {
        place_point(g[k - 1]);
        step = 1;
      } else if (k + 1 <= m.grid_last && is_free(g[k + 1])) {
        place_point(g[k + 1]);
        step = -1;
      } else {
        record_walk_error(m, kErrNoRoomInSlowOrder, k, i, false);
      }
    }
    if (g[k].kind == kSlowOrderEnd) return k;
  }
}

// A point in front of the first signal within 13 cells from the end cell t.
void point_after(Model& m, int64_t t, int32_t start) {
  auto& g = m.track_grid;
  for (int64_t s = t; s <= t + 12 && s <= m.grid_last; ++s) {
    if (g[s].kind != kSignal) continue;
    int64_t c = s - 1;
    if (c == 0) return;
    if (is_free(g[c])) {
      place_point(g[c]);
    } else if (c - 1 >= 0 && is_free(g[c - 1])) {
      place_point(g[c - 1]);
    } else {
      record_walk_error(m, kErrNoRoomInSlowOrder, t, start, false);
    }
    return;
  }
}

}  // namespace

void insert_cab_code_points(Model& m) {
  const int32_t last = m.grid_last - 2;
  for (int32_t i = 1; i <= last; ++i) {
    uint8_t kind = m.track_grid[i].kind;
    if (kind == kWarningBoard) {
      points_before_warning_board(m, i);
    } else if (kind == kSlowOrderStart) {
      points_before_start(m, i);
      const int16_t speed = SlowOrderCell(std::as_const(m.track_grid[i])).speed;
      int64_t t = speed < 110 ? points_inside(m, i) : find_end(m, i);
      if (t >= 0) point_after(m, t, i);
    }
  }
}

}  // namespace compactor
