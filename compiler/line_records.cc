// The readers of the line source's records: the general section's and the features'.
#include "compiler/cells.h"
#include "compiler/reader.h"
#include "compiler/value_warnings.h"
#include "model/errors.h"
#include "model/roles.h"

namespace compactor {

namespace {

// The features' position test: a failed test ends the feature part as the end of the file would.
bool position_ok(ReaderContext& cx, int32_t p) {
  if (within_grid(p, 100, cx.m.grid_last)) return true;
  record_error(cx, kErrBeyondGrid, p);
  return false;
}

}  // namespace

// --- General section ---------------------------------------------------------------------------

RecordStep read_line_length(ReaderContext& cx) {
  int32_t length = 0;
  if (!read_field(cx, length)) return RecordStep::kFailed;
  line_data(cx.m).line_length = length;
  if (length > 1000000) return record_error(cx, kErrLineTooLong);
  if (length <= 0) return record_error(cx, kErrLineLengthNotPositive);
  accept_line_length(cx, length);
  return RecordStep::kNext;
}

// The three chainage records are read into records 81 (tre), 82 (due) and 83 (uno), in that
// order, and ordered by their keys once the general section is over.
template <int kRecord>
RecordStep read_chainage(ReaderContext& cx) {
  ChainageRecord record = chainage_record(cx.m, kRecord);
  if (!read_field(cx, record.key) || !read_field(cx, record.chainage) ||
      !read_field(cx, record.direction)) {
    return RecordStep::kFailed;
  }
  return RecordStep::kNext;
}
template RecordStep read_chainage<kFirstChainageRecord>(ReaderContext&);
template RecordStep read_chainage<kFirstChainageRecord + 1>(ReaderContext&);
template RecordStep read_chainage<kLastChainageRecord>(ReaderContext&);

// The backgrounds uno, due and tre of the line identity record.
template <Background kWhich>
RecordStep read_background(ReaderContext& cx) {
  LineIdentityRecord identity = line_identity(cx.m);
  int32_t& background = kWhich == Background::kUno   ? identity.background_uno
                        : kWhich == Background::kDue ? identity.background_due
                                                     : identity.background_tre;
  return read_field(cx, background) ? RecordStep::kNext : RecordStep::kFailed;
}
template RecordStep read_background<Background::kUno>(ReaderContext&);
template RecordStep read_background<Background::kDue>(ReaderContext&);
template RecordStep read_background<Background::kTre>(ReaderContext&);

RecordStep read_signal_repetition(ReaderContext& cx) {
  TrainIdentityRecord train = train_identity(cx.m);
  if (!read_field(cx, train.repetition_start) || !read_field(cx, train.repetition_end)) {
    return RecordStep::kFailed;
  }
  if (train.repetition_start % 50 != 0) return record_error(cx, kErrRepetitionStart);
  if (train.repetition_end % 50 != 0) return record_error(cx, kErrRepetitionEnd);
  // The keyword field carries the code count: a 4 or a 9.
  if (cx.keyword.find('4') != std::string_view::npos) {
    train.repetition_codes = 4;
  } else if (cx.keyword.find('9') != std::string_view::npos) {
    train.repetition_codes = 9;
  } else {
    return record_error(cx, kErrRepetitionDigit);
  }
  if (train.repetition_end == 0) train.repetition_codes = 0;
  return RecordStep::kNext;
}

// --- Features ----------------------------------------------------------------------------------

RecordStep read_gradient(ReaderContext& cx) {
  int32_t p = 0;
  int32_t gradient = 0;
  if (!read_field(cx, p) || !read_field(cx, gradient)) return RecordStep::kFailed;
  if (!position_ok(cx, p)) return RecordStep::kLeave;
  warn_off_grid(cx, "the gradient", p);
  warn_gradient(cx, p, gradient);
  place_gradient(cx.m, cx.line, p, gradient);
  return RecordStep::kNext;
}

RecordStep read_curve(ReaderContext& cx) {
  if (!cx.with_plan) {
    quiet_line(cx);  // curves are passed over on purpose without a plan
    return RecordStep::kNotHere;
  }
  int32_t start = 0;
  int32_t length = 0;
  if (!read_field(cx, start) || !read_field(cx, length)) return RecordStep::kFailed;
  if (!position_ok(cx, start)) return RecordStep::kLeave;
  double k = curve_curvature(cx.keyword);
  if (k == 0.0) return record_error(cx, kErrCurve);
  warn_curve(cx, start, length);
  if (!place_curve(cx.m, cx.line, k, start, length)) {
    if (cx.m.error_code == kErrReadFailure) return RecordStep::kFailed;
    return record_error(cx, kErrCurve);
  }
  return RecordStep::kNext;
}

RecordStep read_tunnel(ReaderContext& cx) {
  int32_t start = 0;
  int32_t end = 0;
  int32_t type = 0;
  if (!read_field(cx, start) || !read_field(cx, end) || !read_field(cx, type)) {
    return RecordStep::kFailed;
  }
  if (!position_ok(cx, start)) return RecordStep::kLeave;
  warn_off_grid(cx, "the tunnel start", start);
  warn_off_grid(cx, "the tunnel end", end);
  warn_tunnel(cx, start, end);
  bool placed = place_tunnel(cx.m, start, end, type);
  return after_placement(cx, placed, start);
}

RecordStep read_speed_boards(ReaderContext& cx) {
  int32_t position = 0;
  SpeedBoards b;
  int32_t* values[] = {&b.side_s.speeds[0], &b.side_s.speeds[1], &b.side_s.speeds[2],
                       &b.side_s.stripes,   &b.side_d.speeds[0], &b.side_d.speeds[1],
                       &b.side_d.speeds[2], &b.side_d.stripes};
  if (!read_field(cx, position)) return RecordStep::kFailed;
  for (int32_t* v : values) {
    if (!read_field(cx, *v)) return RecordStep::kFailed;
  }
  if (!position_ok(cx, position)) return RecordStep::kLeave;
  warn_off_grid(cx, "the speed board", position);
  warn_speed_boards(cx, position, b);
  bool placed = place_speed_boards(cx.m, position, b);
  return after_placement(cx, placed, position);
}

RecordStep read_indication_board(ReaderContext& cx) {
  int32_t p = 0;
  std::string text;
  if (!read_field(cx, p) || !read_text_field(cx, text)) return RecordStep::kFailed;
  if (!position_ok(cx, p)) return RecordStep::kLeave;
  warn_off_grid(cx, "the indication board", p);
  warn_past_line_end(cx, "the indication board", p);
  if (!place_board(cx.m, cx.line, p, text)) return placement_stopped(cx, p);
  return RecordStep::kNext;
}

}  // namespace compactor
