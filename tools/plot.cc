#include "tools/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "compiler/compile.h"
#include "format/outputs.h"
#include "model/roles.h"
#include "model/written_values.h"
#include "tools/colours.h"

namespace compactor {

namespace {

// Page layout, in pixels.
constexpr double kWidth = 1600;
constexpr double kLeft = 90;   // left edge of the drawing area
constexpr double kRight = 40;  // margin right of it
constexpr double kPlanMaxHeight = 300;
constexpr double kLabelFont = 11;
constexpr double kLabelHeight = 14;
constexpr int kLabelRows = 4;
constexpr double kProfileHeight = 170;
constexpr double kPanelGap = 22;

double drawing_width() {
  return kWidth - kLeft - kRight;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  std::string s = buf;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  if (s == "-0") s = "0";
  return s;
}

// Text for XML content and attribute values. Bytes 0x80 and above are taken as Latin-1
// characters; control characters, which XML cannot hold, become blanks.
std::string xml(std::string_view text) {
  std::string out;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (c >= 0x80) {
          out += "&#" + std::to_string(c) + ";";
        } else if (c < 0x20) {
          out += ' ';
        } else {
          out += ch;
        }
    }
  }
  return out;
}

// Rough width of a text in a sans-serif face, enough to keep labels apart.
double text_width(std::string_view text, double size) {
  double em = 0;
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') {
      em += c == 'I' ? 0.3 : (c == 'M' || c == 'W') ? 0.86 : 0.7;
    } else if (c >= '0' && c <= '9') {
      em += 0.64;
    } else if (c >= 'a' && c <= 'z') {
      em += 0.58;
    } else {
      em += 0.34;
    }
  }
  return em * size;
}

// A step that gives about `target` intervals over `span`: 1, 2 or 5 times a power of ten.
double nice_step(double span, double target) {
  double raw = span / target;
  if (raw <= 0) return 1;
  double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double f : {1.0, 2.0, 5.0, 10.0}) {
    if (f * p >= raw) return f * p;
  }
  return 10 * p;
}

std::string km_text(int32_t metres) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "km %.1f", metres / 1000.0);
  return buf;
}

// The profiles' horizontal scale: metres along the line to page x.
struct KmAxis {
  double length = 1;  // metres shown
  double x(double metres) const { return kLeft + metres / length * drawing_width(); }
};

// One profile panel: a value axis over a band of the page.
struct ValueAxis {
  double top = 0;
  double height = kProfileHeight;
  double lo = 0;
  double hi = 1;
  double y(double v) const { return top + (hi - v) / (hi - lo) * height; }
};

ValueAxis value_axis(double top, double lo, double hi, double step) {
  ValueAxis a;
  a.top = top;
  // Some room between the extreme values and the frame.
  a.lo = std::floor(lo / step) * step;
  if (lo < 0 && lo - a.lo < step / 4) a.lo -= step;
  a.hi = std::ceil(hi / step) * step;
  if (a.hi - hi < step / 4) a.hi += step;
  if (a.hi <= a.lo) a.hi = a.lo + step;
  return a;
}

// A step curve over the cells [0, count): value(i) held from metre i*50 to (i+1)*50.
template <typename Value>
std::string step_path(const KmAxis& km, const ValueAxis& va, int count, Value value) {
  std::string d;
  double prev = 0;
  for (int i = 0; i < count; ++i) {
    double v = value(i);
    if (i == 0) {
      d.append("M").append(num(km.x(0))).append(" ").append(num(va.y(v)));
    } else if (v != prev) {
      d.append("H").append(num(km.x(i * 50.0))).append("V").append(num(va.y(v)));
    }
    prev = v;
  }
  if (count > 0) d.append("H").append(num(km.x(count * 50.0)));
  return d;
}

std::string rect(double x0, double y0, double x1, double y1, const std::string& attrs) {
  return "<rect x=\"" + num(x0) + "\" y=\"" + num(y0) + "\" width=\"" +
         num(std::max(x1 - x0, 2.5)) + "\" height=\"" + num(y1 - y0) + "\" " + attrs + "/>\n";
}

std::string line(double x0, double y0, double x1, double y1, const std::string& attrs) {
  return "<line x1=\"" + num(x0) + "\" y1=\"" + num(y0) + "\" x2=\"" + num(x1) + "\" y2=\"" +
         num(y1) + "\" " + attrs + "/>\n";
}

std::string text(double x, double y, const std::string& content, const std::string& attrs) {
  return "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + attrs + ">" + content + "</text>\n";
}

// The point of the plan at a metre, when both its values are set.
bool plan_point(const Plan& plan, int64_t m, double& x, double& y) {
  if (m < 0 || static_cast<size_t>(m) >= plan.x.size()) return false;
  const TaggedValue& vx = plan.x[static_cast<size_t>(m)];
  const TaggedValue& vy = plan.y[static_cast<size_t>(m)];
  if (vx.tag == TaggedValue::kEmpty || vy.tag == TaggedValue::kEmpty) return false;
  x = vx.number();
  y = vy.number();
  return std::isfinite(x) && std::isfinite(y);
}

// The plan turned so that its first and last points are level, scaled into the page.
struct PlanView {
  double ox = 0, oy = 0;  // first point
  double cx = 1, cy = 0;  // unit vector from the first to the last point
  double umin = 0, vmax = 0;
  double scale = 1;  // pixels per metre
  double left = kLeft, top = 0;
  double height = 0;
  double sx(double x, double y) const {
    return left + ((x - ox) * cx + (y - oy) * cy - umin) * scale;
  }
  double sy(double x, double y) const {
    return top + (vmax - (-(x - ox) * cy + (y - oy) * cx)) * scale;
  }
};

// The metres drawn for a stretch of the plan: every `step`-th one from `first`, and `last`.
std::vector<int64_t> plan_metres(int64_t first, int64_t last, int64_t step) {
  std::vector<int64_t> out;
  for (int64_t m = first; m < last; m += step) out.push_back(m);
  out.push_back(last);
  return out;
}

