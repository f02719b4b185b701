#include "syntax/record_kinds.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "model/model.h"
#include "syntax/lexer.h"

namespace compactor {

namespace {

using F = FieldType;

// --- Fields ------------------------------------------------------------------------------------

// Where a field goes, for the rows below.
using T = Transform;
using R = RecordRole;
using Rule = CellRule;

constexpr FieldTarget record(RecordRole role, const char* member, Transform t = T::kAsWritten) {
  return {FieldPlace::kRecord, role, 0, member, t};
}
constexpr FieldTarget cell(uint8_t kind, const char* member, Transform t) {
  return {FieldPlace::kCell, R::kNone, kind, member, t};
}
constexpr FieldTarget cells_from_here(const char* member, Transform t) {
  return {FieldPlace::kCellsFromHere, R::kNone, 0, member, t};
}
// A position that picks the record's cell.
constexpr FieldTarget picks(CellRule rule, const char* what) {
  return {FieldPlace::kNowhere, R::kNone, 0, "", T::kAsWritten, rule, what};
}
constexpr FieldTarget plan(const char* what) {
  return {FieldPlace::kPlan, R::kNone, 0, "", T::kAsWritten, Rule::kNone, what};
}
constexpr FieldTarget decides(const char* what) {
  return {FieldPlace::kNowhere, R::kNone, 0, "", T::kAsWritten, Rule::kNone, what};
}

constexpr int64_t kLeast = INT64_MIN;
constexpr int64_t kMost = INT64_MAX;

// Each field: name, type, unit, meaning, noun for messages, then the allowed range and step
// where the compiled form holds less than the type does, then where it goes.
constexpr FieldDescription kLineLength[] = {
    {"length", F::kInt32, "m", "the length of the line, 1 to 1,000,000 m", "line length", 1,
     1000000, 1, record(R::kLineData, "line_length")}};
constexpr FieldDescription kChainage[] = {
    {"key", F::kInt32, "", "orders the three chainage records: the greatest key comes first", "key",
     kLeast, kMost, 50, record(R::kChainage, "key")},
    {"chainage", F::kInt32, "m", "the chainage shown at the start, a multiple of 50", "chainage",
     kLeast, kMost, 50, record(R::kChainage, "chainage", T::kPlus100ByDirection)},
    {"direction", F::kInt32, "", "1 adds 100 m to the chainage", "direction", kLeast, kMost, 1,
     record(R::kChainage, "direction")}};
constexpr FieldDescription kBackgroundUno[] = {
    {"background", F::kInt32, "", "a background picture number", "background", kLeast, kMost, 1,
     record(R::kLineIdentity, "background_uno")}};
constexpr FieldDescription kBackgroundDue[] = {
    {"background", F::kInt32, "", "a background picture number", "background", kLeast, kMost, 1,
     record(R::kLineIdentity, "background_due")}};
constexpr FieldDescription kBackgroundTre[] = {
    {"background", F::kInt32, "", "a background picture number", "background", kLeast, kMost, 1,
     record(R::kLineIdentity, "background_tre")}};
constexpr FieldDescription kSignalRepetition[] = {
    {"start", F::kInt32, "m", "where signal repetition starts, a multiple of 50", "start", kLeast,
     kMost, 50, record(R::kTrainIdentity, "repetition_start")},
    {"end", F::kInt32, "m", "where it ends, a multiple of 50; 0: no repetition", "end", kLeast,
     kMost, 50, record(R::kTrainIdentity, "repetition_end")}};
constexpr FieldDescription kGradient[] = {
    {"position", F::kInt32, "m", "where the gradient starts", "position", kLeast, kMost, 1,
     picks(Rule::kAt, "the first cell of the gradient")},
    {"gradient", F::kInt32, "per mille", "the gradient from here on; stored plus 100 in a byte",
     "gradient", -100, 155, 1, cells_from_here("gradient_code", T::kPlus100Low8)}};
constexpr FieldDescription kCurve[] = {
    {"start", F::kInt32, "m", "where the curve starts", "start", kLeast, kMost, 1,
     plan("the plan turns from metre start + 1")},
    {"length", F::kInt32, "m", "the curve's length", "length", kLeast, kMost, 1,
     plan("the plan turns up to metre start + length")}};
constexpr FieldDescription kTunnel[] = {
    {"start", F::kInt32, "m", "where the tunnel starts", "start", kLeast, kMost, 1,
     picks(Rule::kAt, "the tunnel's first cell")},
    {"end", F::kInt32, "m", "where the tunnel ends", "end", kLeast, kMost, 1,
     picks(Rule::kBefore, "the tunnel's last cell")},
    {"type", F::kInt32, "", "the tunnel type; above 10: type less 10, with markers", "tunnel type",
     kLeast, kMost, 1, cell(CellKind::kFree, "tunnel_type", T::kTunnelType)}};
// A board packs each pair of speeds as (side s / 5) x 100 + side d / 5.
constexpr FieldDescription kSpeedBoards[] = {
    {"position", F::kInt32, "m", "the board's place", "position", kLeast, kMost, 1,
     picks(Rule::kAfter, "the speed board's cell")},
    {"vas", F::kInt32, "km/h", "speed a, side s", "speed vas", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_a", T::kSpeedPairS)},
    {"vbs", F::kInt32, "km/h", "speed b, side s", "speed vbs", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_b", T::kSpeedPairS)},
    {"vcs", F::kInt32, "km/h", "speed c, side s", "speed vcs", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_c", T::kSpeedPairS)},
    {"strisces", F::kInt32, "", "stripe count, side s", "stripe count strisces", kLeast, kMost, 1,
     cell(CellKind::kSpeedBoard, "stripes", T::kTens)},
    {"vad", F::kInt32, "km/h", "speed a, side d", "speed vad", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_a", T::kSpeedPairD)},
    {"vbd", F::kInt32, "km/h", "speed b, side d", "speed vbd", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_b", T::kSpeedPairD)},
    {"vcd", F::kInt32, "km/h", "speed c, side d", "speed vcd", 0, 495, 5,
     cell(CellKind::kSpeedBoard, "speeds_c", T::kSpeedPairD)},
    {"strisced", F::kInt32, "", "stripe count, side d", "stripe count strisced", kLeast, kMost, 1,
     cell(CellKind::kSpeedBoard, "stripes", T::kUnits)}};
constexpr FieldDescription kIndicationBoard[] = {
    {"position", F::kInt32, "m", "the board's place", "position", kLeast, kMost, 1,
     picks(Rule::kAfter, "the indication board's cell")},
    {"text", F::kText, "", "the board's text", "text", kLeast, kMost, 1,
     record(R::kBoardText, "text")}};
constexpr FieldDescription kBrakedMass[] = {{"percentage", F::kInt32, "%",
                                             "the braked-mass percentage", "percentage", kLeast,
                                             kMost, 1, record(R::kLineData, "braked_mass")}};
constexpr FieldDescription kCoaches[] = {{"count", F::kInt32, "", "the number of coaches",
                                          "coach count", kLeast, kMost, 1,
                                          record(R::kLineData, "coaches")}};
constexpr FieldDescription kSpeed[] = {
    {"position", F::kInt32, "m", "where the speed limit changes", "position", kLeast, kMost, 1,
     picks(Rule::kAt, "the first cell of the speed limit")},
    {"speed", F::kInt32, "km/h", "the limit from here on; stored as speed / 5 in a byte", "speed",
     0, 1275, 5, cells_from_here("speed_limit", T::kDividedBy5)}};
constexpr FieldDescription kAdhesion[] = {
    {"position", F::kInt32, "m", "where the adhesion changes", "position", kLeast, kMost, 1,
     picks(Rule::kAt, "the first cell of the adhesion")},
    {"adhesion", F::kInt32, "", "the adhesion from here on; its low 8 bits are stored", "adhesion",
     0, 255, 1, cells_from_here("adhesion", T::kLow8)}};
constexpr FieldDescription kClock[] = {{"hours", F::kInt16, "h", "the clock at the start", "hours",
                                        kLeast, kMost, 1, record(R::kTrainIdentity, "clock_hours")},
                                       {"minutes", F::kInt16, "min", "", "minutes", 0, 59, 1,
                                        record(R::kTrainIdentity, "clock_minutes")},
                                       {"seconds", F::kInt16, "s", "", "seconds", 0, 59, 1,
                                        record(R::kTrainIdentity, "clock_seconds")}};
constexpr FieldDescription kSand[] = {{"sand", F::kInt16, "", "the sand setting", "sand setting",
                                       kLeast, kMost, 1, record(R::kTrainIdentity, "sand")}};
constexpr FieldDescription kSignal[] = {
    {"position", F::kInt32, "m", "the signal's place", "position", kLeast, kMost, 1,
     picks(Rule::kAfter, "the signal's cell")},
    {"sx", F::kInt32, "", "the type of side s; 2 gives the signal a time", "type sx", kLeast, kMost,
     1, cell(CellKind::kSignal, "type_code", T::kTimes3)},
    {"s1", F::kInt32, "", "first digit, side s", "digit s1", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_1", T::kTens)},
    {"s2", F::kInt32, "", "second digit, side s", "digit s2", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_2", T::kTens)},
    {"s3", F::kInt32, "", "third digit, side s", "digit s3", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_3", T::kTens)},
    {"rapp", F::kInt32, "", "the relation digit", "digit rapp", kLeast, kMost, 1,
     cell(CellKind::kSignal, "type_code", T::kTens)},
    {"dx", F::kInt32, "", "the type of side d", "type dx", kLeast, kMost, 1,
     cell(CellKind::kSignal, "type_code", T::kUnits)},
    {"d1", F::kInt32, "", "first digit, side d", "digit d1", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_1", T::kUnits)},
    {"d2", F::kInt32, "", "second digit, side d", "digit d2", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_2", T::kUnits)},
    {"d3", F::kInt32, "", "third digit, side d", "digit d3", kLeast, kMost, 1,
     cell(CellKind::kSignal, "digits_3", T::kUnits)},
    {"tempo", F::kInt32, "", "the signal's time, with sx = 2; 1 to 100 become 101", "time tempo",
     kLeast, kMost, 1, cell(CellKind::kSignal, "signal_time", T::kSignalTime)}};
constexpr FieldDescription kSlowOrder[] = {
    {"x", F::kInt32, "m", "where the slow order starts", "start x", kLeast, kMost, 1,
     picks(Rule::kAfter, "the slow order's start cell")},
    {"v", F::kInt32, "km/h", "its speed", "speed v", kLeast, kMost, 1,
     cell(CellKind::kSlowOrderStart, "speed", T::kLow16)},
    {"l", F::kInt32, "m", "its length", "length l", kLeast, kMost, 1,
     decides("the end cell, (x + l) / 50 + 1")},
    {"f_tt", F::kInt32, "", "stored in param3 of its start and end cells", "value f_tt", kLeast,
     kMost, 1, cell(CellKind::kSlowOrderStart, "value_f_tt", T::kLow16)},
    {"f_ta", F::kInt32, "", "not 0: four approach cells before the warning board", "value f_ta",
     kLeast, kMost, 1, decides("whether the warning board has approach cells")},
    {"d_v", F::kInt32, "", "not 0: stored in param2 of its cells", "value d_v", kLeast, kMost, 1,
     cell(CellKind::kSlowOrderStart, "value_d_v", T::kLow16)}};
constexpr FieldDescription kCodePoint[] = {
    {"position", F::kInt32, "m", "the cab-code point's place", "position", kLeast, kMost, 1,
     picks(Rule::kAt, "the cab-code point's cell")},
    {"code", F::kInt32, "", "the code; 0 or less: a point without a code", "code", kLeast, kMost, 1,
     cell(CellKind::kCodePoint, "code", T::kLow16)}};
constexpr FieldTarget station_position() {
  FieldTarget target = record(R::kStation, "position");
  target.rule = Rule::kAt;
  target.what = "the station's cell";
  return target;
}
constexpr FieldDescription kStation[] = {
    {"position", F::kInt32, "m", "the station's place, a multiple of 50", "position", kLeast, kMost,
     50, station_position()},
    {"kind", F::kUint8, "", "decides the station's extent and marks", "station kind", kLeast, kMost,
     1, record(R::kStation, "kind")},
    {"length", F::kInt32, "m", "the platform length, a multiple of 100", "length", kLeast, kMost,
     100, decides("the station's extent, extent_start to extent_end")},
    {"mark", F::kUint8, "", "", "mark", kLeast, kMost, 1, record(R::kStation, "mark")},
    {"flag4", F::kUint8, "", "cleared below 600 m and for the first station", "flag4", kLeast,
     kMost, 1, record(R::kStation, "flag4", T::kCleared)},
    {"flag3", F::kUint8, "", "lengthens an ordinary station's extent by 50 m", "flag3", kLeast,
     kMost, 1, record(R::kStation, "flag3", T::kCleared)},
    {"num1", F::kInt16, "", "", "num1", kLeast, kMost, 1, record(R::kStation, "num1")},
    {"num2", F::kInt16, "", "", "num2", kLeast, kMost, 1, record(R::kStation, "num2")},
    {"flag1", F::kUint8, "", "", "flag1", kLeast, kMost, 1, record(R::kStation, "flag1")},
    {"num3", F::kInt16, "", "", "num3", kLeast, kMost, 1, record(R::kStation, "num3")},
    {"num4", F::kInt16, "", "", "num4", kLeast, kMost, 1, record(R::kStation, "num4")},
    {"num5", F::kInt16, "", "", "num5", kLeast, kMost, 1, record(R::kStation, "num5")},
    {"flag2", F::kUint8, "", "", "flag2", kLeast, kMost, 1, record(R::kStation, "flag2")},
    {"hours", F::kInt32, "h", "the scheduled time", "hours", kLeast, kMost, 1,
     record(R::kStation, "scheduled_time", T::kHoursToSeconds)},
    {"minutes", F::kInt32, "min", "", "minutes", 0, 59, 1,
     record(R::kStation, "scheduled_time", T::kMinutesToSeconds)},
    {"seconds", F::kInt32, "s", "", "seconds", 0, 59, 1,
     record(R::kStation, "scheduled_time", T::kUnits)},
    {"name", F::kText, "", "the station's name, up to the next comma", "name", kLeast, kMost, 1,
     record(R::kStation, "name")}};

// What the records of each kind fill.
constexpr KindPlacement kFillsLineData = {R::kLineData, 0, "record 84"};
constexpr KindPlacement kFillsLineIdentity = {R::kLineIdentity, 0, "record 85"};
constexpr KindPlacement kFillsTrainIdentity = {R::kTrainIdentity, 0, "record 86"};
constexpr KindPlacement kFillsChainage = {
    R::kChainage, 0, "a chainage record of 81 to 83, put in the order of the keys"};
constexpr KindPlacement kFillsFromHere = {
    R::kNone, 0, "a field of every cell from its position up to the next record of its kind"};
constexpr KindPlacement kFillsLineLength = {R::kLineData, 0,
                                            "record 84; sizes the grid and the plan"};
constexpr KindPlacement kFillsRepetition = {
    R::kTrainIdentity, 0, "record 86; the keyword's 4 or 9 goes to repetition_codes"};
constexpr KindPlacement kFillsPlan = {R::kNone, 0, "the plan of the line"};
constexpr KindPlacement kFillsTunnelCells = {R::kNone, 0,
                                             "the tunnel_type of the cells from start to end"};
constexpr KindPlacement kFillsSpeedBoard = {R::kNone, CellKind::kSpeedBoard, "a speed-board cell"};
constexpr KindPlacement kFillsIndicationBoard = {
    R::kBoardText, CellKind::kIndicationBoard,
    "an indication-board cell and the next board-text record, 80 downwards"};
constexpr KindPlacement kFillsSignal = {
    R::kNone, CellKind::kSignal, "a signal cell and the approach codes of 4 cells before it"};
constexpr KindPlacement kFillsSlowOrder = {
    R::kNone, CellKind::kSlowOrderStart,
    "a start cell, an end cell and, beyond 1500 m, a warning board with approach cells"};
constexpr KindPlacement kFillsCodePoint = {R::kNone, CellKind::kCodePoint,
                                           "a cab-code point cell; without a code, kind 13"};
constexpr KindPlacement kFillsStation = {
    R::kStation, 0, "the next station record, 1 upwards, and for most kinds a stop-mark cell"};

using S = RecordSection;
using K = KindId;

constexpr std::string_view kCurveKeywords[] = {"curvad1", "curvad2", "curvad3", "curvad4",
                                               "curvad5", "curvad6", "curvas1", "curvas2",
                                               "curvas3", "curvas4", "curvas5", "curvas6"};
constexpr std::string_view kRepetitionKeywords[] = {"ripetizione segnali 9 codici",
                                                    "ripetizione segnali 4 codici"};

// Each kind: id, keyword, section, the words its keyword field holds and whether letter case
// counts, fields, meaning.
constexpr RecordKind kKinds[] = {
    {K::kLineLength,
     "lunghezza percorso",
     S::kLineGeneral,
     {{"percorso", "lunghezza"}, true},
     kLineLength,
     "the length of the line; sizes the grid and the plan",
     false, {}, nullptr, kFillsLineLength},
    {K::kChainageTre,
     "progressiva chilometrica tre",
     S::kLineGeneral,
     {{"tre", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica",
     kFillsChainage},
    {K::kChainageDue,
     "progressiva chilometrica due",
     S::kLineGeneral,
     {{"due", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica",
     kFillsChainage},
    {K::kChainageUno,
     "progressiva chilometrica uno",
     S::kLineGeneral,
     {{"uno", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica",
     kFillsChainage},
    {K::kBackgroundUno,
     "sfondo uno",
     S::kLineGeneral,
     {{"sfondo", "uno"}},
     kBackgroundUno,
     "the first background",
     false,
     {},
     "sfondo",
     kFillsLineIdentity},
    {K::kBackgroundDue,
     "sfondo due",
     S::kLineGeneral,
     {{"sfondo", "due"}},
     kBackgroundDue,
     "the second background",
     false,
     {},
     "sfondo",
     kFillsLineIdentity},
    {K::kBackgroundTre,
     "sfondo tre",
     S::kLineGeneral,
     {{"sfondo", "tre"}},
     kBackgroundTre,
     "the third background",
     false,
     {},
     "sfondo",
     kFillsLineIdentity},
    {K::kSignalRepetition,
     "ripetizione segnali",
     S::kLineGeneral,
     {{"segnali", "ripetizione"}},
     kSignalRepetition,
     "where signals are repeated in the cab; the keyword holds 4 or 9 codes",
     false,
     kRepetitionKeywords,
     nullptr, kFillsRepetition},
    {K::kGradient,
     "pendenza",
     S::kLineFeatures,
     {{"pendenza"}, true},
     kGradient,
     "a change of gradient",
     false, {}, nullptr, kFillsFromHere},
    {K::kCurve,
     "curva",
     S::kLineFeatures,
     {{"curva"}, true},
     kCurve,
     "a curve of the plan; the keyword's digit 1 to 6 is its class, an s turns it the other way",
     true,
     kCurveKeywords,
     nullptr,
     kFillsPlan},
    {K::kTunnel, "montagna", S::kLineFeatures, {{"montagna"}, true}, kTunnel, "a tunnel",
     false, {}, nullptr, kFillsTunnelCells},
    {K::kSpeedBoards,
     "indicatori_vmax",
     S::kLineFeatures,
     {{"indicatori_v"}, true},
     kSpeedBoards,
     "a speed board",
     false, {}, nullptr, kFillsSpeedBoard},
    {K::kIndicationBoard,
     "cartello_indicatore",
     S::kLineFeatures,
     {{"indicat", "cartello"}, true},
     kIndicationBoard,
     "an indication board with its text",
     false, {}, nullptr, kFillsIndicationBoard},
    {K::kBrakedMass,
     "percentuale massa frenata",
     S::kTrain,
     {{"frenata", "massa"}, true},
     kBrakedMass,
     "the train's braked-mass percentage",
     false, {}, nullptr, kFillsLineData},
    {K::kCoaches,
     "numero vetture",
     S::kTrain,
     {{"vetture"}, true},
     kCoaches,
     "the train's number of coaches",
     false, {}, nullptr, kFillsLineData},
    {K::kSpeed, "velocita", S::kTrain, {{"velocit"}, true}, kSpeed, "a change of the speed limit",
     false, {}, nullptr, kFillsFromHere},
    {K::kAdhesion, "aderenza", S::kTrain, {{"aderenza"}, true}, kAdhesion, "a change of adhesion",
     false, {}, nullptr, kFillsFromHere},
    {K::kClock, "orologio", S::kTrain, {{"orologio"}, true}, kClock, "the clock at the start",
     false, {}, nullptr, kFillsTrainIdentity},
    {K::kSand, "sabbia", S::kTrain, {{"sabbia"}, true}, kSand, "the sand setting",
     false, {}, nullptr, kFillsTrainIdentity},
    {K::kSignal, "segnale", S::kTrain, {{"segnale"}, true}, kSignal, "a signal",
     false, {}, nullptr, kFillsSignal},
    {K::kSlowOrder,
     "rallentamento",
     S::kTrain,
     {{"rallentamento"}, true},
     kSlowOrder,
     "a slow order",
     false, {}, nullptr, kFillsSlowOrder},
    {K::kCodePoint,
     "abbattimento",
     S::kTrain,
     {{"abbattimento"}, true},
     kCodePoint,
     "a cab-code point",
     false, {}, nullptr, kFillsCodePoint},
    {K::kStation, "stazione", S::kTrain, {{"stazione"}, true}, kStation, "a station",
     false, {}, nullptr, kFillsStation},
};

}  // namespace

std::span<const RecordKind> record_kinds() {
  return kKinds;
}

const char* transform_text(Transform transform) {
  switch (transform) {
    case Transform::kAsWritten:
      return "as written";
    case Transform::kDividedBy5:
      return "/ 5, rounded, halves to even";
    case Transform::kPlus100Low8:
      return "plus 100, low 8 bits";
    case Transform::kLow8:
      return "low 8 bits";
    case Transform::kLow16:
      return "low 16 bits";
    case Transform::kTens:
      return "x 10, plus the side-d value";
    case Transform::kUnits:
      return "added as written";
    case Transform::kTimes3:
      return "x 3, plus dx and rapp x 10";
    case Transform::kSpeedPairS:
      return "(s / 5) x 100, plus d / 5, rounded, halves to even";
    case Transform::kSpeedPairD:
      return "d / 5, added to (s / 5) x 100";
    case Transform::kHoursToSeconds:
      return "hours x 3600, with minutes x 60 and the seconds";
    case Transform::kMinutesToSeconds:
      return "minutes x 60, added to the seconds";
    case Transform::kPlus100ByDirection:
      return "plus 100 when the direction is 1";
    case Transform::kSignalTime:
      return "1 to 100 become 101; 0 unless sx is 2";
    case Transform::kTunnelType:
      return "above 10: less 10, with markers; 3 within 150 m of the tunnel before";
    case Transform::kCleared:
      break;
  }
  return "as written, unless the placement clears it";
}

const RecordKind& record_kind(KindId id) {
  return kKinds[static_cast<size_t>(id)];
}

bool matches(const RecordKind& kind, std::string_view field) {
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    bool found = kind.test.any_case ? contains_any_case(field, word) : contains_exact(field, word);
    if (!found) return false;
  }
  return true;
}

namespace {

bool holds_word(const RecordKind& kind, std::string_view word) {
  for (std::string_view own : kind.test.words) {
    if (own == word) return true;
  }
  return false;
}

}  // namespace

bool matches_family(const RecordKind& kind, std::string_view field) {
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    bool shared = true;
    for (const RecordKind& other : kKinds) {
      if (kind.family != nullptr && other.family != nullptr &&
          std::string_view(kind.family) == other.family && !holds_word(other, word)) {
        shared = false;
      }
    }
    if (!shared) continue;
    bool found = kind.test.any_case ? contains_any_case(field, word) : contains_exact(field, word);
    if (!found) return false;
  }
  return true;
}

const char* misplaced_keyword(std::string_view field, RecordSection section) {
  if (section == RecordSection::kLineGeneral) {
    for (const RecordKind& kind : kKinds) {
      if (kind.section == RecordSection::kLineFeatures && matches(kind, field)) return kind.keyword;
    }
  } else if (section == RecordSection::kLineFeatures) {
    for (const RecordKind& kind : kKinds) {
      if (kind.section == RecordSection::kLineGeneral && matches_family(kind, field)) {
        return kind.family != nullptr ? kind.family : kind.keyword;
      }
    }
  }
  return nullptr;
}

std::string keyword_test_text(const RecordKind& kind) {
  std::string text;
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    if (!text.empty()) text.append(" and ");
    text.push_back('"');
    text.append(word);
    text.push_back('"');
  }
  if (kind.test.any_case) text.append(", any case");
  return text;
}

int64_t field_type_min(FieldType type) {
  switch (type) {
    case FieldType::kInt16:
      return INT16_MIN;
    case FieldType::kUint8:
      return 0;
    case FieldType::kInt32:
    case FieldType::kText:
      break;
  }
  return INT32_MIN;
}

int64_t field_type_max(FieldType type) {
  switch (type) {
    case FieldType::kInt16:
      return INT16_MAX;
    case FieldType::kUint8:
      return 255;
    case FieldType::kInt32:
    case FieldType::kText:
      break;
  }
  return INT32_MAX;
}

int64_t field_least(const FieldDescription& field) {
  return std::max(field.least, field_type_min(field.type));
}

int64_t field_most(const FieldDescription& field) {
  return std::min(field.most, field_type_max(field.type));
}

bool field_holds(const FieldDescription& field, int64_t value) {
  return value >= field_least(field) && value <= field_most(field) && value % field.step == 0;
}

namespace {

char folded(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr size_t kLongestCompared = 64;

// Edits (a letter replaced, inserted, deleted, or two neighbours swapped) from a to b, letter case
// folded, when they are at most `limit`; more than `limit` otherwise. `a` and `b` hold at most
// kLongestCompared bytes.
size_t edit_distance(std::string_view a, std::string_view b, size_t limit) {
  size_t longer = std::max(a.size(), b.size());
  if (longer - std::min(a.size(), b.size()) > limit) return limit + 1;
  size_t d[kLongestCompared + 1][kLongestCompared + 1];
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  size_t previous_row_least = 0;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t row_least = d[i][0];
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = folded(a[i - 1]) == folded(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && folded(a[i - 1]) == folded(b[j - 2]) &&
          folded(a[i - 2]) == folded(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
      row_least = std::min(row_least, d[i][j]);
    }
    // A row comes from the one before it and, by a swap, the one before that: once two rows in
    // a row are past the limit, so is every later one.
    if (row_least > limit && previous_row_least > limit) return limit + 1;
    previous_row_least = row_least;
  }
  return d[a.size()][b.size()];
}

}  // namespace

const char* closest_keyword(std::string_view field, bool line_source) {
  size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return nullptr;
  field = field.substr(first, field.find_last_not_of(" \t") - first + 1);
  if (field.size() > kLongestCompared) return nullptr;
  const char* best = nullptr;
  size_t best_distance = SIZE_MAX;
  // A candidate is taken when it is within its limit and nearer than every one before it.
  auto consider = [&](std::string_view keyword) {
    size_t limit = 1 + keyword.size() / 8;  // one more for every 8 letters
    size_t distance = edit_distance(field, keyword, limit);
    if (distance <= limit && distance < best_distance) {
      best = keyword.data();  // the table's keywords are string literals
      best_distance = distance;
    }
  };
  for (const RecordKind& kind : kKinds) {
    if ((kind.section == RecordSection::kTrain) == line_source) continue;
    consider(kind.keyword);
    for (std::string_view written : kind.written) consider(written);
  }
  return best;
}

bool near_general_field(std::string_view field) {
  size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  field = field.substr(first, field.find_last_not_of(" \t") - first + 1);
  if (field.size() > kLongestCompared) return false;
  constexpr std::string_view kGeneral = "[generale]";
  return edit_distance(field, kGeneral, 2) <= 2 ||
         edit_distance(field, kGeneral.substr(1, kGeneral.size() - 2), 1) <= 1;
}

bool looks_like_comment(std::string_view field) {
  size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  field = field.substr(first);
  return field.starts_with('#') || field.starts_with("//") || field.starts_with(';');
}

const FieldDescription* find_field(const RecordKind& kind, std::string_view name) {
  for (const FieldDescription& field : kind.fields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

}  // namespace compactor
