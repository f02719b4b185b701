#include "compiler/value_warnings.h"

#include <string>

#include "compiler/cells.h"
#include "model/roles.h"

namespace compactor {

namespace {

bool collecting(const ReaderContext& cx) {
  return cx.s.warnings != nullptr && cx.kind != nullptr;
}

// "163 km/h", "300 per mille", "80".
std::string with_unit(int64_t value, const FieldDescription& field) {
  std::string text = std::to_string(value);
  if (field.unit[0] != '\0') text += std::string(" ") + field.unit;
  return text;
}

// "from 0 to 495 km/h", with "multiples of 5" when the field has a step.
std::string holds_phrase(const FieldDescription& field) {
  std::string text = field.step > 1 ? "multiples of " + std::to_string(field.step) + " " : "";
  return text + "from " + std::to_string(field_least(field)) + " to " +
         with_unit(field_most(field), field);
}

// The field of the record being read; null when its kind has none of that name.
const FieldDescription* field_named(const ReaderContext& cx, const char* name) {
  return find_field(*cx.kind, name);
}

// "19:07:30" for a time in seconds; negative ones as seconds.
std::string clock_text(int64_t seconds) {
  if (seconds < 0) return std::to_string(seconds) + " s";
  auto two = [](int64_t v) {
    std::string digits = std::to_string(v);
    return digits.size() < 2 ? "0" + digits : digits;
  };
  return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
}

// "h:m:s" as written.
std::string written_time(int64_t hours, int64_t minutes, int64_t seconds) {
  return std::to_string(hours) + ":" + std::to_string(minutes) + ":" + std::to_string(seconds);
}

// Whether minutes and seconds both lie within the record's fields' ranges.
bool time_holds(const ReaderContext& cx, int64_t minutes, int64_t seconds) {
  const FieldDescription* m = field_named(cx, "minutes");
  const FieldDescription* s = field_named(cx, "seconds");
  return (m == nullptr || field_holds(*m, minutes)) && (s == nullptr || field_holds(*s, seconds));
}

int64_t line_length(const ReaderContext& cx) {
  return line_data(cx.m).line_length;
}

// A position behind the cell that a forward fill has reached: the record takes effect only
// after that cell. `what` names the records ("gradient", "speed", "adhesion").
bool warn_behind_fill(ReaderContext& cx, const char* what, int32_t position, int64_t fill_cell) {
  int64_t cell = cell_at(position);
  if (cell >= fill_cell) return false;
  int64_t from = cell > 0 ? fill_cell + 1 : fill_cell;
  warn(cx, kRankValue, "position-out-of-order",
       std::string("the ") + what + " at " + std::to_string(position) + " m comes before " +
           std::to_string(fill_cell * 50) + " m, where the " + what +
           " before it starts; the grid is filled forward, so this one starts at " +
           std::to_string(from * 50) + " m");
  return true;
}

bool past_line_end(ReaderContext& cx, const char* what, int64_t position) {
  if (position <= line_length(cx)) return false;
  warn(cx, kRankValue, "past-line-end",
       std::string(what) + " at " + std::to_string(position) + " m is past the end of the line (" +
           std::to_string(line_length(cx)) + " m)");
  return true;
}

// A value outside what its field holds as written; `stored` says what becomes of it.
bool warn_not_held(ReaderContext& cx, const FieldDescription& field, int64_t value,
                   const std::string& stored) {
  if (field_holds(field, value)) return false;
  warn(cx, kRankValue, "value-not-held",
       std::string("the ") + field.noun + " " + with_unit(value, field) +
           " is not a value the grid holds (" + holds_phrase(field) + "); " + stored);
  return true;
}

}  // namespace

void warn_past_line_end(ReaderContext& cx, const char* what, int64_t position) {
  if (collecting(cx)) past_line_end(cx, what, position);
}

void warn_gradient(ReaderContext& cx, int32_t position, int32_t gradient) {
  const FieldDescription* field = collecting(cx) ? field_named(cx, "gradient") : nullptr;
  if (field == nullptr || past_line_end(cx, "the gradient", position)) return;
  int64_t stored = ((int64_t{gradient} + 100) & 0xFF) - 100;
  if (warn_not_held(cx, *field, gradient, "it is stored as " + with_unit(stored, *field))) {
    return;
  }
  warn_behind_fill(cx, "gradient", position, cx.line.fill_cell);
}

void warn_curve(ReaderContext& cx, int32_t start, int32_t length) {
  if (!collecting(cx) || past_line_end(cx, "the curve", start)) return;
  // The plan is built up to point next_point - 1; the first two points are fixed.
  int64_t built = int64_t{cx.line.next_point} - 1;
  if (built <= 1 || start >= built) return;
  std::string after = std::to_string(built) + " m";
  warn(cx, kRankValue, "curve-overlap",
       "the curve at " + std::to_string(start) + " m starts before " + after +
           ", where the curve before it ends; " +
           (int64_t{start} + length <= built ? "it bends nothing"
                                             : "only its part after " + after + " is bent"));
}

void warn_tunnel(ReaderContext& cx, int32_t start, int32_t end) {
  if (!collecting(cx) || past_line_end(cx, "the tunnel", start)) return;
  if (end < start) {
    bool empty = cell_before(end) < cell_at(start);
    warn(cx, kRankValue, "tunnel-ends-before-start",
         "the tunnel ends at " + std::to_string(end) + " m, before it starts at " +
             std::to_string(start) + " m" + (empty ? "; it covers no cell" : ""));
    return;
  }
  if (end > line_length(cx)) {
    warn(cx, kRankValue, "past-line-end",
         "the tunnel ends at " + std::to_string(end) + " m, past the end of the line (" +
             std::to_string(line_length(cx)) + " m)");
  }
}

void warn_speed_boards(ReaderContext& cx, int32_t position, const SpeedBoards& b) {
  if (!collecting(cx) || past_line_end(cx, "the speed board", position)) return;
  const char* names[] = {"vas", "vbs", "vcs", "vad", "vbd", "vcd"};
  const int32_t values[] = {b.side_s.speeds[0], b.side_s.speeds[1], b.side_s.speeds[2],
                            b.side_d.speeds[0], b.side_d.speeds[1], b.side_d.speeds[2]};
  for (int i = 0; i < 6; ++i) {
    const FieldDescription* field = field_named(cx, names[i]);
    if (field != nullptr &&
        warn_not_held(cx, *field, values[i], "the board does not show it as written")) {
      return;
    }
  }
}

void warn_speed(ReaderContext& cx, int32_t position, int32_t speed) {
  const FieldDescription* field = collecting(cx) ? field_named(cx, "speed") : nullptr;
  if (field == nullptr || past_line_end(cx, "the speed change", position)) return;
  int64_t steps = round_even(static_cast<double>(speed) / 5.0);
  std::string stored = steps >= 0 && steps <= 255
                           ? "it is stored as " + with_unit(steps * 5, *field)
                           : "the read stops with error 25 where this speed is filled in";
  if (warn_not_held(cx, *field, speed, stored)) return;
  warn_behind_fill(cx, "speed", position, cx.train.speed_fill);
}

void warn_adhesion(ReaderContext& cx, int32_t position, int32_t adhesion) {
  const FieldDescription* field = collecting(cx) ? field_named(cx, "adhesion") : nullptr;
  if (field == nullptr || past_line_end(cx, "the adhesion change", position)) return;
  if (warn_not_held(cx, *field, adhesion,
                    "it is stored as " + with_unit(adhesion & 0xFF, *field))) {
    return;
  }
  warn_behind_fill(cx, "adhesion", position, cx.train.adhesion_fill);
}

void warn_clock(ReaderContext& cx, int64_t hours, int64_t minutes, int64_t seconds) {
  if (!collecting(cx) || time_holds(cx, minutes, seconds)) return;
  warn(cx, kRankValue, "time-out-of-range",
       "the clock " + written_time(hours, minutes, seconds) +
           " has minutes or seconds outside 0 to 59");
}

void warn_station(ReaderContext& cx, int32_t position, int64_t hours, int64_t minutes,
                  int64_t seconds) {
  if (!collecting(cx) || past_line_end(cx, "the station", position)) return;
  int64_t stored = (hours * 60 + minutes) * 60 + seconds;
  if (time_holds(cx, minutes, seconds) || !fits_int32(stored)) return;  // too large: error 25
  warn(cx, kRankValue, "time-out-of-range",
       "the scheduled time " + written_time(hours, minutes, seconds) +
           " has minutes or seconds outside 0 to 59; it is stored as " + clock_text(stored));
}

}  // namespace compactor