std::string polyline(const Plan& plan, const PlanView& view, const std::vector<int64_t>& metres,
                     const std::string& attrs) {
  std::string pts;
  for (int64_t m : metres) {
    double x, y;
    if (!plan_point(plan, m, x, y)) continue;
    if (!pts.empty()) pts += ' ';
    pts += num(view.sx(x, y)) + "," + num(view.sy(x, y));
  }
  if (pts.empty()) return "";
  return "<polyline points=\"" + pts + "\" fill=\"none\" " + attrs + "/>\n";
}

struct Station {
  int index = 0;
  std::string name;
  int32_t position = 0;
  int32_t from = 0;  // extent
  int32_t to = 0;
};

}  // namespace

std::vector<PlotInput> plot_inputs(const Model& names, bool with_plan) {
  std::vector<PlotInput> inputs = {{OutputKind::kRecords, record_output_name(names), false},
                                   {OutputKind::kGrid, grid_output_name(names), false}};
  if (with_plan) inputs.push_back({OutputKind::kLine, line_output_name(names), true});
  return inputs;
}

bool add_plot_input(PlotData& data, OutputKind kind, std::string_view bytes, DecodeError& error) {
  switch (kind) {
    case OutputKind::kRecords: {
      auto items = decode_records(bytes, error);
      if (items) data.items = *items;
      return items.has_value();
    }
    case OutputKind::kGrid: {
      auto cells = decode_grid(bytes, error);
      if (cells) data.cells = std::move(*cells);
      return cells.has_value();
    }
    case OutputKind::kLine:
      data.plan = decode_line(bytes, error);
      return data.plan.has_value();
  }
  return false;
}

std::vector<CellRun> tunnel_runs(const std::vector<TrackCell>& cells) {
  std::vector<CellRun> runs;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].tunnel_type == 0) continue;
    if (!runs.empty() && runs.back().last == static_cast<int>(i) - 1) {
      runs.back().last = static_cast<int>(i);
    } else {
      runs.push_back({static_cast<int>(i), static_cast<int>(i)});
    }
  }
  return runs;
}

std::vector<SlowOrderSpan> slow_orders(const std::vector<TrackCell>& cells) {
  std::vector<SlowOrderSpan> out;
  const int count = static_cast<int>(cells.size());
  for (int i = 0; i < count; ++i) {
    if (cells[static_cast<size_t>(i)].kind != kSlowOrderStart) continue;
    int end = i + 1;
    while (end < count && cells[static_cast<size_t>(end)].kind != kSlowOrderEnd) ++end;
    out.push_back(
        {{i, std::min(end, count - 1)}, SlowOrderCell(cells[static_cast<size_t>(i)]).speed});
  }
  return out;
}

std::vector<int> limit_in_force(const std::vector<TrackCell>& cells) {
  std::vector<int> limit;
  limit.reserve(cells.size());
  for (const TrackCell& c : cells) limit.push_back(speed_limit_kmh(c.speed_limit));
  const int count = static_cast<int>(cells.size());
  for (const SlowOrderSpan& o : slow_orders(cells)) {
    const bool has_end = cells[static_cast<size_t>(o.cells.last)].kind == kSlowOrderEnd;
    const int stop = has_end ? o.cells.last : count;
    for (int i = o.cells.first; i < stop; ++i) {
      limit[static_cast<size_t>(i)] = std::min(limit[static_cast<size_t>(i)], std::max(o.speed, 0));
    }
  }
  return limit;
}

std::vector<double> spread_labels(const std::vector<double>& anchors, double width, double lo,
                                  double hi) {
  // Groups of labels set side by side, each centred on the mean of its anchors.
  struct Group {
    double sum = 0;
    int count = 0;
    double start() const { return sum / count - count * width / 2; }
    double end() const { return sum / count + count * width / 2; }
    double width = 0;
  };
  std::vector<Group> groups;
  for (double a : anchors) {
    groups.push_back(Group{a, 1, width});
    while (groups.size() > 1 && groups[groups.size() - 2].end() > groups.back().start()) {
      Group last = groups.back();
      groups.pop_back();
      groups.back().sum += last.sum;
      groups.back().count += last.count;
    }
  }
  std::vector<double> centres;
  for (const Group& g : groups) {
    for (int k = 0; k < g.count; ++k) centres.push_back(g.start() + width * (k + 0.5));
  }
  // Keep them inside [lo, hi]: push in from the right end, then from the left end.
  for (size_t i = centres.size(); i-- > 0;) {
    double limit = i + 1 < centres.size() ? centres[i + 1] - width : hi - width / 2;
    centres[i] = std::min(centres[i], limit);
  }
  for (size_t i = 0; i < centres.size(); ++i) {
    double limit = i > 0 ? centres[i - 1] + width : lo + width / 2;
    centres[i] = std::max(centres[i], limit);
  }
  return centres;
}

