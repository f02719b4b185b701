#include "tools/view.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "compiler/compile.h"
#include "format/layouts.h"
#include "model/errors.h"
#include "model/roles.h"
#include "tools/check.h"
#include "tools/diagnostics.h"
#include "tools/dump.h"
#include "tools/format_facts.h"
#include "tools/plot.h"
#include "tools/view_assets.h"

namespace compactor {

namespace {

// --- Diagnostics ------------------------------------------------------------------------------

// The metres the grid covers: where a diagnostic may be placed.
int64_t grid_metres(const Model& m) {
  return m.has_grid() ? static_cast<int64_t>(m.track_grid.size()) * 50 : 0;
}

SourceDiagnostic warning_diagnostic(const Warning& w, const Sources& s, int64_t limit) {
  SourceDiagnostic d;
  d.pos = w.pos;
  d.is_error = w.error;  // an error of the program's own: the outcome stays the compile's
  d.message = w.error ? "error " + w.name + ": " + w.text : w.text;
  const std::string_view source = source_text(s, w.pos.file);
  if (w.error) {
    Diagnostic shown;
    shown.file = w.pos.file;
    shown.line = w.pos.line;
    shown.column = w.pos.column;
    shown.offset = w.pos.line > 0 ? w.pos.offset : -1;
    shown.name = w.name;
    shown.message = w.text;
    d.shown = format_diagnostic(shown, source);
  } else {
    d.shown = format_warning(w.pos, source, w.text);
  }
  d.metre = record_position(source, w.pos.offset, limit);
  return d;
}

// The error the compile recorded: at its position in metres when it has one, else at the first
// value of the record that caused it.
SourceDiagnostic error_diagnostic(const Model& m, const Sources& s, int64_t limit) {
  SourceDiagnostic d;
  d.is_error = true;
  d.pos = m.error_source;
  d.message = "error " + std::to_string(m.error_code) + ": " + error_meaning(m.error_code);
  if (error_has_position(m.error_code)) {
    d.message += " (at " + std::to_string(m.error_position) + " m)";
    d.metre = m.error_position;
  } else if (m.error_source.line > 0) {
    d.metre = record_position(source_text(s, m.error_source.file), m.error_source.offset, limit);
  }
  d.shown = format_error(m, source_text(s, m.error_source.file));
  return d;
}

// Errors 1250 and 1251 stop the run before anything is written; they have no source position.
SourceDiagnostic stop_diagnostic(int32_t code) {
  SourceDiagnostic d;
  d.is_error = true;
  d.message = "error " + std::to_string(code) + ": " + error_meaning(code);
  d.shown = format_note(d.message);
  return d;
}

std::vector<int> code_point_cells(const std::vector<TrackCell>& cells) {
  std::vector<int> out;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].kind == kCodePoint || cells[i].kind == kCodePointNoCode) {
      out.push_back(static_cast<int>(i));
    }
  }
  return out;
}

// --- Thinning the plan ------------------------------------------------------------------------

// A plan coordinate further than this from the origin is not drawn: no line reaches it (a plan
// of 1,000,000 metres in the tightest curves stays within 1e8 m), and its millimetres would not
// fit the page's whole numbers.
constexpr double kMaxDrawnMetres = 1e9;

struct PlanPoints {
  std::vector<int64_t> metres;
  std::vector<double> x;
  std::vector<double> y;
};

bool drawable(double v) {
  return std::isfinite(v) && std::fabs(v) <= kMaxDrawnMetres;
}

PlanPoints plan_points(const Plan& plan) {
  PlanPoints p;
  const size_t count = std::min(plan.x.size(), plan.y.size());
  for (size_t m = 0; m < count; ++m) {
    if (plan.x[m].tag == TaggedValue::kEmpty || plan.y[m].tag == TaggedValue::kEmpty) continue;
    const double x = plan.x[m].number(), y = plan.y[m].number();
    if (!drawable(x) || !drawable(y)) continue;
    p.metres.push_back(static_cast<int64_t>(m));
    p.x.push_back(x);
    p.y.push_back(y);
  }
  return p;
}

