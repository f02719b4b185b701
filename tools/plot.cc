#include "tools/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace compactor {

namespace {

// Page layout, in pixels.
constexpr double kWidth = 1600;
constexpr double kLeft = 90;   // left edge of the drawing area
constexpr double kRight = 40;  // margin right of it
constexpr double kPlanMaxHeight = 300;
constexpr double kLabelFont = 11;
constexpr double kLabelHeight = 14;
constexpr int kLabelRows = 3;
constexpr double kProfileHeight = 170;
constexpr double kPanelGap = 22;

// Colours.
constexpr const char* kInk = "#222222";
constexpr const char* kGridLine = "#dddddd";
constexpr const char* kTrackColour = "#3a3a3a";
constexpr const char* kTunnelColour = "#7b6f63";
constexpr const char* kStationColour = "#2a9d8f";
constexpr const char* kSlowOrderColour = "#e76f51";
constexpr const char* kSignalColour = "#c1121f";
constexpr const char* kGradientColour = "#8d5524";
constexpr const char* kSpeedColour = "#1d4e89";

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
    out.push_back({{i, std::min(end, count - 1)}, cells[static_cast<size_t>(i)].param1});
  }
  return out;
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

std::vector<Box> place_labels(const std::vector<std::array<double, 2>>& anchors,
                              const std::vector<double>& widths, double height,
                              const std::vector<Box>& obstacles, int rows, const Box& area) {
  std::vector<Box> placed;
  constexpr double kOffset = 6;  // between an anchor and the nearest label edge
  for (size_t i = 0; i < anchors.size(); ++i) {
    const double ax = anchors[i][0];
    const double ay = anchors[i][1];
    const double w = widths[i];
    std::vector<Box> candidates;
    for (int r = 0; r < rows; ++r) {
      double above = ay - kOffset - r * (height + 2);
      double below = ay + kOffset + r * (height + 2);
      for (double shift : {0.0, 0.5, -0.5, 1.0, -1.0}) {
        double x0 = ax - w / 2 + shift * w;
        for (Box b :
             {Box{x0, above - height, x0 + w, above}, Box{x0, below, x0 + w, below + height}}) {
          if (b.x0 >= area.x0 && b.x1 <= area.x1 && b.y0 >= area.y0 && b.y1 <= area.y1) {
            candidates.push_back(b);
          }
        }
      }
    }
    if (candidates.empty()) {
      // Too wide or too near an edge for any row: the first row above, pushed inside the area.
      double x0 = std::clamp(ax - w / 2, area.x0, std::max(area.x0, area.x1 - w));
      candidates.push_back({x0, ay - kOffset - height, x0 + w, ay - kOffset});
    }
    Box chosen = candidates.front();
    for (const Box& c : candidates) {
      auto hits = [&](const Box& b) { return overlap(c, b); };
      if (std::none_of(placed.begin(), placed.end(), hits) &&
          std::none_of(obstacles.begin(), obstacles.end(), hits)) {
        chosen = c;
        break;
      }
    }
    placed.push_back(chosen);
  }
  return placed;
}