bool overlap(const Box& a, const Box& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

std::array<double, 2> leader_end(const std::array<double, 2>& anchor, const Box& label) {
  return {std::clamp(anchor[0], label.x0, label.x1), label.y1 <= anchor[1] ? label.y1 : label.y0};
}

bool segment_crosses(const std::array<double, 2>& a, const std::array<double, 2>& b,
                     const Box& box) {
  // Liang-Barsky: the part of the segment inside the box, shrunk by a little so that a segment
  // that only touches an edge (a leader line ending on its own label) does not count.
  constexpr double kEdge = 0.5;
  const double dx = b[0] - a[0], dy = b[1] - a[1];
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a[0] - (box.x0 + kEdge), (box.x1 - kEdge) - a[0], a[1] - (box.y0 + kEdge),
                       (box.y1 - kEdge) - a[1]};
  double t0 = 0, t1 = 1;
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

namespace {

// The places a label of size (w, h) may take next to `anchor` inside `area`, nearest first
// (sideways counts half again as much as up or down).
std::vector<Box> label_candidates(const std::array<double, 2>& anchor, double w, double h, int rows,
                                  const Box& area) {
  constexpr double kOffset = 6;  // between an anchor and the nearest label edge
  std::vector<Box> candidates;
  for (int r = 0; r < rows; ++r) {
    const double above = anchor[1] - kOffset - r * (h + 2);
    const double below = anchor[1] + kOffset + r * (h + 2);
    for (double shift : {0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5, 2.0, -2.0}) {
      const double x0 = anchor[0] - w / 2 + shift * w;
      for (Box b : {Box{x0, above - h, x0 + w, above}, Box{x0, below, x0 + w, below + h}}) {
        if (b.x0 >= area.x0 && b.x1 <= area.x1 && b.y0 >= area.y0 && b.y1 <= area.y1) {
          candidates.push_back(b);
        }
      }
    }
  }
  auto distance = [&](const Box& b) {
    return std::hypot(1.5 * ((b.x0 + b.x1) / 2 - anchor[0]), (b.y0 + b.y1) / 2 - anchor[1]);
  };
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](const Box& a, const Box& b) { return distance(a) < distance(b); });
  return candidates;
}

// The labels placed in one order of the anchors: a label goes to the first candidate that
// overlaps no label or obstacle, that no leader line crosses and whose own leader line crosses
// no label.
struct LabelRun {
  std::vector<std::optional<Box>> boxes;
  int placed = 0;
  double leader_length = 0;
};

LabelRun label_run(const std::vector<std::array<double, 2>>& anchors,
                   const std::vector<double>& widths, double height,
                   const std::vector<Box>& obstacles, int rows, const Box& area,
                   const std::vector<size_t>& order) {
  LabelRun run;
  run.boxes.resize(anchors.size());
  std::vector<Box> placed;
  std::vector<std::array<std::array<double, 2>, 2>> leaders;
  for (size_t i : order) {
    for (const Box& c : label_candidates(anchors[i], widths[i], height, rows, area)) {
      const std::array<double, 2> end = leader_end(anchors[i], c);
      auto hits = [&](const Box& b) { return overlap(c, b); };
      auto crossed = [&](const auto& l) { return segment_crosses(l[0], l[1], c); };
      auto crosses = [&](const Box& b) { return segment_crosses(anchors[i], end, b); };
      if (std::any_of(placed.begin(), placed.end(), hits) ||
          std::any_of(obstacles.begin(), obstacles.end(), hits) ||
          std::any_of(leaders.begin(), leaders.end(), crossed) ||
          std::any_of(placed.begin(), placed.end(), crosses)) {
        continue;
      }
      run.boxes[i] = c;
      placed.push_back(c);
      leaders.push_back({anchors[i], end});
      ++run.placed;
      run.leader_length += std::hypot(end[0] - anchors[i][0], end[1] - anchors[i][1]);
      break;
    }
  }
  return run;
}

}  // namespace

std::vector<Box> place_labels(const std::vector<std::array<double, 2>>& anchors,
                              const std::vector<double>& widths, double height,
                              const std::vector<Box>& obstacles, int rows, const Box& area) {
  // West to east and east to west: a crowd forms a staircase one way or the other.
  std::vector<size_t> order(anchors.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return anchors[a][0] < anchors[b][0]; });
  LabelRun best = label_run(anchors, widths, height, obstacles, rows, area, order);
  std::reverse(order.begin(), order.end());
  LabelRun other = label_run(anchors, widths, height, obstacles, rows, area, order);
  if (other.placed > best.placed ||
      (other.placed == best.placed && other.leader_length < best.leader_length)) {
    best = std::move(other);
  }
  std::vector<Box> boxes;
  for (size_t i = 0; i < anchors.size(); ++i) {
    if (best.boxes[i]) {
      boxes.push_back(*best.boxes[i]);
      continue;
    }
    // No free place: the first place inside the area, or the first row above pushed inside it.
    std::vector<Box> c = label_candidates(anchors[i], widths[i], height, rows, area);
    const double w = widths[i];
    const double x0 = std::clamp(anchors[i][0] - w / 2, area.x0, std::max(area.x0, area.x1 - w));
    boxes.push_back(c.empty() ? Box{x0, anchors[i][1] - 6 - height, x0 + w, anchors[i][1] - 6}
                              : c.front());
  }
  return boxes;
}

namespace {

// What the picture shows, gathered once from the data.
struct Scene {
  double length = 1000;  // metres shown
  int shown_cells = 0;   // the cells within them
  std::vector<Station> stations;
  std::vector<CellRun> tunnels;
  std::vector<SlowOrderSpan> orders;
  std::vector<int> signals;  // cells
};

// How much of the line to show: its length from record 84, within the grid.
double shown_length(const PlotData& data) {
  const double grid_metres = static_cast<double>(data.cells.size()) * 50;
  double length = LineDataRecord(data.items[kLineDataRecord]).line_length;
  if (length <= 0 || length > grid_metres) length = grid_metres;
  if (length <= 0) length = 1000;
  return length;
}

Scene scene_of(const PlotData& data) {
  const std::vector<TrackCell>& cells = data.cells;
  Scene scene;
  scene.length = shown_length(data);
  scene.shown_cells =
      std::min(static_cast<int>(cells.size()), static_cast<int>(std::ceil(scene.length / 50)));
  for (int i : station_indexes(data.items)) {
    const StationRecord st(data.items[static_cast<size_t>(i)]);
    scene.stations.push_back({i, st.name, st.position, st.extent_start, st.extent_end});
  }
  scene.tunnels = tunnel_runs(cells);
  scene.orders = slow_orders(cells);
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].kind == kSignal) scene.signals.push_back(static_cast<int>(i));
  }
  return scene;
}

// --- Title ----------------------------------------------------------------------------------

// The title and a line of figures about the scenario, above kTitleBottom.
constexpr double kTitleBottom = 72;

