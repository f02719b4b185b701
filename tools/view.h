// The interactive page of a compiled scenario: one self-contained HTML file with the decoded
// outputs embedded as JSON and the page's own script and style (web/, built into the program).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/compiler.h"
#include "format/decode.h"
#include "model/model.h"

namespace compactor {

// One warning or error of the sources, as check reports it, and where it is on the line.
struct SourceDiagnostic {
  bool is_error = false;
  SourcePos pos;
  std::string message;  // "error 16: signal on an occupied cell (at 53500 m)" or a warning's text
  std::string shown;    // the whole report as check prints it, source line and caret included
  std::optional<int64_t> metre;
};

// What the sources beside the outputs say: their diagnostics and the code points they write.
struct SourceReport {
  std::vector<SourceDiagnostic> diagnostics;  // the first warnings, then the errors
  size_t warnings_not_shown = 0;              // warnings past those listed, only counted
  // Cells that hold a code point (kind 12 or 13) when the sources are read without the cab-code
  // pass: the points written in the train source. Every other code point was inserted.
  std::vector<int> written_code_cells;
  // False when the sources could not be read to their end: the points they write are then not
  // all known, and the page tells inserted points by their code instead.
  bool written_code_cells_known = true;
};

// Compiles the sources in memory as check does, with its warnings (as many as check shows, the
// rest counted), and reads them once more without the cab-code pass. `names` gives the line id
// and train number.
SourceReport report_sources(const Model& names, bool with_plan, Sources sources);

// The first value after the keyword of the record that starts at `offset`: a whole number
// within [0, limit] followed by a comma, a blank or the line end; nullopt otherwise.
std::optional<int64_t> record_position(std::string_view source, int64_t offset, int64_t limit);

// The plan thinned for one zoom level: the metres kept, so that no metre left out lies further
// than `tolerance` metres from the straight line between the kept metres around it.
struct PlanLevel {
  double tolerance = 0;
  std::vector<int64_t> metres;
};

// At most this many points in all the page's levels: the large scenario of the benchmarks needs
// about 130,000, a line of tight curves end to end some 1,500,000 at the finest tolerances.
constexpr size_t kMaxPagePlanPoints = 150000;
// Levels added at ten times the tolerance before, at most, when the coarsest still holds more.
constexpr size_t kMaxLevels = 24;

// The levels of the page, finest first; each is thinned from the one before it in one pass over
// its points. Metres without a point, or whose point is not finite or lies further than the page
// draws (1e9 m), are left out. While the coarsest level holds more than `max_points`, a level at
// ten times its tolerance is added; then, while all of them together hold more, the finest are
// dropped. Empty when the plan has fewer than two points.
std::vector<PlanLevel> plan_levels(const Plan& plan, const std::vector<double>& tolerances,
                                   size_t max_points = SIZE_MAX);

// A sequence as runs of equal values: value, count, value, count, ...
std::vector<int64_t> run_lengths(const std::vector<int64_t>& values);

// What the page is made from.
struct ViewData {
  std::string line_id;
  std::string train_number;
  std::array<ScenarioItem, kItemCount> items;
  std::vector<TrackCell> cells;
  std::optional<Plan> plan;
  std::optional<SourceReport> sources;  // when the sources were beside the outputs
  bool outputs_older_than_sources = false;
};

// The data of the page as compact JSON, every text escaped so that it can stand inside a
// <script> element.
std::string view_json(const ViewData& data);

// The whole page.
std::string view_html(const ViewData& data);

}  // namespace compactor