// A direction, as a unit vector.
struct Direction {
  double x = 1, y = 0;
};

// Whether `b` lies counterclockwise of `a`, by less than a half turn.
bool counterclockwise(const Direction& a, const Direction& b) {
  return a.x * b.y - a.y * b.x >= 0;
}

// The points one straight stroke from its anchor may pass over: each lies within `reach` of the
// ray towards the stroke's end (the end's direction is inside every such point's wedge of
// directions, from `low` counterclockwise to `high`), and no further along it than the end plus
// `reach`. A wedge is less than a half turn wide, so their common part is one too.
struct Stroke {
  double x = 0, y = 0, reach = 0;
  bool aimed = false;  // a point further than `reach` from the anchor bounds the directions
  bool closed = false;  // the wedges have nothing in common: the stroke ends
  Direction low, high;
  double furthest = 0;
};

Stroke stroke_from(const PlanPoints& p, size_t anchor, double reach) {
  Stroke s;
  s.x = p.x[anchor];
  s.y = p.y[anchor];
  s.reach = reach;
  return s;
}

// A point as the stroke's anchor sees it: how far, and in which direction.
struct Sight {
  double distance = 0;
  Direction direction;
};

Sight sight(const Stroke& s, const PlanPoints& p, size_t k) {
  const double dx = p.x[k] - s.x, dy = p.y[k] - s.y;
  const double d = std::sqrt(dx * dx + dy * dy);
  return d > 0 ? Sight{d, {dx / d, dy / d}} : Sight{};
}

bool stroke_may_end_at(const Stroke& s, const Sight& v) {
  if (v.distance < s.furthest - s.reach) return false;
  if (!s.aimed) return true;
  return !s.closed && counterclockwise(s.low, v.direction) &&
         counterclockwise(v.direction, s.high);
}

void pass_over(Stroke& s, const Sight& v) {
  s.furthest = std::max(s.furthest, v.distance);
  if (v.distance <= s.reach) return;
  // The wedge of the directions whose ray passes within `reach` of the point: its own direction
  // turned both ways by the angle whose sine is reach / distance.
  const double sine = s.reach / v.distance, cosine = std::sqrt(1 - sine * sine);
  const Direction u = v.direction;
  const Direction low{u.x * cosine + u.y * sine, u.y * cosine - u.x * sine};
  const Direction high{u.x * cosine - u.y * sine, u.y * cosine + u.x * sine};
  if (!s.aimed) {
    s.aimed = true;
    s.low = low;
    s.high = high;
    return;
  }
  if (counterclockwise(s.low, low)) s.low = low;
  if (counterclockwise(high, s.high)) s.high = high;
  s.closed = s.closed || !counterclockwise(s.low, s.high);
}

// The points of `in` (indexes into p, ascending) that a polyline within `tolerance` of all of them
// needs, in one pass: the ends, and the last point each straight stroke can reach. A point passed
// over lies within tolerance / sqrt 2 of the stroke's ray and at most as far beyond its end, so
// within `tolerance` of the stroke.
std::vector<size_t> thin(const PlanPoints& p, const std::vector<size_t>& in, double tolerance) {
  if (in.size() < 3) return in;
  const double reach = tolerance * std::sqrt(0.5);
  std::vector<size_t> out = {in.front()};
  Stroke stroke = stroke_from(p, in.front(), reach);
  for (size_t k = 1; k < in.size(); ++k) {
    Sight v = sight(stroke, p, in[k]);
    if (!stroke_may_end_at(stroke, v)) {
      out.push_back(in[k - 1]);
      stroke = stroke_from(p, in[k - 1], reach);
      v = sight(stroke, p, in[k]);
    }
    pass_over(stroke, v);
  }
  if (out.back() != in.back()) out.push_back(in.back());
  return out;
}

// --- JSON -------------------------------------------------------------------------------------

void append_list(std::string& out, const std::vector<int64_t>& values) {
  out += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    out += std::to_string(values[i]);
  }
  out += ']';
}

