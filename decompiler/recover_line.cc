// The line source's records from the outputs: record 84 and 85 give the general section, the
// plan the curves, the grid's cells the gradients, tunnels and boards.
#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>

#include "compiler/compiler.h"
#include "decompiler/recover.h"
#include "model/roles.h"
#include "model/written_values.h"
#include "syntax/record_kinds.h"

namespace compactor {

std::string number(int64_t v) {
  return std::to_string(v);
}

SourceLine line_of(KindId kind, std::vector<std::string> values) {
  return {record_kind(kind).keyword, std::move(values)};
}

namespace {

using K = KindId;

// Records 81 to 83 hold the chainage records ordered by their keys, plus 100 m where the
// direction is 1: written back as uno, due, tre in that order, they keep it.
void chainage_lines(const Model& m, std::vector<SourceLine>& lines) {
  const KindId kinds[] = {K::kChainageUno, K::kChainageDue, K::kChainageTre};
  for (int i = 0; i < 3; ++i) {
    ChainageRecord record = chainage_record(m, kFirstChainageRecord + i);
    int64_t chainage = int64_t{record.chainage} - (record.direction == 1 ? 100 : 0);
    lines.push_back(
        line_of(kinds[i], {number(record.key), number(chainage), number(record.direction)}));
  }
}

SourceSection general_section(const Model& m) {
  SourceSection s{"[generale]", {}};
  s.lines.push_back(line_of(K::kLineLength, {number(line_data(m).line_length)}));
  chainage_lines(m, s.lines);
  LineIdentityRecord identity = line_identity(m);
  s.lines.push_back(line_of(K::kBackgroundUno, {number(identity.background_uno)}));
  s.lines.push_back(line_of(K::kBackgroundDue, {number(identity.background_due)}));
  s.lines.push_back(line_of(K::kBackgroundTre, {number(identity.background_tre)}));
  TrainIdentityRecord train = train_identity(m);
  const auto& written = record_kind(K::kSignalRepetition).written;
  std::string keyword(train.repetition_codes == 4 ? written[1] : written[0]);
  s.lines.push_back({keyword, {number(train.repetition_start), number(train.repetition_end)}});
  return s;
}

// A point of the plan as the line output holds it.
struct PlanPoint {
  TaggedValue::Tag x_tag = TaggedValue::kEmpty;
  TaggedValue::Tag y_tag = TaggedValue::kEmpty;
  double x = 0.0;
  double y = 0.0;
};

bool same_bits(TaggedValue::Tag tag, double held, double x) {
  return tag == TaggedValue::kDouble && std::bit_cast<uint64_t>(held) == std::bit_cast<uint64_t>(x);
}

bool same_point(const PlanPoint& p, const PlanState& st) {
  return same_bits(p.x_tag, p.x, st.x1) && same_bits(p.y_tag, p.y, st.y1);
}

// The curvature of each written curve keyword, in the order of the table.
const std::vector<double>& curvatures() {
  static const std::vector<double> all = [] {
    std::vector<double> k;
    for (std::string_view keyword : record_kind(K::kCurve).written) {
      k.push_back(curve_curvature(keyword));
    }
    return k;
  }();
  return all;
}

// The step from the two points of `st` to the point p: straight, or turned by the curvature of a
// curve keyword; nullopt when no step gives it.
struct Step {
  double k = 0.0;
  bool curved = false;
};

std::optional<Step> step_to(const PlanState& st, const PlanPoint& p) {
  PlanState straight = st;
  straight.step(0.0, false);
  if (same_point(p, straight)) return Step{};
  for (double k : curvatures()) {
    PlanState turned = st;
    turned.step(k, true);
    if (same_point(p, turned)) return Step{k, true};
  }
  return std::nullopt;
}

std::string curve_keyword(double k) {
  for (std::string_view keyword : record_kind(K::kCurve).written) {
    if (curve_curvature(keyword) == k) return std::string(keyword);
  }
  return "";
}

// A value of the line output as the plan holds it.
TaggedValue held_value(TaggedValue::Tag tag, double number) {
  if (tag == TaggedValue::kInteger) return TaggedValue::Integer(static_cast<int16_t>(number));
  return tag == TaggedValue::kDouble ? TaggedValue::Double(number) : TaggedValue{};
}

// The curve records of the plan, found point by point in metre order. Each run of points turned
// by the same curvature is one curve record: its points are start + 1 to start + length. The
// walk ends at the first empty point, where the compile's plan ends, or at a point that no step
// gives (named in `problem`). The outline of the plan is kept as long as the points fit one:
// steps, then empty points only.
struct CurveRuns {
  PlanState st;
  int64_t i = 0;  // the point to come
  int64_t run_start = 0;
  double run_k = 0.0;
  bool ended = false;
  std::vector<SourceLine> lines;
  std::string problem;
  PlanOutline outline;
  bool outlined = true;

