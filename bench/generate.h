// A deterministic generator of large scenarios for the benchmarks: a line source and a train
// source that compile without a recorded error, with as many features as asked for.
#pragma once

#include <cstdint>
#include <string>

namespace compactor::bench {

// What a generated scenario holds. The defaults are the large scenario of the benchmarks.
struct ScenarioShape {
  int32_t length = 1000000;  // line length in metres, at most 1,000,000
  // Line.
  int tunnels = 80;
  int indication_boards = 30;
  int speed_boards = 500;
  int curves = 2000;
  int curve_class = 0;   // 1 to 6: every curve of that class; 0: each of a class drawn at random
  int curve_length = 0;  // metres of every curve; 0: each drawn at random
  int gradients = 5000;
  // Train. Two of the signals stand at each slow order (one before its warning board, one after
  // its end), so that the cab-code pass has work there.
  int signals = 3000;
  int stations = 40;
  int slow_orders = 50;
  int code_points = 500;
  int speed_changes = 100;
  int adhesion_changes = 20;
};

// The large scenario's counts scaled to a line of `length` metres (at least one of each, two
// stations), so that the density of features stays the same.
ScenarioShape shape_for_length(int32_t length);

struct GeneratedSources {
  std::string line;   // the line source, "[generale]" to "[fine]", CR LF line ends
  std::string train;  // the train source
};

// The same shape always gives the same bytes. Throws std::invalid_argument when the shape does
// not fit its line (too many features for the length, too many boards and stations for the 87
// records, a length outside 20,000 to 1,000,000 m).
GeneratedSources generate_scenario(const ScenarioShape& shape);

}  // namespace compactor::bench