// Differences between neighbours, the first value as it is: small numbers for a sorted list.
std::vector<int64_t> deltas(const std::vector<int64_t>& values) {
  std::vector<int64_t> out;
  int64_t prev = 0;
  for (int64_t v : values) {
    out.push_back(v - prev);
    prev = v;
  }
  return out;
}

// The grid, field by field in file order with the names dump gives them, each as runs.
void append_grid(std::string& out, const std::vector<TrackCell>& cells) {
  out += "\"grid\":{";
  std::vector<int64_t> values(cells.size());
  for_each_field(kCellLayout, [&](const auto& f) {
    for (size_t c = 0; c < cells.size(); ++c) values[c] = cells[c].*f.member;
    if (out.back() != '{') out += ',';
    out += json_string(f.name) + ":";
    append_list(out, run_lengths(values));
  });
  out += '}';
}

// The names of the kinds that occur in the grid, as dump names them.
void append_kind_names(std::string& out, const std::vector<TrackCell>& cells) {
  std::array<bool, 256> seen{};
  for (const TrackCell& c : cells) seen[c.kind] = true;
  out += "\"kindNames\":{";
  bool first = true;
  for (int k = 0; k < 256; ++k) {
    if (!seen[static_cast<size_t>(k)] && k > kIndicationBoard) continue;
    if (!first) out += ',';
    first = false;
    out += '"';
    out += std::to_string(k);
    out += "\":";
    out += json_string(cell_kind_name(static_cast<uint8_t>(k)));
  }
  out += '}';
}

// A record's field as JSON: a number, or a text as a string.
template <class Member>
std::string record_field_json(const Member& value) {
  if constexpr (std::is_same_v<Member, std::string>) {
    return json_string(value);
  } else {
    return std::to_string(value);
  }
}

// The records that are not cleared, each as an array of its index, its role and its fields in
// file order.
void append_records(std::string& out, const std::array<ScenarioItem, kItemCount>& items) {
  out += "\"records\":[";
  bool first = true;
  for (int i = 0; i < kItemCount; ++i) {
    const ScenarioItem& r = items[static_cast<size_t>(i)];
    if (is_cleared(r)) continue;
    if (!first) out += ",";
    first = false;
    out += '[';
    out += std::to_string(i);
    out += ',';
    out += json_string(record_role(items, i));
    for_each_field(kRecordLayout,
                   [&](const auto& f) { out += ',' + record_field_json(r.*f.member); });
    out += ']';
  }
  out += "],\"stations\":";
  std::vector<int64_t> stations;
  for (int i : station_indexes(items)) stations.push_back(i);
  append_list(out, stations);
}

int64_t millimetres(double metres) {
  return std::llround(metres * 1000);
}

void append_plan(std::string& out, const std::optional<Plan>& plan) {
  out += "\"plan\":";
  if (!plan) {
    out += "null";
    return;
  }
  const std::vector<PlanLevel> levels =
      plan_levels(*plan, {0.005, 0.05, 0.5, 5, 50}, kMaxPagePlanPoints);
  out += "{\"points\":" + std::to_string(plan->x.size()) + ",\"levels\":[";
  for (size_t l = 0; l < levels.size(); ++l) {
    std::vector<int64_t> xs, ys;
    for (int64_t m : levels[l].metres) {
      xs.push_back(millimetres(plan->x[static_cast<size_t>(m)].number()));
      ys.push_back(millimetres(plan->y[static_cast<size_t>(m)].number()));
    }
    if (l > 0) out += ',';
    char tolerance[32];
    std::snprintf(tolerance, sizeof tolerance, "%g", levels[l].tolerance);
    out += std::string("{\"tolerance\":") + tolerance + ",\"metre\":";
    append_list(out, deltas(levels[l].metres));
    out += ",\"x\":";
    append_list(out, deltas(xs));
    out += ",\"y\":";
    append_list(out, deltas(ys));
    out += '}';
  }
  out += "]}";
}