std::string title_block(const std::string& title, const Scene& scene) {
  std::string out = text(kLeft, 34, xml(title), "font-size=\"22\" font-weight=\"bold\"");
  char facts[200];
  std::snprintf(facts, sizeof facts,
                "%.1f km, %zu stations, %zu tunnels, %zu signals, %zu slow orders",
                scene.length / 1000, scene.stations.size(), scene.tunnels.size(),
                scene.signals.size(), scene.orders.size());
  out += text(kLeft, 56, facts, "font-size=\"14\" fill=\"#555555\"");
  return out;
}

// --- The plan -------------------------------------------------------------------------------

// Room above and below the plan for the station names.
constexpr double kPlanLabelRoom = kLabelRows * (kLabelHeight + 2) + 8;

// The plan as laid out on the page.
struct PlanLayout {
  PlanView view;
  int64_t last = 0;  // the last metre drawn
  int64_t step = 1;  // between the metres drawn
  std::vector<int64_t> metres;
  double along = 1;  // metres from end to end of the turned plan, at least 1
  double panel_top = 0;
  double panel_bottom = 0;
};

// The last metre within `length` that has a point; 0 or less when no metre after 0 has one.
int64_t last_plan_metre(const Plan& plan, double length) {
  int64_t last =
      std::min<int64_t>(static_cast<int64_t>(length), static_cast<int64_t>(plan.x.size()) - 1);
  double x, y;
  while (last > 0 && !plan_point(plan, last, x, y)) --last;
  return last;
}

// The extent of the points at `metres`, along (u) and across (v) the view's level line.
struct PlanExtent {
  double umin = 1e300, umax = -1e300, vmin = 1e300, vmax = -1e300;
};

PlanExtent plan_extent(const Plan& plan, const PlanView& view, const std::vector<int64_t>& metres) {
  PlanExtent e;
  for (int64_t m : metres) {
    double x, y;
    if (!plan_point(plan, m, x, y)) continue;
    double u = (x - view.ox) * view.cx + (y - view.oy) * view.cy;
    double v = -(x - view.ox) * view.cy + (y - view.oy) * view.cx;
    e.umin = std::min(e.umin, u);
    e.umax = std::max(e.umax, u);
    e.vmin = std::min(e.vmin, v);
    e.vmax = std::max(e.vmax, v);
  }
  return e;
}

// The plan turned level and scaled into a panel from `top` down; nullopt when it has no point at
// metre 0 or none after it.
std::optional<PlanLayout> fit_plan(const Plan& plan, double length, double top) {
  PlanLayout p;
  p.last = last_plan_metre(plan, length);
  double x0 = 0, y0 = 0;
  if (p.last <= 0 || !plan_point(plan, 0, x0, y0)) return std::nullopt;
  p.view.ox = x0;
  p.view.oy = y0;
  double x1, y1;
  plan_point(plan, p.last, x1, y1);
  double chord = std::hypot(x1 - x0, y1 - y0);
  if (chord > 0) {
    p.view.cx = (x1 - x0) / chord;
    p.view.cy = (y1 - y0) / chord;
  }
  p.step = std::max<int64_t>(1, p.last / 4000);
  p.metres = plan_metres(0, p.last, p.step);
  const PlanExtent e = plan_extent(plan, p.view, p.metres);
  p.along = std::max(e.umax - e.umin, 1.0);
  const double across = std::max(e.vmax - e.vmin, 1.0);
  p.view.scale = std::min(drawing_width() / p.along, kPlanMaxHeight / across);
  p.view.umin = e.umin;
  p.view.vmax = e.vmax;
  p.view.left = kLeft + (drawing_width() - p.along * p.view.scale) / 2;
  p.view.top = top + 24 + kPlanLabelRoom;
  p.view.height = across * p.view.scale;
  p.panel_top = top + 4;
  p.panel_bottom = p.view.top + p.view.height + kPlanLabelRoom;
  return p;
}

std::string plan_frame(const PlanLayout& p) {
  return rect(kLeft - 10, p.panel_top, kWidth - kRight + 10, p.panel_bottom + 30,
              "fill=\"#fafafa\" stroke=\"#cccccc\"") +
         text(kLeft, p.panel_top + 18, "Plan of the line",
              "font-size=\"14\" font-weight=\"bold\"") +
         text(kLeft + 130, p.panel_top + 18,
              "start on the left, turned so that both ends are level; same scale both ways",
              "font-size=\"12\" fill=\"#555555\"");
}

// The track, the tunnels over it and the signals on it.
std::string plan_track(const Plan& plan, const PlanLayout& p, const Scene& scene) {
  std::string out =
      polyline(plan, p.view, p.metres,
               "stroke=\"" + std::string(palette::kTrack) + "\" stroke-width=\"1.6\"");
  for (const CellRun& t : scene.tunnels) {
    int64_t from = t.first * 50LL;
    int64_t to = std::min<int64_t>((t.last + 1) * 50LL, p.last);
    if (from >= to) continue;
    out += polyline(plan, p.view, plan_metres(from, to, std::max<int64_t>(1, p.step / 4)),
                    "class=\"tunnel-on-plan\" stroke=\"" + std::string(palette::kTunnel) +
                        "\" stroke-width=\"6\" stroke-opacity=\"0.75\"");
  }
  for (int c : scene.signals) {
    double x, y;
    if (!plan_point(plan, c * 50LL, x, y)) continue;
    out += "<circle class=\"signal\" cx=\"" + num(p.view.sx(x, y)) + "\" cy=\"" +
           num(p.view.sy(x, y)) + "\" r=\"1.8\" fill=\"" + palette::kSignal + "\"/>\n";
  }
  return out;
}

// Small boxes along the drawn track, at least 4 pixels apart, for the names to keep clear of.
std::vector<Box> track_obstacles(const Plan& plan, const PlanLayout& p) {
  std::vector<Box> obstacles;
  double prev_x = -1e9, prev_y = -1e9;
  for (int64_t m : p.metres) {
    double x, y;
    if (!plan_point(plan, m, x, y)) continue;
    double sx = p.view.sx(x, y), sy = p.view.sy(x, y);
    if (std::hypot(sx - prev_x, sy - prev_y) < 4) continue;
    obstacles.push_back({sx - 2, sy - 2, sx + 2, sy + 2});
    prev_x = sx;
    prev_y = sy;
  }
  return obstacles;
}

