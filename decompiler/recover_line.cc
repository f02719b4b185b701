// The line source's records from the outputs: record 84 and 85 give the general section, the
// plan the curves, the grid's cells the gradients, tunnels and boards.
#include <algorithm>
#include <bit>

#include "compiler/compiler.h"
#include "decompiler/recover.h"
#include "model/roles.h"
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

bool same_bits(const TaggedValue& v, double x) {
  const double held = v.real;  // a copy: the packed value's double is not aligned
  return v.tag == TaggedValue::kDouble &&
         std::bit_cast<uint64_t>(held) == std::bit_cast<uint64_t>(x);
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

// The curvature of the step from the two points of `st` to the point (x, y): 0 for a straight
// step, the curvature of a curve keyword for a turned one; nullopt when no step gives it.
std::optional<double> step_curvature(const PlanState& st, const TaggedValue& x,
                                     const TaggedValue& y) {
  PlanState straight = st;
  straight.step(0.0, false);
  if (same_bits(x, straight.x1) && same_bits(y, straight.y1)) return 0.0;
  for (double k : curvatures()) {
    PlanState turned = st;
    turned.step(k, true);
    if (same_bits(x, turned.x1) && same_bits(y, turned.y1)) return k;
  }
  return std::nullopt;
}

std::string curve_keyword(double k) {
  for (std::string_view keyword : record_kind(K::kCurve).written) {
    if (curve_curvature(keyword) == k) return std::string(keyword);
  }
  return "";
}

// The plan's points in order, read from both halves of the line output at once.
struct PointReader {
  std::string_view bytes;
  size_t x_offset = 0;
  size_t y_offset = 0;
  void next(TaggedValue& x, TaggedValue& y) {
    x = decode_line_value(bytes, x_offset);
    y = decode_line_value(bytes, y_offset);
  }
};

// Each run of points turned by the same curvature is one curve record: its points are start + 1
// to start + length. The walk ends at the first empty point, where the compile's plan ends.
SourceSection curve_section(DecodedOutputs& d) {
  SourceSection s{"[curve]", {}};
  if (!d.with_plan || d.line.points < 3) return s;
  PointReader points{d.line.bytes, 0, d.line.y_offset};
  TaggedValue x, y;
  PlanState st;
  points.next(x, y);
  st.x2 = x.number();
  st.y2 = y.number();
  points.next(x, y);
  st.x1 = x.number();
  st.y1 = y.number();
  int64_t run_start = 0;
  double run_k = 0.0;
  auto close_run = [&](int64_t end) {
    if (run_k == 0.0) return;
    s.lines.push_back({curve_keyword(run_k), {number(run_start - 1), number(end - run_start)}});
  };
  int64_t i = 2;
  for (; i < static_cast<int64_t>(d.line.points); ++i) {
    points.next(x, y);
    if (x.tag == TaggedValue::kEmpty) break;
    std::optional<double> k = step_curvature(st, x, y);
    if (!k) {
      d.unrecovered.push_back("line output: point " + number(i) +
                              " follows from the two before it by no step of a curve class");
      break;
    }
    st = {x.real, y.real, st.x1, st.y1};
    if (*k == run_k) continue;
    close_run(i);
    run_start = i;
    run_k = *k;
  }
  close_run(i);
  return s;
}

SourceSection gradient_section(const Model& m) {
  SourceSection s{"[pendenze]", {}};
  profile_lines(
      m, K::kGradient, -100, [](const TrackCell& c) -> int64_t { return c.gradient_code - 100; },
      s.lines);
  return s;
}

// A pair packed as high × factor + low, low from 0 to factor - 1 when the pair is not negative.
std::pair<int64_t, int64_t> unpacked(int64_t v, int64_t factor) {
  if (v < 0) return {0, v};
  return {v / factor, v % factor};
}

SourceLine speed_board_line(int64_t c, const TrackCell& cell) {
  SpeedBoardCell board(cell);
  int64_t s[4], dv[4];
  const int16_t speeds[3] = {board.speeds_a, board.speeds_b, board.speeds_c};
  for (int i = 0; i < 3; ++i) {
    auto [high, low] = unpacked(speeds[i], 100);
    s[i] = high * 5;
    dv[i] = low * 5;
  }
  auto [stripes_s, stripes_d] = unpacked(board.stripes, 10);
  return line_of(K::kSpeedBoards,
                 {number((c - 1) * 50), number(s[0]), number(s[1]), number(s[2]), number(stripes_s),
                  number(dv[0]), number(dv[1]), number(dv[2]), number(stripes_d)});
}

void board_sections(const Model& m, SourceSection& speed, SourceSection& indication) {
  std::vector<std::pair<int, SourceLine>> boards;  // by text record, 80 downwards
  for (int64_t c = 0; c <= m.grid_last; ++c) {
    const TrackCell& cell = m.track_grid[static_cast<size_t>(c)];
    if (cell.kind == kSpeedBoard) speed.lines.push_back(speed_board_line(c, cell));
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

void profile_lines(const Model& m, KindId kind, int64_t unwritten,
                   int64_t (*value_of)(const TrackCell&), std::vector<SourceLine>& out) {
  int64_t in_force = 0;
  const int64_t last = int64_t{m.grid_last} - 2;
  for (int64_t c = 0; c <= last; ++c) {
    int64_t v = value_of(m.track_grid[static_cast<size_t>(c)]);
    if (v == in_force || (c == last && v == unwritten)) continue;
    out.push_back(line_of(kind, {number(c * 50), number(v)}));
    in_force = v;
  }
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