void append_diagnostic(std::string& out, const SourceDiagnostic& d) {
  out += std::string("{\"severity\":\"") + (d.is_error ? "error" : "warning") +
         "\",\"file\":" + json_string(d.pos.file) + ",\"line\":" + std::to_string(d.pos.line) +
         ",\"column\":" + std::to_string(d.pos.column) + ",\"message\":" + json_string(d.message) +
         ",\"shown\":" + json_string(d.shown) +
         ",\"metre\":" + (d.metre ? std::to_string(*d.metre) : std::string("null")) + "}";
}

void append_sources(std::string& out, const std::optional<SourceReport>& sources) {
  out += "\"sources\":";
  if (!sources) {
    out += "null";
    return;
  }
  out += "{\"diagnostics\":[";
  for (size_t i = 0; i < sources->diagnostics.size(); ++i) {
    if (i > 0) out += ",\n";
    append_diagnostic(out, sources->diagnostics[i]);
  }
  out += ']';
  if (sources->warnings_not_shown > 0) {
    out += ",\"warningsNotShown\":" + std::to_string(sources->warnings_not_shown);
  }
  if (sources->written_code_cells_known) {
    out += ",\"writtenCodeCells\":";
    append_list(out, std::vector<int64_t>(sources->written_code_cells.begin(),
                                          sources->written_code_cells.end()));
  }
  out += '}';
}

// The length of the line from record 84, within the grid; the whole grid when it does not fit.
int64_t line_length(const ViewData& data) {
  const int64_t grid = static_cast<int64_t>(data.cells.size()) * 50;
  const int64_t length = LineDataRecord(data.items[kLineDataRecord]).line_length;
  return length > 0 && length <= grid ? length : grid;
}

// Text for HTML content: Latin-1 bytes as character references, markup characters escaped.
std::string html_text(std::string_view text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c >= 0x80) {
      out += "&#" + std::to_string(c) + ";";
    } else {
      out += static_cast<char>(c < 0x20 ? ' ' : c);
    }
  }
  return out;
}

// JSON that can stand in a <script> element: only texts can hold a '<', and as \u003C it cannot
// end the element.
std::string script_safe(std::string_view json) {
  std::string safe;
  safe.reserve(json.size());
  for (char c : json) {
    if (c == '<') {
      safe += "\\u003C";
    } else {
      safe += c;
    }
  }
  return safe;
}

// Replaces the one place holder `mark` in `page` by `content`.
void fill(std::string& page, std::string_view mark, std::string_view content) {
  const size_t at = page.find(mark);
  if (at != std::string::npos) page.replace(at, mark.size(), content);
}

}  // namespace

SourceReport report_sources(const Model& names, bool with_plan, Sources s) {
  SourceReport report;
  Model m;
  m.line_id = names.line_id;
  m.train_number = names.train_number;
  std::vector<Warning> warnings;
  s.warnings = &warnings;
  s.max_kept_warnings = kShownWarnings;
  const PassOutcome outcome = compile_model(m, with_plan, s);
  const int64_t limit = grid_metres(m);
  for (const Warning& w : warnings) report.diagnostics.push_back(warning_diagnostic(w, s, limit));
  report.warnings_not_shown = s.warnings_not_kept;
  if (outcome == PassOutcome::kStampsSet) {
    report.diagnostics.push_back(stop_diagnostic(kErrStampsSet));
  } else if (outcome == PassOutcome::kCodesSet) {
    report.diagnostics.push_back(stop_diagnostic(kErrCodesSet));
  } else if (outcome == PassOutcome::kNoGrid || m.error_code != 0) {
    report.diagnostics.push_back(error_diagnostic(m, s, limit));
  }
  // The same bytes once more, without the cab-code pass.
  Model written;
  written.line_id = names.line_id;
  written.train_number = names.train_number;
  s.warnings = nullptr;
  s.line.consumed = false;
  s.train.consumed = false;
  read_sources(written, s, false);
  report.written_code_cells = code_point_cells(written.track_grid);
  report.written_code_cells_known = written.error_code == 0;
  return report;
}

