#include "tools/new_scenario.h"

#include <vector>

namespace compactor {

namespace {

std::string lines(const std::vector<std::string>& table) {
  std::string text;
  for (const std::string& line : table) text += line + "\r\n";
  return text;
}

std::string line_source(int32_t length) {
  const std::string l = std::to_string(length);
  return lines({
      "[generale]",
      "- the length of the line in metres",
      "lunghezza percorso,    " + l,
      "progressiva chilometrica uno,    0,    0,    0",
      "progressiva chilometrica due,    0,    0,    0",
      "progressiva chilometrica tre,    0,    0,    0",
      "- the scenery of the simulator",
      "sfondo uno,    1",
      "sfondo due,    0",
      "sfondo tre,    0",
      "ripetizione segnali 9 codici,    0,    0",
      "[curve]",
      "[pendenze]",
      "- a level line: add a record where the gradient changes",
      "pendenza,   0,    0",
      "[montagne]",
      "[cartelli]",
      "[indicazioni]",
      "[fine]",
  });
}

// The last station stands where the last 50 m cell before the length starts.
int32_t last_station_position(int32_t length) {
  return (length - 1) / 50 * 50;
}

std::string train_source(int32_t length) {
  const std::string end = std::to_string(last_station_position(length));
  return lines({
      "[generale]",
      "- the train: coaches and braked mass",
      "numero vetture,    6",
      "percentuale massa frenata,    135",
      "sabbia,    200",
      "- the clock at the start: hours minutes seconds",
      "orologio,    8              0             0 ",
      "[aderenze]",
      "aderenza,       0,    80",
      "[vel_limite]",
      "- the speed limit from the start in km/h",
      "velocita,       0,    60",
      "[stazioni]",
      "- the names and times of the two stations",
      "stazione,       0, 12,  500,  0, 0, 0,  1,1,0,  4,1,1,    1,   8, 0, 0, PARTENZA",
      "stazione,  " + end + ", 12,  100,  0, 1, 0,  1,1,0,  4,1,1,    0,   8,30, 0, ARRIVO",
      "[rallentamenti]",
      "[segnali]",
      "[codici]",
      "[fine]",
  });
}

}  // namespace

NewScenario new_scenario(int32_t length) {
  return NewScenario{line_source(length), train_source(length)};
}

}  // namespace compactor
