// The scenario model: all state of one build run.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "model/line_plan.h"

namespace compactor {

struct TrackCell {
  uint8_t kind = 0;
  int16_t param1 = 0;
  int16_t param2 = 0;
  int16_t param3 = 0;
  int16_t param4 = 0;
  uint8_t signal_time = 0;
  uint8_t approach_code = 0;
  uint8_t tunnel_type = 0;
  uint8_t speed_limit = 0;
  uint8_t gradient_code = 0;
  uint8_t adhesion = 0;
};

// Cell kinds.
enum CellKind : uint8_t {
  kFree = 0,
  kSignal = 1,
  kSlowOrderEnd = 2,
  kSlowOrderStart = 3,
  kWarningBoard = 4,
  kSlowOrderApproach = 5,
  kSpeedBoard = 6,
  kStopMark = 10,
  kTunnelMarker = 11,
  kCodePoint = 12,
  kCodePointNoCode = 13,
  kIndicationBoard = 14,
};

struct ScenarioItem {
  uint8_t kind = 0;
  int32_t value1 = 0;
  int32_t value2 = 0;
  int32_t value3 = 0;
  uint8_t mark = 0;
  std::string text;
  int16_t num1 = 0;
  int16_t num2 = 0;
  int16_t num3 = 0;
  int16_t num4 = 0;
  int16_t num5 = 0;
  uint8_t flag1 = 0;
  uint8_t flag2 = 0;
  uint8_t flag3 = 0;
  uint8_t flag4 = 0;
  int32_t check_code = 0;
};

constexpr int kItemCount = 87;
constexpr int kTunnelSlots = 81;  // indexes 0 to 80; entry 0 is never used

// Where in a source file a field stood (1-based line and column; line 0 = unknown).
struct SourcePos {
  std::string file;
  int32_t line = 0;
  int32_t column = 0;
  int64_t offset = 0;
};

struct Model {
  std::string line_id;
  std::string train_number;
  int32_t with_plan = 0;
  std::string text_line;
  int32_t plan_last = 0;
  int32_t grid_last = 0;
  int32_t tunnel_count = 0;
  int32_t error_code = 0;
  int32_t error_position = 0;

  // track_grid(0 .. grid_last); empty until a line length is accepted.
  std::vector<TrackCell> track_grid;
  std::array<ScenarioItem, kItemCount> items;
  // x and y of metres 0 .. plan_last, as the line output's bytes; empty without the plan.
  LinePlan plan;
  std::array<int32_t, kTunnelSlots> tunnel_start{};
  std::array<int32_t, kTunnelSlots> tunnel_end{};

  // Where the last recorded error came from, when a source record caused it.
  SourcePos error_source;

  bool has_grid() const { return !track_grid.empty(); }
};

// A cell is free for placement when it is empty or holds only a tunnel marker.
inline bool is_free(const TrackCell& cell) {
  return cell.kind == kFree || cell.kind == kTunnelMarker;
}

// The lower of two tagged numbers by value, x on a tie.
inline TaggedValue lower_of(const TaggedValue& x, const TaggedValue& y) {
  return x.number() > y.number() ? y : x;
}

// Creates track_grid(0 .. last), every field zero, discarding what was there.
void create_grid(Model& m, int32_t last);
// Creates the plan of metres 0 .. last, every value empty.
void create_profile(Model& m, int32_t last);
// Clears the 87 records: every number 0, every text empty.
void clear_items(Model& m);

}  // namespace compactor