std::string plot_svg(const PlotData& data) {
  const std::vector<TrackCell>& cells = data.cells;

  // How much of the line to show: its length from record 84, within the grid.
  const double grid_metres = static_cast<double>(cells.size()) * 50;
  double length = data.items[84].value2;
  if (length <= 0 || length > grid_metres) length = grid_metres;
  if (length <= 0) length = 1000;
  const KmAxis km{length};
  const int shown_cells =
      std::min(static_cast<int>(cells.size()), static_cast<int>(std::ceil(length / 50)));

  std::vector<Station> stations;
  for (int i : station_indexes(data.items)) {
    const ScenarioItem& r = data.items[static_cast<size_t>(i)];
    stations.push_back({i, r.text, r.value3, r.value1, r.value2});
  }
  std::vector<CellRun> tunnels = tunnel_runs(cells);
  std::vector<SlowOrderSpan> orders = slow_orders(cells);
  std::vector<int> signals;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].kind == kSignal) signals.push_back(static_cast<int>(i));
  }

  std::string body;
  double y = 0;

  // Title.
  const std::string title = data.line_id + ", train " + data.train_number;
  body += text(kLeft, 34, xml(title), "font-size=\"22\" font-weight=\"bold\"");
  char facts[200];
  std::snprintf(facts, sizeof facts,
                "%.1f km, %zu stations, %zu tunnels, %zu signals, %zu slow orders", length / 1000,
                stations.size(), tunnels.size(), signals.size(), orders.size());
  body += text(kLeft, 56, facts, "font-size=\"14\" fill=\"#555555\"");
  y = 72;

  // The plan.
  if (data.plan) {
    const Plan& plan = *data.plan;
    int64_t last =
        std::min<int64_t>(static_cast<int64_t>(length), static_cast<int64_t>(plan.x.size()) - 1);
    double px, py;
    while (last > 0 && !plan_point(plan, last, px, py)) --last;
    double x0 = 0, y0 = 0;
    if (last > 0 && plan_point(plan, 0, x0, y0)) {
      PlanView view;
      view.ox = x0;
      view.oy = y0;
      double x1, y1;
      plan_point(plan, last, x1, y1);
      double chord = std::hypot(x1 - x0, y1 - y0);
      if (chord > 0) {
        view.cx = (x1 - x0) / chord;
        view.cy = (y1 - y0) / chord;
      }
      const int64_t step = std::max<int64_t>(1, last / 4000);
      const std::vector<int64_t> metres = plan_metres(0, last, step);
      double umin = 1e300, umax = -1e300, vmin = 1e300, vmax = -1e300;
      for (int64_t m : metres) {
        double x, yy;
        if (!plan_point(plan, m, x, yy)) continue;
        double u = (x - x0) * view.cx + (yy - y0) * view.cy;
        double v = -(x - x0) * view.cy + (yy - y0) * view.cx;
        umin = std::min(umin, u);
        umax = std::max(umax, u);
        vmin = std::min(vmin, v);
        vmax = std::max(vmax, v);
      }
      const double du = std::max(umax - umin, 1.0);
      const double dv = std::max(vmax - vmin, 1.0);
      view.scale = std::min(drawing_width() / du, kPlanMaxHeight / dv);
      view.umin = umin;
      view.vmax = vmax;
      view.left = kLeft + (drawing_width() - du * view.scale) / 2;
      const double label_room = kLabelRows * (kLabelHeight + 2) + 8;
      view.top = y + 24 + label_room;
      view.height = dv * view.scale;

      const double panel_top = y + 4;
      const double panel_bottom = view.top + view.height + label_room;
      body += rect(kLeft - 10, panel_top, kWidth - kRight + 10, panel_bottom + 30,
                   "fill=\"#fafafa\" stroke=\"#cccccc\"");
      body +=
          text(kLeft, panel_top + 18, "Plan of the line", "font-size=\"14\" font-weight=\"bold\"");
      body += text(kLeft + 130, panel_top + 18,
                   "start on the left, turned so that both ends are level; same scale both ways",
                   "font-size=\"12\" fill=\"#555555\"");

      body += "<g class=\"plan\">\n";
      body += polyline(plan, view, metres,
                       "stroke=\"" + std::string(kTrackColour) + "\" stroke-width=\"1.6\"");
      for (const CellRun& t : tunnels) {
        int64_t from = t.first * 50LL;
        int64_t to = std::min<int64_t>((t.last + 1) * 50LL, last);
        if (from >= to) continue;
        body += polyline(plan, view, plan_metres(from, to, std::max<int64_t>(1, step / 4)),
                         "class=\"tunnel-on-plan\" stroke=\"" + std::string(kTunnelColour) +
                             "\" stroke-width=\"6\" stroke-opacity=\"0.75\"");
      }
      for (int c : signals) {
        double x, yy;
        if (!plan_point(plan, c * 50LL, x, yy)) continue;
        body += "<circle class=\"signal\" cx=\"" + num(view.sx(x, yy)) + "\" cy=\"" +
                num(view.sy(x, yy)) + "\" r=\"1.8\" fill=\"" + kSignalColour + "\"/>\n";
      }

      // Stations and their names, kept clear of each other and of the track.
      std::vector<Box> obstacles;
      double prev_x = -1e9, prev_y = -1e9;
      for (int64_t m : metres) {
        double x, yy;
        if (!plan_point(plan, m, x, yy)) continue;
        double sx = view.sx(x, yy), sy = view.sy(x, yy);
        if (std::hypot(sx - prev_x, sy - prev_y) < 4) continue;
        obstacles.push_back({sx - 2, sy - 2, sx + 2, sy + 2});
        prev_x = sx;
        prev_y = sy;
      }
      std::vector<std::array<double, 2>> anchors;
      std::vector<double> widths;
      std::vector<const Station*> drawn;
      for (const Station& s : stations) {
        double x, yy;
        if (!plan_point(plan, s.position, x, yy)) continue;
        anchors.push_back({view.sx(x, yy), view.sy(x, yy)});
        widths.push_back(text_width(s.name, kLabelFont) + 4);
        drawn.push_back(&s);
        obstacles.push_back({anchors.back()[0] - 5, anchors.back()[1] - 5, anchors.back()[0] + 5,
                             anchors.back()[1] + 5});
      }
      const Box area{kLeft - 8, view.top - label_room, kWidth - kRight + 8,
                     view.top + view.height + label_room};
      std::vector<Box> labels =
          place_labels(anchors, widths, kLabelHeight, obstacles, kLabelRows, area);
      for (size_t i = 0; i < drawn.size(); ++i) {
        const Box& b = labels[i];
        const double ax = anchors[i][0], ay = anchors[i][1];
        body += "<g class=\"station-on-plan\"><title>" + xml(drawn[i]->name) + ", " +
                km_text(drawn[i]->position) + "</title>\n";
        double lx = std::clamp(ax, b.x0, b.x1);
        double ly = b.y1 <= ay ? b.y1 : b.y0;
        if (std::hypot(lx - ax, ly - ay) > 8) {
          body += line(ax, ay, lx, ly, "stroke=\"#888888\" stroke-width=\"0.8\"");
        }
        body += "<circle cx=\"" + num(ax) + "\" cy=\"" + num(ay) + "\" r=\"4\" fill=\"white\" " +
                "stroke=\"" + kStationColour + "\" stroke-width=\"2\"/>\n";
        body += text((b.x0 + b.x1) / 2, b.y1 - 3, xml(drawn[i]->name),
                     "font-size=\"11\" text-anchor=\"middle\"");
        body += "</g>\n";
      }
      body += "</g>\n";

      // Scale bar.
      const double bar_metres = nice_step(du, 8);
      const double bar_y = panel_bottom + 18;
      body += line(kLeft, bar_y, kLeft + bar_metres * view.scale, bar_y,
                   "stroke=\"" + std::string(kInk) + "\" stroke-width=\"2\"");
      body += line(kLeft, bar_y - 4, kLeft, bar_y + 4, "stroke=\"" + std::string(kInk) + "\"");
      body += line(kLeft + bar_metres * view.scale, bar_y - 4, kLeft + bar_metres * view.scale,
                   bar_y + 4, "stroke=\"" + std::string(kInk) + "\"");
      body += text(kLeft + bar_metres * view.scale + 8, bar_y + 4, num(bar_metres / 1000) + " km",
                   "font-size=\"12\"");
      y = panel_bottom + 44;
    }
  }

  // Station names over the profiles, spread along the kilometre axis.
  double name_room = 0;
  for (const Station& s : stations) name_room = std::max(name_room, text_width(s.name, kLabelFont));
  const double names_top = y + 10;
  const double names_bottom = names_top + name_room + 4;
  const double grad_top = names_bottom + 16;

  // Value ranges.
  double gmin = 0, gmax = 0, smax = 0;
  for (int i = 0; i < shown_cells; ++i) {
    double g = cells[static_cast<size_t>(i)].gradient_code - 100.0;
    gmin = std::min(gmin, g);
    gmax = std::max(gmax, g);
    smax = std::max(smax, cells[static_cast<size_t>(i)].speed_limit * 5.0);
  }
  const double gstep = nice_step(std::max(gmax - gmin, 1.0), 5);
  const ValueAxis grad = value_axis(grad_top, gmin, gmax, gstep);
  const double sstep = nice_step(std::max(smax, 10.0), 5);
  const ValueAxis speed = value_axis(grad_top + kProfileHeight + kPanelGap, 0, smax, sstep);
  const double axis_y = speed.top + speed.height;

  auto both_panels = [&](double from, double to, const std::string& attrs) {
    return rect(km.x(from), grad.top, km.x(to), grad.top + grad.height, attrs) +
           rect(km.x(from), speed.top, km.x(to), speed.top + speed.height, attrs);
  };

  // Shading: tunnels, slow orders, stations.
  body += "<g class=\"tunnels\">\n";
  for (const CellRun& t : tunnels) {
    if (t.first * 50.0 >= length) continue;
    body += "<g class=\"tunnel\"><title>tunnel, " + km_text(t.first * 50) + " to " +
            km_text((t.last + 1) * 50) + "</title>\n" +
            both_panels(t.first * 50.0, std::min((t.last + 1) * 50.0, length),
                        "fill=\"" + std::string(kTunnelColour) + "\" fill-opacity=\"0.28\"") +
            "</g>\n";
  }
  body += "</g>\n<g class=\"slow-orders\">\n";
  for (const SlowOrderSpan& o : orders) {
    const double from = o.cells.first * 50.0, to = o.cells.last * 50.0;
    body += "<g class=\"slow-order\"><title>slow order " + std::to_string(o.speed) + " km/h, " +
            km_text(o.cells.first * 50) + " to " + km_text(o.cells.last * 50) + "</title>\n" +
            both_panels(from, to,
                        "fill=\"" + std::string(kSlowOrderColour) + "\" fill-opacity=\"0.45\"");
    body += line(km.x(from), speed.y(o.speed), km.x(to), speed.y(o.speed),
                 "stroke=\"" + std::string(kSlowOrderColour) + "\" stroke-width=\"2\" " +
                     "stroke-dasharray=\"4 2\"");
    body += text(km.x(to) + 3, speed.y(o.speed) + 4, std::to_string(o.speed),
                 "font-size=\"11\" fill=\"" + std::string(kSlowOrderColour) + "\"");
    body += "</g>\n";
  }
  body += "</g>\n";

  std::vector<double> anchors;
  for (const Station& s : stations) anchors.push_back(km.x(s.position));
  std::vector<size_t> order(stations.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return anchors[a] < anchors[b]; });
  std::vector<double> sorted;
  for (size_t i : order) sorted.push_back(anchors[i]);
  std::vector<double> centres = spread_labels(sorted, kLabelHeight, kLeft, kWidth - kRight);
  body += "<g class=\"stations\">\n";
  for (size_t k = 0; k < order.size(); ++k) {
    const Station& s = stations[order[k]];
    const double ax = anchors[order[k]];
    const double cx = centres[k];
    body += "<g class=\"station\"><title>" + xml(s.name) + ", " + km_text(s.position) +
            " (record " + std::to_string(s.index) + ")</title>\n";
    body += both_panels(std::max<double>(s.from, 0), std::min<double>(s.to, length),
                        "fill=\"" + std::string(kStationColour) + "\" fill-opacity=\"0.3\"");
    body +=
        line(cx, names_bottom + 2, ax, grad.top, "stroke=\"" + std::string(kStationColour) + "\"");
    body += line(ax, grad.top, ax, axis_y,
                 "stroke=\"" + std::string(kStationColour) + "\" stroke-width=\"0.6\"");
    body += "<text transform=\"translate(" + num(cx + 4) + " " + num(names_bottom) +
            ") rotate(-90)\" font-size=\"11\">" + xml(s.name) + "</text>\n";
    body += "</g>\n";
  }
  body += "</g>\n";

  // Axes, grid lines and the two profiles.
  const double km_step = nice_step(length, 14);
  for (double m = 0; m <= length + 1e-6; m += km_step) {
    const double x = km.x(m);
    const std::string grid_attrs = "stroke=\"" + std::string(kGridLine) + "\"";
    body += line(x, grad.top, x, grad.top + grad.height, grid_attrs);
    body += line(x, speed.top, x, speed.top + speed.height, grid_attrs);
    body += line(x, axis_y, x, axis_y + 5, "stroke=\"" + std::string(kInk) + "\"");
    body += text(x, axis_y + 18, num(m / 1000), "font-size=\"12\" text-anchor=\"middle\"");
  }
  body += text(kLeft + drawing_width() / 2, axis_y + 38, "distance along the line (km)",
               "font-size=\"13\" text-anchor=\"middle\"");

  auto value_ticks = [&](const ValueAxis& a, double step, const std::string& caption) {
    std::string out;
    for (double v = a.lo; v <= a.hi + step / 1000; v += step) {
      out += line(kLeft, a.y(v), kWidth - kRight, a.y(v),
                  "stroke=\"" + std::string(v == 0 ? "#999999" : kGridLine) + "\"");
      out += text(kLeft - 8, a.y(v) + 4, num(v), "font-size=\"12\" text-anchor=\"end\"");
    }
    out += rect(kLeft, a.top, kWidth - kRight, a.top + a.height,
                "fill=\"none\" stroke=\"" + std::string(kInk) + "\"");
    out += "<text transform=\"translate(" + num(kLeft - 52) + " " + num(a.top + a.height / 2) +
           ") rotate(-90)\" font-size=\"13\" text-anchor=\"middle\">" + caption + "</text>\n";
    return out;
  };
  body += value_ticks(grad, gstep, "gradient (&#8240;)");
  body += value_ticks(speed, sstep, "speed limit (km/h)");

  auto gradient_of = [&](int i) { return cells[static_cast<size_t>(i)].gradient_code - 100.0; };
  auto speed_of = [&](int i) { return cells[static_cast<size_t>(i)].speed_limit * 5.0; };
  const std::string gpath = step_path(km, grad, shown_cells, gradient_of);
  const std::string spath = step_path(km, speed, shown_cells, speed_of);
  if (shown_cells > 0) {
    body += "<path class=\"gradient\" d=\"" + gpath + "V" + num(grad.y(0)) + "H" + num(km.x(0)) +
            "Z\" fill=\"" + kGradientColour + "\" fill-opacity=\"0.15\" stroke=\"none\"/>\n";
    body += "<path d=\"" + gpath + "\" fill=\"none\" stroke=\"" + kGradientColour +
            "\" stroke-width=\"1.5\"/>\n";
    body += "<path class=\"speed\" d=\"" + spath + "\" fill=\"none\" stroke=\"" + kSpeedColour +
            "\" stroke-width=\"1.8\"/>\n";
  }

  // Legend.
  const double legend_y = axis_y + 62;
  double lx = kLeft;
  auto legend_item = [&](const std::string& swatch, const std::string& label) {
    body += swatch;
    body += text(lx + 26, legend_y + 4, label, "font-size=\"12\"");
    lx += 26 + text_width(label, 12) + 22;
  };
  auto band = [&](const char* colour, const char* opacity) {
    return rect(lx, legend_y - 6, lx + 20, legend_y + 6,
                "fill=\"" + std::string(colour) + "\" fill-opacity=\"" + opacity + "\"");
  };
  body += "<g class=\"legend\">\n";
  legend_item(band(kStationColour, "0.3"), "station (extent)");
  legend_item(band(kTunnelColour, "0.28"), "tunnel");
  legend_item(band(kSlowOrderColour, "0.45") +
                  line(lx, legend_y, lx + 20, legend_y,
                       "stroke=\"" + std::string(kSlowOrderColour) + "\" stroke-width=\"2\" " +
                           "stroke-dasharray=\"4 2\""),
              "slow order and its speed");
  legend_item(line(lx, legend_y, lx + 20, legend_y,
                   "stroke=\"" + std::string(kGradientColour) + "\" stroke-width=\"2\""),
              "gradient");
  legend_item(line(lx, legend_y, lx + 20, legend_y,
                   "stroke=\"" + std::string(kSpeedColour) + "\" stroke-width=\"2\""),
              "speed limit");
  if (data.plan) {
    legend_item("<circle cx=\"" + num(lx + 10) + "\" cy=\"" + num(legend_y) +
                    "\" r=\"2.5\" fill=\"" + kSignalColour + "\"/>",
                "signal (plan)");
    legend_item(line(lx, legend_y, lx + 20, legend_y,
                     "stroke=\"" + std::string(kTunnelColour) + "\" stroke-width=\"6\" " +
                         "stroke-opacity=\"0.75\""),
                "tunnel (plan)");
  }
  body += "</g>\n";

  const double height = legend_y + 24;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kWidth) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(kWidth) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" fill=\"" + kInk + "\">\n";
  svg += "<title>" + xml(title) + "</title>\n";
  svg += rect(0, 0, kWidth, height, "fill=\"white\"");
  svg += body;
  svg += "</svg>\n";
  return svg;
}

}  // namespace compactor
