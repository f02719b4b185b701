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

// What each record of the table holds. Stations count up from record 1; board texts count down
// from record 80; the records above them have fixed roles.
constexpr int kFirstStationRecord = 1;
constexpr int kLastBoardTextRecord = 80;
constexpr int kFirstChainageRecord = 81;  // 81 to 83: the three chainage records, ordered
constexpr int kLastChainageRecord = 83;
constexpr int kLineDataRecord = 84;       // braking mass, line length, coaches
constexpr int kLineIdentityRecord = 85;   // the line id, backgrounds, stamp and check code
constexpr int kTrainIdentityRecord = 86;  // the train number, signal repetition, sand, clock

// A line holds at most this many tunnels.
constexpr int kMaxTunnels = 80;

// The stamps that mark a compiled scenario: in the line identity record and in grid cell 1.
constexpr int16_t kRecordStamp = 610;
constexpr int16_t kGridStamp = 5121;

// Where in a source file a field stood (1-based line and column; line 0 = unknown).
struct SourcePos {
  std::string file;
  int32_t line = 0;
  int32_t column = 0;
  int64_t offset = 0;
  int32_t end_column = 0;  // where the field ends, when known (0: unknown)
};

// Something said about a recorded error at another place of the sources.
struct ErrorNote {
  SourcePos pos;
  std::string text;
};

// One error as it was recorded.
struct RecordedError {
  int32_t code = 0;
  int32_t position = 0;  // metres, for the errors that carry one
  SourcePos source;
  std::string detail;  // what exactly went wrong; "" when the error's meaning says it all
  std::vector<ErrorNote> notes;
};

// Where a slow order's cells came from: the cab-code pass names it in its errors.
struct SlowOrderOrigin {
  int64_t start_cell = 0;
  int64_t warning_cell = -1;  // -1: no warning board
  SourcePos source;
};

// A tunnel as its record gave it, in metres.
struct Tunnel {
  int32_t start = 0;
  int32_t end = 0;
};

struct Model {
  std::string line_id;
  std::string train_number;
  int32_t plan_last = 0;
  int32_t grid_last = 0;
  int32_t error_code = 0;
  int32_t error_position = 0;

  // track_grid(0 .. grid_last); empty until a line length is accepted.
  std::vector<TrackCell> track_grid;
  std::array<ScenarioItem, kItemCount> items;
  // x and y of metres 0 .. plan_last, which the line output encodes; empty without the plan.
  LinePlan plan;
  // The tunnels in the order of their records.
  std::vector<Tunnel> tunnels;

  // Where the last recorded error came from, when a source record caused it.
  SourcePos error_source;
  // What exactly went wrong with the last recorded error, when more can be said than its meaning.
  std::string error_detail;
  // Every error recorded, in order. error_code and the fields above hold the outcome: the last
  // error recorded, with where the reading then stopped.
  std::vector<RecordedError> error_log;
  // The slow orders placed, in the order of their records.
  std::vector<SlowOrderOrigin> slow_order_origins;

  bool has_grid() const { return !track_grid.empty(); }
  ScenarioItem& record(int role) { return items[static_cast<size_t>(role)]; }
  const ScenarioItem& record(int role) const { return items[static_cast<size_t>(role)]; }
};

// A cell is free for placement when it is empty or holds only a tunnel marker.
inline bool is_free(const TrackCell& cell) {
  return cell.kind == kFree || cell.kind == kTunnelMarker;
}

// The lower of two tagged numbers by value, x on a tie.
inline TaggedValue lower_of(const TaggedValue& x, const TaggedValue& y) {
  return x.number() > y.number() ? y : x;
}

// Adds the error now recorded in error_code, error_position, error_source and error_detail to
// the error log.
void log_error(Model& m);

// Creates track_grid(0 .. last), every field zero, discarding what was there.
void create_grid(Model& m, int32_t last);
// Creates the plan of metres 0 .. last, every value empty.
void create_profile(Model& m, int32_t last);
// Clears the 87 records: every number 0, every text empty.
void clear_items(Model& m);

}  // namespace compactor
