// The readers of the train source's records.
#include "compiler/cells.h"
#include "compiler/reader.h"
#include "compiler/value_warnings.h"
#include "model/errors.h"
#include "model/roles.h"

namespace compactor {

namespace {

// The train's range test: a failed test ends the records as the end of the file would.
bool range_ok(ReaderContext& cx, int32_t p, int margin) {
  if (within_grid(p, margin, cx.m.grid_last)) return true;
  record_error(cx, kErrBeyondGrid, p);
  return false;
}

}  // namespace

// Writes the speed limit of cell i, stored as speed / 5; false when that does not fit a byte.
bool write_speed(Model& m, int32_t speed, int32_t i) {
  int64_t v = round_even(static_cast<double>(speed) / 5.0);
  if (v < 0 || v > 255) {
    return record_read_failure(m, "the speed does not fit a cell: speed / 5 must lie in 0 to 255");
  }
  if (i >= 0 && i <= m.grid_last) m.track_grid[i].speed_limit = static_cast<uint8_t>(v);
  return true;
}

// Writes the adhesion of cell i, its low 8 bits.
void write_adhesion(Model& m, int32_t adhesion, int32_t i) {
  if (i >= 0 && i <= m.grid_last) m.track_grid[i].adhesion = static_cast<uint8_t>(adhesion & 0xFF);
}

RecordStep read_braked_mass(ReaderContext& cx) {
  return read_field(cx, line_data(cx.m).braked_mass) ? RecordStep::kNext : RecordStep::kFailed;
}

RecordStep read_coaches(ReaderContext& cx) {
  return read_field(cx, line_data(cx.m).coaches) ? RecordStep::kNext : RecordStep::kFailed;
}

// The speed in force runs up to the cell of the new one, which takes over from there.
RecordStep read_speed(ReaderContext& cx) {
  int32_t p = 0;
  int32_t speed = 0;
  if (!read_field(cx, p) || !read_field(cx, speed)) return RecordStep::kFailed;
  const int64_t speed_at = cx.field_start;
  const int64_t speed_end = cx.field_end;
  if (!range_ok(cx, p, 100)) return RecordStep::kLeave;
  warn_off_grid(cx, "the speed change", p);
  warn_speed(cx, p, speed);
  TrainState& ts = cx.train;
  int64_t c = cell_at(p);
  if (c > 0) {
    while (ts.speed_fill < cx.m.grid_last) {
      if (!write_speed(cx.m, ts.speed, ts.speed_fill)) return speed_failure(cx, ts.speed);
      ++ts.speed_fill;
      if (ts.speed_fill >= c) break;
    }
  }
  ts.speed = speed;
  ts.speed_field = speed_at;
  ts.speed_field_end = speed_end;
  return RecordStep::kNext;
}

RecordStep read_adhesion(ReaderContext& cx) {
  int32_t p = 0;
  int32_t adhesion = 0;
  if (!read_field(cx, p) || !read_field(cx, adhesion)) return RecordStep::kFailed;
  if (!range_ok(cx, p, 100)) return RecordStep::kLeave;
  warn_off_grid(cx, "the adhesion change", p);
  warn_adhesion(cx, p, adhesion);
  TrainState& ts = cx.train;
  int64_t c = cell_at(p);
  if (c > 0) {
    do {
      write_adhesion(cx.m, ts.adhesion, ts.adhesion_fill);
      ++ts.adhesion_fill;
    } while (ts.adhesion_fill < c);
  }
  ts.adhesion = adhesion;
  return RecordStep::kNext;
}

RecordStep read_clock(ReaderContext& cx) {
  TrainIdentityRecord train = train_identity(cx.m);
  if (!read_field(cx, train.clock_hours) || !read_field(cx, train.clock_minutes) ||
      !read_field(cx, train.clock_seconds)) {
    return RecordStep::kFailed;
  }
  warn_clock(cx, train.clock_hours, train.clock_minutes, train.clock_seconds);
  return RecordStep::kNext;
}

RecordStep read_sand(ReaderContext& cx) {
  return read_field(cx, train_identity(cx.m).sand) ? RecordStep::kNext : RecordStep::kFailed;
}

RecordStep read_signal(ReaderContext& cx) {
  int32_t position = 0;
  SignalRecord sig;
  int32_t* values[] = {&sig.type_s,      &sig.digits_s[0], &sig.digits_s[1], &sig.digits_s[2],
                       &sig.relation,    &sig.type_d,      &sig.digits_d[0], &sig.digits_d[1],
                       &sig.digits_d[2], &sig.time};
  if (!read_field(cx, position)) return RecordStep::kFailed;
  for (int32_t* v : values) {
    if (!read_field(cx, *v)) return RecordStep::kFailed;
  }
  if (!range_ok(cx, position, 100)) return RecordStep::kLeave;
  warn_off_grid(cx, "the signal", position);
  warn_past_line_end(cx, "the signal", position);
  bool placed = place_signal(cx.m, position, sig);
  return after_placement(cx, placed, position);
}

RecordStep read_slow_order(ReaderContext& cx) {
  SlowOrder so;
  int32_t* values[] = {
      &so.start,         &so.speed, &so.length, &so.param3_value, &so.with_approach_cells,
      &so.approach_value};
  for (int32_t* v : values) {
    if (!read_field(cx, *v)) return RecordStep::kFailed;
  }
  if (!range_ok(cx, so.start, 100)) return RecordStep::kLeave;
  warn_off_grid(cx, "the slow order", so.start);
  warn_off_grid(cx, "the slow order's length", so.length);
  warn_past_line_end(cx, "the slow order", so.start);
  bool placed = place_slow_order(cx.m, so);
  if (placed) {
    int64_t warning = so.start > 1500 ? cell_after(int64_t{so.start} - 1200) : -1;
    cx.m.slow_order_origins.push_back(
        SlowOrderOrigin{cell_after(so.start), warning, cx.record_pos});
  }
  return after_placement(cx, placed, so.start);
}

RecordStep read_code_point(ReaderContext& cx) {
  int32_t p = 0;
  int32_t code = 0;
  if (!read_field(cx, p) || !read_field(cx, code)) return RecordStep::kFailed;
  if (!range_ok(cx, p, 100)) return RecordStep::kLeave;
  warn_off_grid(cx, "the code point", p);
  warn_past_line_end(cx, "the code point", p);
  if (!place_code_point(cx.m, p, code)) return placement_stopped(cx, p);
  return RecordStep::kNext;
}

namespace {

// The station's values after its length, up to its name, in the order they stand.
bool read_station_values(ReaderContext& cx, StationRecord<ScenarioItem>& st) {
  int64_t hours = 0;
  int64_t minutes = 0;
  int64_t seconds = 0;
  if (!read_field(cx, st.mark) || !read_field(cx, st.flag4) || !read_field(cx, st.flag3) ||
      !read_field(cx, st.num1) || !read_field(cx, st.num2) || !read_field(cx, st.flag1) ||
      !read_field(cx, st.num3) || !read_field(cx, st.num4) || !read_field(cx, st.num5) ||
      !read_field(cx, st.flag2) || !read_field(cx, hours) || !read_field(cx, minutes) ||
      !read_field(cx, seconds)) {
    return false;
  }
  warn_station(cx, st.position, hours, minutes, seconds);
  if (!assign_int32(st.scheduled_time, (hours * 60 + minutes) * 60 + seconds)) {
    return record_read_failure(cx.m, "the scheduled time in seconds does not fit 32 bits");
  }
  return read_text_field(cx, st.name);
}

}  // namespace

// Stations fill records 1, 2, 3, ... up to the records that hold the line's board texts.
RecordStep read_station(ReaderContext& cx) {
  TrainState& ts = cx.train;
  const int32_t n = ts.station;
  const int32_t board_counter = cx.line.board_counter;
  if (n > board_counter) return record_error(cx, kErrStationSlot);
  StationRecord st = station_record(cx.m, n);
  if (!read_field(cx, st.position)) return RecordStep::kFailed;
  if (!within_grid(st.position, 800, cx.m.grid_last)) {
    record_error(cx, kErrBeyondGrid, st.position);
    matched_record(cx);  // unlike the other range tests, the station counts as a record here
    return RecordStep::kLeave;
  }
  if (st.position % 50 != 0) return record_error(cx, kErrStationPosition, st.position);
  int32_t length = 0;
  if (!read_field(cx, st.kind) || !read_field(cx, length)) return RecordStep::kFailed;
  if (length % 100 != 0) return record_error(cx, kErrStationLength, st.position);
  if (!read_station_values(cx, st)) return RecordStep::kFailed;
  if (!place_station(cx.m, n, length)) {
    if (cx.m.error_code == kErrReadFailure) return RecordStep::kFailed;
    cx.m.error_source = cx.record_pos;
    log_error(cx.m);
    return RecordStep::kStop;
  }
  ++ts.station;
  if (ts.station >= board_counter) return record_error(cx, kErrStationSlot);
  return RecordStep::kNext;
}

}  // namespace compactor