// One station on the plan: its mark at `anchor`, its name in `label`, a leader line between
// them when they are apart.
std::string plan_station(const Station& s, const std::array<double, 2>& anchor, const Box& label) {
  const double ax = anchor[0], ay = anchor[1];
  std::string out = "<g class=\"station-on-plan\"><title>" + xml(s.name) + ", " +
                    km_text(s.position) + "</title>\n";
  const auto [lx, ly] = leader_end(anchor, label);
  if (std::hypot(lx - ax, ly - ay) > 8) {
    out += line(ax, ay, lx, ly, "stroke=\"#888888\" stroke-width=\"0.8\"");
  }
  out += "<circle cx=\"" + num(ax) + "\" cy=\"" + num(ay) + "\" r=\"4\" fill=\"white\" " +
         "stroke=\"" + palette::kStation + "\" stroke-width=\"2\"/>\n";
  out += text((label.x0 + label.x1) / 2, label.y1 - 3, xml(s.name),
              "font-size=\"11\" text-anchor=\"middle\"");
  out += "</g>\n";
  return out;
}

// The stations on the plan and their names, kept clear of each other and of the track.
std::string plan_stations(const Plan& plan, const PlanLayout& p,
                          const std::vector<Station>& stations) {
  std::vector<Box> obstacles = track_obstacles(plan, p);
  std::vector<std::array<double, 2>> anchors;
  std::vector<double> widths;
  std::vector<const Station*> drawn;
  for (const Station& s : stations) {
    double x, y;
    if (!plan_point(plan, s.position, x, y)) continue;
    anchors.push_back({p.view.sx(x, y), p.view.sy(x, y)});
    widths.push_back(text_width(s.name, kLabelFont) + 4);
    drawn.push_back(&s);
    obstacles.push_back({anchors.back()[0] - 5, anchors.back()[1] - 5, anchors.back()[0] + 5,
                         anchors.back()[1] + 5});
  }
  const Box area{kLeft - 8, p.view.top - kPlanLabelRoom, kWidth - kRight + 8,
                 p.view.top + p.view.height + kPlanLabelRoom};
  std::vector<Box> labels =
      place_labels(anchors, widths, kLabelHeight, obstacles, kLabelRows, area);
  std::string out;
  for (size_t i = 0; i < drawn.size(); ++i) out += plan_station(*drawn[i], anchors[i], labels[i]);
  return out;
}

std::string scale_bar(const PlanLayout& p) {
  const double bar_metres = nice_step(p.along, 8);
  const double bar_y = p.panel_bottom + 18;
  const double bar_end = kLeft + bar_metres * p.view.scale;
  const std::string ink = "stroke=\"" + std::string(palette::kInk) + "\"";
  return line(kLeft, bar_y, bar_end, bar_y, ink + " stroke-width=\"2\"") +
         line(kLeft, bar_y - 4, kLeft, bar_y + 4, ink) +
         line(bar_end, bar_y - 4, bar_end, bar_y + 4, ink) +
         text(bar_end + 8, bar_y + 4, num(bar_metres / 1000) + " km", "font-size=\"12\"");
}

// The plan panel from `top` down, and `top` moved below it; nothing when the plan cannot be
// levelled.
std::string plan_panel(const Plan& plan, const Scene& scene, double& top) {
  std::optional<PlanLayout> p = fit_plan(plan, scene.length, top);
  if (!p) return "";
  std::string out = plan_frame(*p);
  out += "<g class=\"plan\">\n";
  out += plan_track(plan, *p, scene);
  out += plan_stations(plan, *p, scene.stations);
  out += "</g>\n";
  out += scale_bar(*p);
  top = p->panel_bottom + 44;
  return out;
}

// --- The profiles ---------------------------------------------------------------------------

// The station names, then the gradient and speed panels over a common kilometre axis.
struct Profiles {
  KmAxis km;
  double names_bottom = 0;  // the station names stand on this line
  ValueAxis gradient;
  double gradient_step = 1;
  ValueAxis speed;
  double speed_step = 1;
  double strip_top = 0;  // the lanes of signals, boards and code points, under the speed panel
  double axis_y = 0;     // the kilometre axis, under the lanes
};

// The lanes under the speed panel, each kLaneHeight high.
constexpr double kLaneHeight = 9;
constexpr int kLanes = 3;

double gradient_of(const TrackCell& c) {
  return written_gradient(c.gradient_code);
}

double speed_of(const TrackCell& c) {
  return speed_limit_kmh(c.speed_limit);
}

// The profiles from `top` down, with room above them for the longest station name.
Profiles profiles_below(double top, const Scene& scene, const std::vector<TrackCell>& cells) {
  Profiles p;
  p.km = KmAxis{scene.length};
  double name_room = 0;
  for (const Station& s : scene.stations) {
    name_room = std::max(name_room, text_width(s.name, kLabelFont));
  }
  const double names_top = top + 10;
  p.names_bottom = names_top + name_room + 4;
  const double grad_top = p.names_bottom + 16;
  double gmin = 0, gmax = 0, smax = 0;
  for (int i = 0; i < scene.shown_cells; ++i) {
    double g = gradient_of(cells[static_cast<size_t>(i)]);
    gmin = std::min(gmin, g);
    gmax = std::max(gmax, g);
    smax = std::max(smax, speed_of(cells[static_cast<size_t>(i)]));
  }
  p.gradient_step = nice_step(std::max(gmax - gmin, 1.0), 5);
  p.gradient = value_axis(grad_top, gmin, gmax, p.gradient_step);
  p.speed_step = nice_step(std::max(smax, 10.0), 5);
  p.speed = value_axis(grad_top + kProfileHeight + kPanelGap, 0, smax, p.speed_step);
  p.strip_top = p.speed.top + p.speed.height + 4;
  p.axis_y = p.strip_top + kLanes * kLaneHeight + 2;
  return p;
}

