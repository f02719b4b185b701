// What differs between two compiled scenarios, in the scenario's own terms: the stations by
// name, aligned so that one added or removed does not shift the rest ("station 3 \"DIVINO
// AMORE\": position 11050 → 11100"), the other records by their role, the slow orders as
// slow orders, the grid's other cells by their index, place and kind, and the plan by runs of
// points with the curves of the sources there when they are known. A field is named by what
// its role or kind holds (model/roles.h), else by its name in the layouts (format/layouts.h),
// the name of the dumps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/decode.h"
#include "model/model.h"

namespace compactor {

// One difference: where it is ("station 3 \"ROMA\"", "cell 221 (11050 m)", "plan"), what
// ("value3", "kind", "points 1001–1500") and the two values ("" where a side has none). A value
// the outputs store in other units than the author writes (a speed limit, a gradient, a speed
// board's speeds, a tunnel type) is shown as written, and the field that stores it with its two
// stored values goes beside it (stored_field "" otherwise), for --json.
struct Difference {
  std::string where;
  std::string what;
  std::string before;
  std::string after;
  std::string stored_field{};
  std::string stored_before{};
  std::string stored_after{};
};

// A curve of a line source: what its record says ("curvad3 at 1000 m, 500 m long") and the
// metres of the plan it turns.
struct PlanSource {
  std::string text;
  int64_t first = 0;
  int64_t last = 0;
};

// The curves of a line source, in source order, as far as its records can be read.
std::vector<PlanSource> plan_sources(std::string_view line_source);

// The outputs of one scenario as decoded; a missing one (the line output of a run without the
// plan, or one side given as a single file) is compared only when both sides have it.
struct DecodedScenario {
  std::optional<std::array<ScenarioItem, kItemCount>> records;
  std::optional<std::vector<TrackCell>> grid;
  std::optional<Plan> plan;
  // The curves of the line source, when the scenario was compiled from its sources.
  std::optional<std::vector<PlanSource>> plan_sources;
};

std::vector<Difference> diff_scenarios(const DecodedScenario& a, const DecodedScenario& b);

// One line per difference: "WHERE: WHAT BEFORE → AFTER", or "WHERE: WHAT" without values.
std::string differences_text(const std::vector<Difference>& differences);
// A JSON document: {"same":BOOL,"differences":[{"where":..,"what":..,"before":..,"after":..}]},
// a difference of a value stored in other units with "stored":{"field":..,"before":..,"after":..}.
std::string differences_json(const std::vector<Difference>& differences);

}  // namespace compactor