  void add(const PlanPoint& p) {
    if (ended) {
      if (p.x_tag != TaggedValue::kEmpty || p.y_tag != TaggedValue::kEmpty) outlined = false;
      return;
    }
    if (i < 2) {
      outline.first_x[i] = held_value(p.x_tag, p.x);
      outline.first_y[i] = held_value(p.y_tag, p.y);
      st = {p.x, p.y, st.x1, st.y1};
      ++i;
      return;
    }
    if (p.x_tag == TaggedValue::kEmpty) {
      ended = true;
      if (p.y_tag != TaggedValue::kEmpty) outlined = false;
      return;
    }
    std::optional<Step> step = step_to(st, p);
    if (!step) {
      problem = "line output: point " + number(i) +
                " follows from the two before it by no step of a curve class";
      ended = true;
      outlined = false;
      return;
    }
    outline.add_step(step->k, step->curved);
    // A NaN keeps the payload of one of the NaNs it was computed from, and which one the order of
    // the operands in the machine code decides: another copy of the same step may keep the other.
    if (std::isnan(p.x) || std::isnan(p.y)) outlined = false;
    st = {p.x, p.y, st.x1, st.y1};
    const double k = step->curved ? step->k : 0.0;
    if (k != run_k) {
      close_run();
      run_start = i;
      run_k = k;
    }
    ++i;
  }
  // The run that stands at the point to come, closed there.
  void close_run() {
    if (run_k == 0.0) return;
    lines.push_back({curve_keyword(run_k), {number(run_start - 1), number(i - run_start)}});
  }
};

// One pass over the line output: x from offset 0 and y from the middle, every value checked, on
// the guess that the two halves are of one size, as those of every compile are. False when they
// are not, or a read fails (`unreadable`).
bool walk_halves(const ByteSource& source, CurveRuns& runs, size_t& points, bool& unreadable) {
  if (source.size % 2 != 0) return false;
  const uint64_t middle = source.size / 2;
  const ByteSource x_half{middle, source.read};  // a value across the middle is cut short
  LineValueReader x_values(x_half, 0);
  LineValueReader y_values(source, middle);
  PlanPoint p;
  size_t n = 0;
  for (; x_values.offset() < middle; ++n) {
    if (!x_values.next(p.x_tag, p.x) || !y_values.next(p.y_tag, p.y)) {
      unreadable = x_values.read_failed() || y_values.read_failed();
      return false;
    }
    runs.add(p);
  }
  points = n;
  return y_values.offset() == source.size;
}

// The points of a line output that check_line accepted; false when a read fails.
bool walk_points(const ByteSource& source, const LineShape& line, CurveRuns& runs) {
  LineValueReader x_values(source, 0);
  LineValueReader y_values(source, line.y_offset);
  PlanPoint p;
  for (size_t n = 0; n < line.points && !runs.ended; ++n) {
    if (!x_values.next(p.x_tag, p.x) || !y_values.next(p.y_tag, p.y)) return false;
    runs.add(p);
  }
  return true;
}

SourceSection curve_section(DecodedOutputs& d) {
  SourceSection s{"[curve]", std::move(d.curves)};
  if (!d.curve_problem.empty()) d.unrecovered.push_back(d.curve_problem);
  return s;
}

SourceSection gradient_section(const Model& m) {
  SourceSection s{"[pendenze]", {}};
  profile_lines(
      m, K::kGradient, -100,
      [](const TrackCell& c) -> int64_t { return written_gradient(c.gradient_code); }, s.lines);
  return s;
}

SourceLine speed_board_line(int64_t c, const TrackCell& cell) {
  SpeedBoardCell board(cell);
  const SidePair a = board_speeds(board.speeds_a);
  const SidePair b = board_speeds(board.speeds_b);
  const SidePair speeds_c = board_speeds(board.speeds_c);
  const SidePair stripes = board_stripes(board.stripes);
  return line_of(K::kSpeedBoards, {number((c - 1) * 50), number(a.s), number(b.s),
                                   number(speeds_c.s), number(stripes.s), number(a.d), number(b.d),
                                   number(speeds_c.d), number(stripes.d)});
}

// A station's stop mark takes the kind and param1 of its cell and leaves param2 to param4 as
// they were: speeds b and c and the stripes of a speed board placed there before it. A board
// written back on that cell gives them again; its speed a, which the stop mark hides, is 0.
std::optional<TrackCell> board_under_stop_mark(const TrackCell& cell) {
  if (cell.kind != kStopMark || (cell.param2 == 0 && cell.param3 == 0 && cell.param4 == 0)) {
    return std::nullopt;
  }
  TrackCell board = cell;
  board.param1 = 0;
  return board;
}

void board_sections(const Model& m, SourceSection& speed, SourceSection& indication) {
  std::vector<std::pair<int, SourceLine>> boards;  // by text record, 80 downwards
  for (int64_t c = 0; c <= m.grid_last; ++c) {
    const TrackCell& cell = m.track_grid[static_cast<size_t>(c)];
    if (cell.kind == kSpeedBoard) speed.lines.push_back(speed_board_line(c, cell));
    if (auto board = board_under_stop_mark(cell)) {
      speed.lines.push_back(speed_board_line(c, *board));
    }
    if (cell.kind != kIndicationBoard) continue;
    int record = IndicationBoardCell(cell).text_record;
    std::string text = record >= 0 && record < kItemCount ? m.record(record).text : "";
    boards.push_back({record, line_of(K::kIndicationBoard, {number((c - 1) * 50), text})});
  }
  std::stable_sort(boards.begin(), boards.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (auto& board : boards) indication.lines.push_back(std::move(board.second));
}

}  // namespace

namespace {

// The records that fill the last cells. A record's position picks at most the cell `last`, two
// before the grid's last; the fill still writes one cell for each record placed behind it, and
// one more at the close. So when a cell from `last` on holds a written value, a record at `last`
// (even of the value in force) makes the fill reach it, and each further cell up to the last
// written one is one more record at the same place, whose value the next write carries into it.
void profile_tail(const Model& m, KindId kind, int64_t unwritten,
                  int64_t (*value_of)(const TrackCell&), int64_t last,
                  std::vector<SourceLine>& out) {
  int64_t written = -1;  // the last cell that holds a written value
  for (int64_t c = last; c <= m.grid_last; ++c) {
    if (value_of(m.track_grid[static_cast<size_t>(c)]) != unwritten) written = c;
  }
  for (int64_t c = last; c <= written; ++c) {
    int64_t v = value_of(m.track_grid[static_cast<size_t>(c)]);
    out.push_back(line_of(kind, {number(last * 50), number(v)}));
  }
}

}  // namespace

void profile_lines(const Model& m, KindId kind, int64_t unwritten,
                   int64_t (*value_of)(const TrackCell&), std::vector<SourceLine>& out) {
  int64_t in_force = 0;
  const int64_t last = int64_t{m.grid_last} - 2;
  for (int64_t c = 0; c < last; ++c) {
    int64_t v = value_of(m.track_grid[static_cast<size_t>(c)]);
    if (v == in_force) continue;
    out.push_back(line_of(kind, {number(c * 50), number(v)}));
    in_force = v;
  }
  if (last >= 0) profile_tail(m, kind, unwritten, value_of, last, out);
}

bool read_plan(const ByteSource& source, DecodedOutputs& d, DecodeError& error) {
  CurveRuns runs;
  size_t points = 0;
  const bool whole = walk_halves(source, runs, points, d.line_unreadable);
  if (!whole) {
    if (d.line_unreadable) return false;
    runs = CurveRuns{};
    std::optional<LineShape> line = check_line(source, error, d.line_unreadable);
    if (!line) return false;
    if (!walk_points(source, *line, runs)) {
      d.line_unreadable = true;
      return false;
    }
  }
  runs.close_run();
  d.curves = std::move(runs.lines);
  d.curve_problem = std::move(runs.problem);
  // Only the pass over both halves saw every value.
  if (whole && runs.outlined && points >= 2) {
    d.outline = std::move(runs.outline);
    d.outline->points = points;
  }
  return true;
}

std::vector<SourceSection> recover_line(DecodedOutputs& d) {
  std::vector<SourceSection> sections;
  sections.push_back(general_section(d.m));
  sections.push_back(curve_section(d));
  sections.push_back(gradient_section(d.m));
  sections.push_back(tunnel_section(d));
  SourceSection speed{"[cartelli]", {}};
  SourceSection indication{"[indicazioni]", {}};
  board_sections(d.m, speed, indication);
  sections.push_back(std::move(speed));
  sections.push_back(std::move(indication));
  return sections;
}

}  // namespace compactor