// A band from metre `from` to metre `to` over both panels.
std::string both_panels(const Profiles& p, double from, double to, const std::string& attrs) {
  return rect(p.km.x(from), p.gradient.top, p.km.x(to), p.gradient.top + p.gradient.height, attrs) +
         rect(p.km.x(from), p.speed.top, p.km.x(to), p.speed.top + p.speed.height, attrs);
}

std::string tunnel_shading(const Profiles& p, const std::vector<CellRun>& tunnels) {
  const double length = p.km.length;
  std::string out = "<g class=\"tunnels\">\n";
  for (const CellRun& t : tunnels) {
    if (t.first * 50.0 >= length) continue;
    out += "<g class=\"tunnel\"><title>tunnel, " + km_text(t.first * 50) + " to " +
           km_text((t.last + 1) * 50) + "</title>\n" +
           both_panels(p, t.first * 50.0, std::min((t.last + 1) * 50.0, length),
                       "fill=\"" + std::string(palette::kTunnel) + "\" fill-opacity=\"0.28\"") +
           "</g>\n";
  }
  out += "</g>\n";
  return out;
}

// Each slow order shaded over both panels.
std::string slow_order_shading(const Profiles& p, const std::vector<SlowOrderSpan>& orders) {
  std::string out = "<g class=\"slow-orders\">\n";
  for (const SlowOrderSpan& o : orders) {
    const double from = o.cells.first * 50.0, to = o.cells.last * 50.0;
    out += "<g class=\"slow-order\"><title>slow order " + std::to_string(o.speed) + " km/h, " +
           km_text(o.cells.first * 50) + " to " + km_text(o.cells.last * 50) + "</title>\n" +
           both_panels(p, from, to,
                       "fill=\"" + std::string(palette::kSlowOrder) + "\" fill-opacity=\"0.45\"") +
           "</g>\n";
  }
  out += "</g>\n";
  return out;
}

// The limit in force under each slow order, a dashed step curve over the speed limit.
std::string limit_in_force_curves(const Profiles& p, const std::vector<SlowOrderSpan>& orders,
                                  const std::vector<int>& in_force, int shown_cells) {
  std::string out = "<g class=\"limit-in-force\">\n";
  for (const SlowOrderSpan& o : orders) {
    const int first = o.cells.first;
    const int stop = std::min(shown_cells, std::max(o.cells.last, first + 1));
    if (first >= stop) continue;
    auto at = [&](int i) { return in_force[static_cast<size_t>(i)]; };
    std::string d = "M";
    d += num(p.km.x(first * 50.0));
    d += ' ';
    d += num(p.speed.y(at(first)));
    for (int i = first + 1; i < stop; ++i) {
      if (at(i) == at(i - 1)) continue;
      d += 'H';
      d += num(p.km.x(i * 50.0));
      d += 'V';
      d += num(p.speed.y(at(i)));
    }
    d += 'H';
    d += num(p.km.x(stop * 50.0));
    out += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + palette::kInForce +
           "\" stroke-width=\"2.2\" stroke-dasharray=\"4 2\"/>\n";
  }
  out += "</g>\n";
  return out;
}

// A text on a white halo, so that it stays readable over bands and curves.
std::string halo_text(double x, double y, const std::string& content, const std::string& attrs) {
  return text(x, y, content, attrs + " stroke=\"white\" stroke-width=\"3\" paint-order=\"stroke\"");
}

// The speed of each slow order above its limit in force, drawn after everything else; a label
// that would overlap the one before it goes one row higher.
std::string slow_order_labels(const Profiles& p, const std::vector<SlowOrderSpan>& orders) {
  std::string out = "<g class=\"slow-order-labels\">\n";
  std::vector<Box> placed;
  for (const SlowOrderSpan& o : orders) {
    const std::string label = std::to_string(o.speed) + " km/h";
    const double w = text_width(label, 11) + 4;
    const double x = std::min(p.km.x(o.cells.first * 50.0), kWidth - kRight - w);
    double y = std::max(p.speed.y(o.speed) - 5, p.speed.top + 12);
    Box box{x, y - 11, x + w, y + 2};
    while (
        std::any_of(placed.begin(), placed.end(), [&](const Box& b) { return overlap(b, box); })) {
      y -= 13;
      box = {x, y - 11, x + w, y + 2};
    }
    placed.push_back(box);
    out += halo_text(x, y, label,
                     "class=\"slow-order-label\" font-size=\"11\" font-weight=\"bold\" fill=\"" +
                         std::string(palette::kSlowOrder) + "\"");
  }
  out += "</g>\n";
  return out;
}

// What a cell is drawn as in the lanes under the speed panel: its lane (0 signals, 1 boards,
// 2 code points), class and colour; lane -1 for the cells not drawn there.
struct LaneMark {
  int lane = -1;
  const char* name = "";
  const char* colour = "";
};

LaneMark lane_mark(const TrackCell& c) {
  switch (c.kind) {
    case kSignal:
      return {0, "signal-mark", palette::kSignal};
    case kSpeedBoard:
      return {1, "speed-board", palette::kSpeed};
    case kIndicationBoard:
      return {1, "indication-board", palette::kBoard};
    case kCodePoint:
      // Without the sources the code tells: the cab-code pass inserts kInsertedCode.
      return CodePointCell(c).code == kInsertedCode
                 ? LaneMark{2, "code-point inserted", palette::kInserted}
                 : LaneMark{2, "code-point written", palette::kBoard};
    case kCodePointNoCode:
      return {2, "code-point no-code", palette::kNoCode};
    default:
      return {};
  }
}

