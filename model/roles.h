// Named views of the records and the cells: what each record role and each cell kind keeps in
// the slots of ScenarioItem and TrackCell. The slots stay as the outputs lay them out
// (format/layouts.h); a view only gives them the names of what they hold. Each view is a set of
// references, so it costs nothing and reads and writes the record or cell it was made from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

#include "model/model.h"

namespace compactor {

// A reference to a member of M, const when the viewed record or cell is.
template <class Viewed, class M>
using SlotRef = std::conditional_t<std::is_const_v<Viewed>, const M&, M&>;

// --- Records -----------------------------------------------------------------------------------

// A station, records 1 upwards in file order. The extent runs from extent_start to extent_end
// (metres); num1 to num5 and flag1 to flag4 hold the values of the same names as written.
template <class Item>
struct StationRecord {
  explicit StationRecord(Item& r)
      : extent_start(r.value1),
        extent_end(r.value2),
        position(r.value3),
        kind(r.kind),
        mark(r.mark),
        name(r.text),
        num1(r.num1),
        num2(r.num2),
        num3(r.num3),
        num4(r.num4),
        num5(r.num5),
        flag1(r.flag1),
        flag2(r.flag2),
        flag3(r.flag3),
        flag4(r.flag4),
        scheduled_time(r.check_code) {}
  SlotRef<Item, int32_t> extent_start;
  SlotRef<Item, int32_t> extent_end;
  SlotRef<Item, int32_t> position;
  SlotRef<Item, uint8_t> kind;
  SlotRef<Item, uint8_t> mark;
  SlotRef<Item, std::string> name;
  SlotRef<Item, int16_t> num1;
  SlotRef<Item, int16_t> num2;
  SlotRef<Item, int16_t> num3;
  SlotRef<Item, int16_t> num4;
  SlotRef<Item, int16_t> num5;
  SlotRef<Item, uint8_t> flag1;
  SlotRef<Item, uint8_t> flag2;
  SlotRef<Item, uint8_t> flag3;  // lengthens an ordinary station's extent by 50 m
  SlotRef<Item, uint8_t> flag4;
  SlotRef<Item, int32_t> scheduled_time;  // seconds from midnight
};

// An indication board's text, records 80 downwards.
template <class Item>
struct BoardTextRecord {
  explicit BoardTextRecord(Item& r) : text(r.text) {}
  SlotRef<Item, std::string> text;
};

// A chainage record, 81 to 83: before the general section ends, 81 holds "tre", 82 "due" and 83
// "uno"; after it they stand in the order of their keys.
template <class Item>
struct ChainageRecord {
  explicit ChainageRecord(Item& r) : key(r.value1), chainage(r.value2), direction(r.value3) {}
  SlotRef<Item, int32_t> key;
  SlotRef<Item, int32_t> chainage;  // metres; plus 100 once ordered when direction is 1
  SlotRef<Item, int32_t> direction;
};

// Record 84: the train's braked mass and coaches, and the line's length.
template <class Item>
struct LineDataRecord {
  explicit LineDataRecord(Item& r)
      : braked_mass(r.value1), line_length(r.value2), coaches(r.value3) {}
  SlotRef<Item, int32_t> braked_mass;  // per cent
  SlotRef<Item, int32_t> line_length;  // metres
  SlotRef<Item, int32_t> coaches;
};

// Record 85: the line identifier, the three backgrounds, the stamp and the integrity code.
template <class Item>
struct LineIdentityRecord {
  explicit LineIdentityRecord(Item& r)
      : line_id(r.text),
        background_uno(r.value1),
        background_tre(r.value2),
        background_due(r.value3),
        stamp(r.num1),
        check_code(r.check_code) {}
  SlotRef<Item, std::string> line_id;
  SlotRef<Item, int32_t> background_uno;
  SlotRef<Item, int32_t> background_tre;
  SlotRef<Item, int32_t> background_due;
  SlotRef<Item, int16_t> stamp;
  SlotRef<Item, int32_t> check_code;
};

// Record 86: the train number, signal repetition, sand and the clock at the start.
template <class Item>
struct TrainIdentityRecord {
  explicit TrainIdentityRecord(Item& r)
      : train_number(r.text),
        repetition_start(r.value1),
        repetition_end(r.value2),
        repetition_codes(r.value3),
        sand(r.num1),
        clock_hours(r.num3),
        clock_minutes(r.num4),
        clock_seconds(r.num5) {}
  SlotRef<Item, std::string> train_number;
  SlotRef<Item, int32_t> repetition_start;  // metres
  SlotRef<Item, int32_t> repetition_end;    // metres
  SlotRef<Item, int32_t> repetition_codes;  // 4, 9, or 0 without repetition
  SlotRef<Item, int16_t> sand;
  SlotRef<Item, int16_t> clock_hours;
  SlotRef<Item, int16_t> clock_minutes;
  SlotRef<Item, int16_t> clock_seconds;
};

inline StationRecord<ScenarioItem> station_record(Model& m, int n) {
  return StationRecord(m.record(n));
}
inline StationRecord<const ScenarioItem> station_record(const Model& m, int n) {
  return StationRecord(m.record(n));
}
inline ChainageRecord<ScenarioItem> chainage_record(Model& m, int n) {
  return ChainageRecord(m.record(n));
}
inline ChainageRecord<const ScenarioItem> chainage_record(const Model& m, int n) {
  return ChainageRecord(m.record(n));
}
inline LineDataRecord<ScenarioItem> line_data(Model& m) {
  return LineDataRecord(m.record(kLineDataRecord));
}
inline LineDataRecord<const ScenarioItem> line_data(const Model& m) {
  return LineDataRecord(m.record(kLineDataRecord));
}
inline LineIdentityRecord<ScenarioItem> line_identity(Model& m) {
  return LineIdentityRecord(m.record(kLineIdentityRecord));
}
inline LineIdentityRecord<const ScenarioItem> line_identity(const Model& m) {
  return LineIdentityRecord(m.record(kLineIdentityRecord));
}
inline TrainIdentityRecord<ScenarioItem> train_identity(Model& m) {
  return TrainIdentityRecord(m.record(kTrainIdentityRecord));
}
inline TrainIdentityRecord<const ScenarioItem> train_identity(const Model& m) {
  return TrainIdentityRecord(m.record(kTrainIdentityRecord));
}

// The names the record roles give the slots they use, for the listings that speak of a role
// rather than of the layout (diff): each entry takes a field of format/layouts.h by its name to
// the name of the member of the view above that reads it. A slot a role leaves out keeps the
// layout's name.
struct SlotName {
  const char* slot;
  const char* name;
};
inline constexpr SlotName kStationSlotNames[] = {
    {"value1", "extent_start"}, {"value2", "extent_end"},         {"value3", "position"},
    {"text", "name"},           {"check_code", "scheduled_time"},
};
inline constexpr SlotName kChainageSlotNames[] = {
    {"value1", "key"}, {"value2", "chainage"}, {"value3", "direction"}};
inline constexpr SlotName kLineDataSlotNames[] = {
    {"value1", "braked_mass"}, {"value2", "line_length"}, {"value3", "coaches"}};
inline constexpr SlotName kLineIdentitySlotNames[] = {
    {"text", "line_id"},
    {"value1", "background_uno"},
    {"value2", "background_tre"},
    {"value3", "background_due"},
    {"num1", "stamp"},
};
inline constexpr SlotName kTrainIdentitySlotNames[] = {
    {"text", "train_number"},
    {"value1", "repetition_start"},
    {"value2", "repetition_end"},
    {"value3", "repetition_codes"},
    {"num1", "sand"},
    {"num3", "clock_hours"},
    {"num4", "clock_minutes"},
    {"num5", "clock_seconds"},
};

// --- Cells -------------------------------------------------------------------------------------
// The fields after param4 (signal_time, approach_code, tunnel_type, speed_limit, gradient_code,
// adhesion) are named in TrackCell itself; param1 to param4 mean what the cell's kind says.

// A signal (kind 1): each digit pair is the side-s digit × 10 + the side-d digit, and the type
// code the relation digit × 10 + the side-s type × 3 + the side-d type.
template <class Cell>
struct SignalCell {
  explicit SignalCell(Cell& c)
      : digits_1(c.param1), digits_2(c.param2), digits_3(c.param3), type_code(c.param4) {}
  SlotRef<Cell, int16_t> digits_1;
  SlotRef<Cell, int16_t> digits_2;
  SlotRef<Cell, int16_t> digits_3;
  SlotRef<Cell, int16_t> type_code;
};

// A slow order's start (kind 3), end (2) or warning board (4).
template <class Cell>
struct SlowOrderCell {
  explicit SlowOrderCell(Cell& c) : speed(c.param1), value_d_v(c.param2), value_f_tt(c.param3) {}
  SlotRef<Cell, int16_t> speed;       // km/h
  SlotRef<Cell, int16_t> value_d_v;   // written only when d_v is not 0
  SlotRef<Cell, int16_t> value_f_tt;  // start and end only
};

// One of the four approach cells before a warning board (kind 5), numbered 1 to 4 away from it;
// the number stands again in repeated_number when the slow order's d_v is not 0.
template <class Cell>
struct ApproachCell {
  explicit ApproachCell(Cell& c) : number(c.param1), repeated_number(c.param2) {}
  SlotRef<Cell, int16_t> number;
  SlotRef<Cell, int16_t> repeated_number;
};

// A speed board (kind 6): each speed pair is (side-s speed / 5) × 100 + side-d speed / 5, the
// stripes the side-s count × 10 + the side-d count.
template <class Cell>
struct SpeedBoardCell {
  explicit SpeedBoardCell(Cell& c)
      : speeds_a(c.param1), speeds_b(c.param2), speeds_c(c.param3), stripes(c.param4) {}
  SlotRef<Cell, int16_t> speeds_a;
  SlotRef<Cell, int16_t> speeds_b;
  SlotRef<Cell, int16_t> speeds_c;
  SlotRef<Cell, int16_t> stripes;
};

// A station's stop mark (kind 10).
template <class Cell>
struct StopMarkCell {
  explicit StopMarkCell(Cell& c) : station_record(c.param1) {}
  SlotRef<Cell, int16_t> station_record;
};

// A cab-code point (kind 12).
template <class Cell>
struct CodePointCell {
  explicit CodePointCell(Cell& c) : code(c.param1) {}
  SlotRef<Cell, int16_t> code;
};

// An indication board (kind 14).
template <class Cell>
struct IndicationBoardCell {
  explicit IndicationBoardCell(Cell& c) : text_record(c.param1) {}
  SlotRef<Cell, int16_t> text_record;
};

// Cell 1, whatever its kind: the grid stamp and the integrity sum of the identity.
template <class Cell>
struct StampCell {
  explicit StampCell(Cell& c) : stamp(c.param1), check_sum(c.param2) {}
  SlotRef<Cell, int16_t> stamp;
  SlotRef<Cell, int16_t> check_sum;
};

// The names the cell kinds give param1 to param4, for the listings that speak of what a cell
// holds rather than of the layout (diff): the members of the views above, as kStationSlotNames
// does for the records. A kind not listed holds nothing there.
inline constexpr SlotName kSignalSlotNames[] = {{"param1", "digits_1"},
                                                {"param2", "digits_2"},
                                                {"param3", "digits_3"},
                                                {"param4", "type_code"}};
inline constexpr SlotName kSlowOrderSlotNames[] = {
    {"param1", "speed"}, {"param2", "value_d_v"}, {"param3", "value_f_tt"}};
inline constexpr SlotName kApproachSlotNames[] = {{"param1", "number"},
                                                  {"param2", "repeated_number"}};
inline constexpr SlotName kSpeedBoardSlotNames[] = {
    {"param1", "speeds_a"}, {"param2", "speeds_b"}, {"param3", "speeds_c"}, {"param4", "stripes"}};
inline constexpr SlotName kStopMarkSlotNames[] = {{"param1", "station_record"}};
inline constexpr SlotName kCodePointSlotNames[] = {{"param1", "code"}};
inline constexpr SlotName kIndicationBoardSlotNames[] = {{"param1", "text_record"}};
// Cell 1, whatever its kind.
inline constexpr SlotName kStampSlotNames[] = {{"param1", "stamp"}, {"param2", "check_sum"}};

struct CellSlotNames {
  uint8_t kind;
  std::span<const SlotName> names;
};
inline constexpr CellSlotNames kCellSlotNames[] = {
    {kSignal, kSignalSlotNames},
    {kSlowOrderEnd, kSlowOrderSlotNames},
    {kSlowOrderStart, kSlowOrderSlotNames},
    {kWarningBoard, kSlowOrderSlotNames},
    {kSlowOrderApproach, kApproachSlotNames},
    {kSpeedBoard, kSpeedBoardSlotNames},
    {kStopMark, kStopMarkSlotNames},
    {kCodePoint, kCodePointSlotNames},
    {kIndicationBoard, kIndicationBoardSlotNames},
};

// The names cell `index` of `kind` gives its slots (cell 1: the stamp's).
inline std::span<const SlotName> cell_slot_names(size_t index, uint8_t kind) {
  if (index == 1) return kStampSlotNames;
  for (const CellSlotNames& c : kCellSlotNames) {
    if (c.kind == kind) return c.names;
  }
  return {};
}

// The code the cab-code pass gives the points it inserts.
constexpr int16_t kInsertedCode = 180;

}  // namespace compactor