std::optional<int64_t> record_position(std::string_view source, int64_t offset, int64_t limit) {
  if (offset < 0 || static_cast<size_t>(offset) >= source.size()) return std::nullopt;
  size_t i = static_cast<size_t>(offset);
  auto line_end = [&](size_t k) {
    return source[k] == '\r' && k + 1 < source.size() && source[k + 1] == '\n';
  };
  while (i < source.size() && source[i] != ',' && !line_end(i)) ++i;
  if (i >= source.size() || source[i] != ',') return std::nullopt;
  ++i;
  while (i < source.size() && source[i] == ' ') ++i;
  const size_t digits_start = i;
  int64_t value = 0;
  while (i < source.size() && source[i] >= '0' && source[i] <= '9' && i - digits_start < 10) {
    value = value * 10 + (source[i] - '0');
    ++i;
  }
  if (i == digits_start) return std::nullopt;
  if (i < source.size() && source[i] != ',' && source[i] != ' ' && !line_end(i)) {
    return std::nullopt;
  }
  if (value > limit) return std::nullopt;
  return value;
}

std::vector<PlanLevel> plan_levels(const Plan& plan, const std::vector<double>& tolerances,
                                   size_t max_points) {
  const PlanPoints points = plan_points(plan);
  if (points.metres.size() < 2) return {};
  std::vector<size_t> kept(points.metres.size());
  for (size_t k = 0; k < kept.size(); ++k) kept[k] = k;
  std::vector<PlanLevel> levels;
  size_t total = 0;
  // Each coarser level added keeps fewer points; a tolerance beyond every distance between drawn
  // points keeps the two ends, so the loop ends.
  for (size_t l = 0; l < tolerances.size() || (kept.size() > max_points && l < kMaxLevels); ++l) {
    const double tolerance = l < tolerances.size() ? tolerances[l] : levels.back().tolerance * 10;
    kept = thin(points, kept, tolerance);
    PlanLevel level;
    level.tolerance = tolerance;
    for (size_t k : kept) level.metres.push_back(points.metres[k]);
    total += kept.size();
    levels.push_back(std::move(level));
  }
  size_t dropped = 0;
  while (total > max_points && levels.size() - dropped > 1) total -= levels[dropped++].metres.size();
  levels.erase(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(dropped));
  return levels;
}

std::vector<int64_t> run_lengths(const std::vector<int64_t>& values) {
  std::vector<int64_t> out;
  for (size_t i = 0; i < values.size();) {
    size_t j = i + 1;
    while (j < values.size() && values[j] == values[i]) ++j;
    out.push_back(values[i]);
    out.push_back(static_cast<int64_t>(j - i));
    i = j;
  }
  return out;
}

std::string view_json(const ViewData& data) {
  std::string out =
      "{\"format\":1,\"title\":" + json_string(data.line_id + ", train " + data.train_number) +
      ",\"lineId\":" + json_string(data.line_id) + ",\"train\":" + json_string(data.train_number) +
      ",\"length\":" + std::to_string(line_length(data)) +
      ",\"cellMetres\":50,\"cellCount\":" + std::to_string(data.cells.size()) +
      ",\"stale\":" + (data.outputs_older_than_sources ? "true" : "false") + ",\n";
  append_kind_names(out, data.cells);
  out += ",\n";
  append_grid(out, data.cells);
  out += ",\n\"limitInForce\":";
  std::vector<int64_t> in_force;
  for (int v : limit_in_force(data.cells)) in_force.push_back(v);
  append_list(out, run_lengths(in_force));
  out += ",\n";
  append_records(out, data.items);
  out += ",\n";
  append_plan(out, data.plan);
  out += ",\n";
  append_sources(out, data.sources);
  out += "}";
  return script_safe(out);
}

std::string view_html(const ViewData& data) {
  // From the last place holder to the first, so that none is looked for in what was filled in.
  std::string page(kViewTemplate);
  fill(page, "/*@SCRIPT@*/", kViewScript);
  fill(page, "@DATA@", view_json(data));
  fill(page, "@FACTS@", script_safe(page_facts_json()));
  const std::string title = html_text(data.line_id + ", train " + data.train_number);
  fill(page, "@HEADING@", title);
  fill(page, "/*@STYLE@*/", kViewStyle);
  fill(page, "@TITLE@", title);
  return page;
}

}  // namespace compactor