// Signals, boards and code points as ticks in three lanes under the speed panel.
std::string cell_lanes(const Profiles& p, const std::vector<TrackCell>& cells, int shown_cells) {
  std::string out = "<g class=\"lanes\">\n";
  const char* captions[kLanes] = {"signals", "boards", "code points"};
  for (int lane = 0; lane < kLanes; ++lane) {
    const double top = p.strip_top + lane * kLaneHeight;
    out += rect(kLeft, top, kWidth - kRight, top + kLaneHeight - 1, "fill=\"#f4f4f4\"");
    out += text(kLeft - 8, top + kLaneHeight - 1, captions[lane],
                "font-size=\"9\" text-anchor=\"end\" fill=\"#555555\"");
  }
  for (int i = 0; i < shown_cells; ++i) {
    const LaneMark m = lane_mark(cells[static_cast<size_t>(i)]);
    if (m.lane < 0) continue;
    const double top = p.strip_top + m.lane * kLaneHeight;
    out += "<rect class=\"" + std::string(m.name) + "\" x=\"" + num(p.km.x(i * 50.0) - 0.6) +
           "\" y=\"" + num(top) + "\" width=\"1.6\" height=\"" + num(kLaneHeight - 1) +
           "\" fill=\"" + m.colour + "\"><title>" +
           cell_kind_name(cells[static_cast<size_t>(i)].kind) + ", cell " + std::to_string(i) +
           " (" + std::to_string(i * 50) + " m)</title></rect>\n";
  }
  out += "</g>\n";
  return out;
}

// One station over the profiles: its extent shaded, a line down at its position `ax`, and its
// name standing at `name_x`.
std::string station_mark(const Profiles& p, const Station& s, double ax, double name_x) {
  const std::string colour = "stroke=\"" + std::string(palette::kStation) + "\"";
  std::string out = "<g class=\"station\"><title>" + xml(s.name) + ", " + km_text(s.position) +
                    " (record " + std::to_string(s.index) + ")</title>\n";
  out += both_panels(p, std::max<double>(s.from, 0), std::min<double>(s.to, p.km.length),
                     "fill=\"" + std::string(palette::kStation) + "\" fill-opacity=\"0.3\"");
  out += line(name_x, p.names_bottom + 2, ax, p.gradient.top, colour);
  out += line(ax, p.gradient.top, ax, p.axis_y, colour + " stroke-width=\"0.6\"");
  out += "<text transform=\"translate(" + num(name_x + 4) + " " + num(p.names_bottom) +
         ") rotate(-90)\" font-size=\"11\">" + xml(s.name) + "</text>\n";
  out += "</g>\n";
  return out;
}

// The stations in order along the axis, their names spread so that none overlap.
std::string station_marks(const Profiles& p, const std::vector<Station>& stations) {
  std::vector<double> anchors;
  for (const Station& s : stations) anchors.push_back(p.km.x(s.position));
  std::vector<size_t> order(stations.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return anchors[a] < anchors[b]; });
  std::vector<double> sorted;
  for (size_t i : order) sorted.push_back(anchors[i]);
  std::vector<double> centres = spread_labels(sorted, kLabelHeight, kLeft, kWidth - kRight);
  std::string out = "<g class=\"stations\">\n";
  for (size_t k = 0; k < order.size(); ++k) {
    out += station_mark(p, stations[order[k]], anchors[order[k]], centres[k]);
  }
  out += "</g>\n";
  return out;
}

// Grid lines and ticks along the kilometre axis, and its caption.
std::string km_axis(const Profiles& p) {
  const double length = p.km.length;
  const double km_step = nice_step(length, 14);
  const std::string grid_attrs = "stroke=\"" + std::string(palette::kPlotGrid) + "\"";
  std::string out;
  for (double m = 0; m <= length + 1e-6; m += km_step) {
    const double x = p.km.x(m);
    out += line(x, p.gradient.top, x, p.gradient.top + p.gradient.height, grid_attrs);
    out += line(x, p.speed.top, x, p.speed.top + p.speed.height, grid_attrs);
    out += line(x, p.axis_y, x, p.axis_y + 5, "stroke=\"" + std::string(palette::kInk) + "\"");
    out += text(x, p.axis_y + 18, num(m / 1000), "font-size=\"12\" text-anchor=\"middle\"");
  }
  out += text(kLeft + drawing_width() / 2, p.axis_y + 38, "distance along the line (km)",
              "font-size=\"13\" text-anchor=\"middle\"");
  return out;
}

// A panel's grid lines, value ticks, frame and caption.
std::string value_ticks(const ValueAxis& a, double step, const std::string& caption) {
  std::string out;
  for (double v = a.lo; v <= a.hi + step / 1000; v += step) {
    out += line(kLeft, a.y(v), kWidth - kRight, a.y(v),
                "stroke=\"" + std::string(v == 0 ? "#999999" : palette::kPlotGrid) + "\"");
    out += text(kLeft - 8, a.y(v) + 4, num(v), "font-size=\"12\" text-anchor=\"end\"");
  }
  out += rect(kLeft, a.top, kWidth - kRight, a.top + a.height,
              "fill=\"none\" stroke=\"" + std::string(palette::kInk) + "\"");
  out += "<text transform=\"translate(" + num(kLeft - 52) + " " + num(a.top + a.height / 2) +
         ") rotate(-90)\" font-size=\"13\" text-anchor=\"middle\">" + caption + "</text>\n";
  return out;
}

// The gradient, filled down to 0, and the speed limit, as steps over the cells shown.
std::string profile_curves(const Profiles& p, const std::vector<TrackCell>& cells,
                           int shown_cells) {
  if (shown_cells <= 0) return "";
  auto gradient = [&](int i) { return gradient_of(cells[static_cast<size_t>(i)]); };
  auto speed = [&](int i) { return speed_of(cells[static_cast<size_t>(i)]); };
  const std::string gpath = step_path(p.km, p.gradient, shown_cells, gradient);
  const std::string spath = step_path(p.km, p.speed, shown_cells, speed);
  return "<path class=\"gradient\" d=\"" + gpath + "V" + num(p.gradient.y(0)) + "H" +
         num(p.km.x(0)) + "Z\" fill=\"" + palette::kGradient +
         "\" fill-opacity=\"0.15\" stroke=\"none\"/>\n" + "<path d=\"" + gpath +
         "\" fill=\"none\" stroke=\"" + palette::kGradient + "\" stroke-width=\"1.5\"/>\n" +
         "<path class=\"speed\" d=\"" + spath + "\" fill=\"none\" stroke=\"" + palette::kSpeed +
         "\" stroke-width=\"1.8\"/>\n";
}

