// What differs between two compiled scenarios, field by field, in the scenario's own terms: the
// records by their role ("station 3 \"DIVINO AMORE\": value3 11050 → 11100"), the grid's cells
// by their index, place and kind, and the plan by runs of points. The field names are those of
// the layouts (format/layouts.h), the names of the dumps.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "format/decode.h"
#include "model/model.h"

namespace compactor {

// One difference: where it is ("station 3 \"ROMA\"", "cell 221 (11050 m)", "plan"), what
// ("value3", "kind", "points 1001–1500") and the two values ("" where a side has none).
struct Difference {
  std::string where;
  std::string what;
  std::string before;
  std::string after;
};

// The outputs of one scenario as decoded; a missing one (the line output of a run without the
// plan, or one side given as a single file) is compared only when both sides have it.
struct DecodedScenario {
  std::optional<std::array<ScenarioItem, kItemCount>> records;
  std::optional<std::vector<TrackCell>> grid;
  std::optional<Plan> plan;
};

std::vector<Difference> diff_scenarios(const DecodedScenario& a, const DecodedScenario& b);

// One line per difference: "WHERE: WHAT BEFORE → AFTER", or "WHERE: WHAT" without values.
std::string differences_text(const std::vector<Difference>& differences);
// A JSON document: {"same":BOOL,"differences":[{"where":..,"what":..,"before":..,"after":..}]}.
std::string differences_json(const std::vector<Difference>& differences);

}  // namespace compactor
