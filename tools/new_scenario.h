// The smallest complete scenario of a given length: a line source and a train source with every
// section of the default sources, one station at each end, and a remark above each value an
// author has to make their own. Both are in the canonical layout (syntax/source_format.h).
#pragma once

#include <cstdint>
#include <string>

namespace compactor {

// The lengths `new` writes a scenario for, in metres: the compile takes 1 to 1,000,000 m; below
// 1,000 m the two stations' platforms would overlap.
inline constexpr int32_t kNewScenarioShortest = 1000;
inline constexpr int32_t kNewScenarioLongest = 1000000;

struct NewScenario {
  std::string line_source;
  std::string train_source;
};

// The two sources for a line of `length` metres (kNewScenarioShortest to kNewScenarioLongest).
NewScenario new_scenario(int32_t length);

}  // namespace compactor
