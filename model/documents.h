// What the driver's documents (the slow-order form and the timetable card) say about a scenario:
// the facts the compiler takes from the compiled model and the train source, and the page layout
// in scenario/ sets out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace compactor {

// A station as the compiled record holds it (metres; time in seconds from midnight).
struct DocumentStation {
  int32_t position = 0;
  int32_t extent_start = 0;
  int32_t extent_end = 0;
  std::string name;
  std::optional<int32_t> scheduled_time;  // only where the record holds one
};

// A slow order of the train source, as its record gives it.
struct DocumentSlowOrder {
  int32_t start = 0;   // metres
  int32_t speed = 0;   // km/h
  int32_t length = 0;  // metres
};

// Where the train's speed limit changes, and the limit from there on (km/h).
struct DocumentSpeedChange {
  int32_t position = 0;
  int32_t limit = 0;
};

struct DocumentFacts {
  std::string line_id;
  std::string train_number;
  int32_t braked_mass = 0;                     // per cent
  std::vector<DocumentStation> stations;       // in record order
  std::vector<DocumentSlowOrder> slow_orders;  // in order of position
  std::vector<DocumentSpeedChange> speed_changes;
};

// "19.450": metres as kilometres with three decimals.
inline std::string kilometres(int64_t metres) {
  const long long magnitude = metres < 0 ? -static_cast<long long>(metres) : metres;
  char text[32];
  std::snprintf(text, sizeof text, "%s%lld.%03lld", metres < 0 ? "-" : "", magnitude / 1000,
                magnitude % 1000);
  return text;
}

}  // namespace compactor