// --- Legend ---------------------------------------------------------------------------------

// A row of legend items, each a swatch 20 pixels wide and its label, set left to right.
struct LegendRow {
  double y = 0;
  double x = kLeft;  // where the next swatch goes
  std::string out;
};

// Starts a new row of the legend when `label` would not fit on this one.
void wrap_legend(LegendRow& row, const std::string& label) {
  if (row.x + 26 + text_width(label, 12) <= kWidth - kRight) return;
  row.x = kLeft;
  row.y += 20;
}

void add_item(LegendRow& row, const std::string& swatch, const std::string& label) {
  row.out += swatch;
  row.out += text(row.x + 26, row.y + 4, label, "font-size=\"12\"");
  row.x += 26 + text_width(label, 12) + 22;
}

std::string band_swatch(const LegendRow& row, const char* colour, const char* opacity) {
  return rect(row.x, row.y - 6, row.x + 20, row.y + 6,
              "fill=\"" + std::string(colour) + "\" fill-opacity=\"" + opacity + "\"");
}

std::string line_swatch(const LegendRow& row, const char* colour, const std::string& attrs) {
  return line(row.x, row.y, row.x + 20, row.y, "stroke=\"" + std::string(colour) + "\" " + attrs);
}

std::string tick_swatch(const LegendRow& row, const char* colour) {
  return rect(row.x + 9, row.y - 5, row.x + 11, row.y + 5, "fill=\"" + std::string(colour) + "\"");
}

// The legend from `y` down; `y` is moved to its last row.
std::string legend(double& y, bool with_plan) {
  LegendRow row;
  row.y = y;
  using Swatch = std::string (*)(const LegendRow&);
  struct Item {
    Swatch swatch;
    std::string label;
  };
  std::vector<Item> items = {
      {[](const LegendRow& r) { return band_swatch(r, palette::kStation, "0.3"); },
       "station (extent)"},
      {[](const LegendRow& r) { return band_swatch(r, palette::kTunnel, "0.28"); }, "tunnel"},
      {[](const LegendRow& r) { return band_swatch(r, palette::kSlowOrder, "0.45"); },
       "slow order"},
      {[](const LegendRow& r) { return line_swatch(r, palette::kGradient, "stroke-width=\"2\""); },
       "gradient"},
      {[](const LegendRow& r) { return line_swatch(r, palette::kSpeed, "stroke-width=\"2\""); },
       "speed limit"},
      {[](const LegendRow& r) {
         return line_swatch(r, palette::kInForce, "stroke-width=\"2\" stroke-dasharray=\"4 2\"");
       },
       "limit in force under slow orders"},
      {[](const LegendRow& r) { return tick_swatch(r, palette::kSignal); }, "signal"},
      {[](const LegendRow& r) { return tick_swatch(r, palette::kSpeed); }, "speed board"},
      {[](const LegendRow& r) { return tick_swatch(r, palette::kBoard); },
       "indication board, written code point"},
      {[](const LegendRow& r) { return tick_swatch(r, palette::kInserted); },
       "code point inserted by the compile (code " + std::to_string(kInsertedCode) + ")"},
  };
  if (with_plan) {
    items.push_back({[](const LegendRow& r) {
                       return "<circle cx=\"" + num(r.x + 10) + "\" cy=\"" + num(r.y) +
                              "\" r=\"2.5\" fill=\"" + palette::kSignal + "\"/>";
                     },
                     "signal (plan)"});
    items.push_back({[](const LegendRow& r) {
                       return line_swatch(r, palette::kTunnel,
                                          "stroke-width=\"6\" stroke-opacity=\"0.75\"");
                     },
                     "tunnel (plan)"});
  }
  for (const Item& item : items) {
    wrap_legend(row, item.label);
    add_item(row, item.swatch(row), item.label);
  }
  y = row.y;
  return "<g class=\"legend\">\n" + row.out + "</g>\n";
}

std::string svg_document(const std::string& title, const std::string& body, double height) {
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kWidth) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(kWidth) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" fill=\"" + palette::kInk +
         "\">\n";
  svg += "<title>" + xml(title) + "</title>\n";
  svg += rect(0, 0, kWidth, height, "fill=\"white\"");
  svg += body;
  svg += "</svg>\n";
  return svg;
}

}  // namespace

std::string plot_svg(const PlotData& data) {
  const Scene scene = scene_of(data);
  const std::string title = data.line_id + ", train " + data.train_number;
  std::string body = title_block(title, scene);
  double y = kTitleBottom;
  if (data.plan) body += plan_panel(*data.plan, scene, y);
  const Profiles p = profiles_below(y, scene, data.cells);
  body += tunnel_shading(p, scene.tunnels);
  body += slow_order_shading(p, scene.orders);
  body += station_marks(p, scene.stations);
  body += km_axis(p);
  body += value_ticks(p.gradient, p.gradient_step, "gradient (&#8240;)");
  body += value_ticks(p.speed, p.speed_step, "speed limit (km/h)");
  body += profile_curves(p, data.cells, scene.shown_cells);
  body += limit_in_force_curves(p, scene.orders, limit_in_force(data.cells), scene.shown_cells);
  body += cell_lanes(p, data.cells, scene.shown_cells);
  body += slow_order_labels(p, scene.orders);
  double legend_y = p.axis_y + 62;
  body += legend(legend_y, data.plan.has_value());
  return svg_document(title, body, legend_y + 24);
}

}  // namespace compactor
