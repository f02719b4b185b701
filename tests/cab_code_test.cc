// The cab-code pass over the grid, the stamps and the two integrity codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "compiler/compile.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/roles.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

Model grid(int32_t last) {
  Model m;
  create_grid(m, last);
  return m;
}

void put(Model& m, int32_t cell, uint8_t kind, int16_t param1 = 0) {
  m.track_grid[cell].kind = kind;
  m.track_grid[cell].param1 = param1;
}

// A slow order of speed v from cell start to cell end (the reader writes both together).
void slow_order(Model& m, int32_t start, int32_t end, int16_t v) {
  put(m, start, kSlowOrderStart, v);
  put(m, end, kSlowOrderEnd, v);
}

// Cells in [first, last] holding a code point with the pass's code 180.
std::set<int32_t> inserted(const Model& m, int32_t first, int32_t last) {
  std::set<int32_t> cells;
  for (int32_t i = first; i <= last; ++i) {
    if (m.track_grid[i].kind == kCodePoint && m.track_grid[i].param1 == 180) cells.insert(i);
  }
  return cells;
}

using test::count_kind;

// --- A: signals before a warning board -------------------------------------------------------

TEST(WarningBoardLookBack, EverySignalInTheTwentyCellsGetsAPoint) {
  Model m = grid(100);
  put(m, 50, kWarningBoard, 40);
  put(m, 46, kSignal, 42);
  put(m, 41, kSignal, 42);
  insert_cab_code_points(m);
  EXPECT_EQ(m.error_code, 0);
  EXPECT_EQ(inserted(m, 0, 100), (std::set<int32_t>{40, 45}));
  EXPECT_EQ(count_kind(m, kCodePoint), 2);
}

TEST(WarningBoardLookBack, FrontCells) {
  // Signal at 46 before a board at 50: the near front cell is 45, the far one 44.
  struct Case {
    std::string name;
    uint8_t near_kind;
    int16_t near_code;
    uint8_t far_kind;
    int16_t far_code;
    uint8_t near_kind_after;
    int16_t near_code_after;
    uint8_t far_kind_after;
    int16_t far_code_after;
    int32_t error;
  };
  const Case cases[] = {
      {"both code points 270: the near one takes 180", kCodePoint, 270, kCodePoint, 270, kCodePoint,
       180, kCodePoint, 270, 0},
      {"both code points 120: kept", kCodePoint, 120, kCodePoint, 120, kCodePoint, 120, kCodePoint,
       120, 0},
      {"a free far cell comes before an existing near point", kCodePoint, 270, kFree, 0, kCodePoint,
       270, kCodePoint, 180, 0},
      {"occupied near cell, far code point", kSpeedBoard, 2525, kCodePoint, 270, kSpeedBoard, 2525,
       kCodePoint, 180, 0},
      {"tunnel marker replaced", kTunnelMarker, 0, kFree, 0, kCodePoint, 180, kFree, 0, 0},
      {"signal and speed board: no room", kSignal, 42, kSpeedBoard, 2525, kSignal, 42, kSpeedBoard,
       2525, kErrNoRoomBeforeSignal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = grid(100);
    put(m, 50, kWarningBoard, 40);
    put(m, 46, kSignal, 42);
    put(m, 45, c.near_kind, c.near_code);
    put(m, 44, c.far_kind, c.far_code);
    insert_cab_code_points(m);
    EXPECT_EQ(m.track_grid[45].kind, c.near_kind_after);
    EXPECT_EQ(m.track_grid[45].param1, c.near_code_after);
    EXPECT_EQ(m.track_grid[44].kind, c.far_kind_after);
    EXPECT_EQ(m.track_grid[44].param1, c.far_code_after);
    EXPECT_EQ(m.error_code, c.error);
    EXPECT_EQ(m.error_position, c.error == 0 ? 0 : 46 * 50);
  }
}

TEST(WarningBoardLookBack, Reach) {
  struct Case {
    int32_t board, signal;
    int32_t point;  // -1: none
  };
  const Case cases[] = {
      {50, 30, 29},  // 20 cells before
      {50, 29, -1},  // 21 cells before
      {10, 3, 2},    // the look-back goes down to cell 3
      {10, 2, -1},   // and stops below it
      {98, 95, 94},  // a board at grid_last - 2 is the walk's last cell
      {99, 95, -1},  // one at grid_last - 1 is never visited
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("board " + std::to_string(c.board) + " signal " + std::to_string(c.signal));
    Model m = grid(100);
    put(m, c.board, kWarningBoard, 40);
    put(m, c.signal, kSignal, 42);
    insert_cab_code_points(m);
    std::set<int32_t> expected;
    if (c.point >= 0) expected.insert(c.point);
    EXPECT_EQ(inserted(m, 0, 100), expected);
    EXPECT_EQ(m.error_code, 0);
  }
}

// --- B1 to B3: the windows before a slow-order start ----------------------------------------

TEST(StartWindows, ThresholdsOfTheFirstWindow) {
  struct Case {
    int32_t start;
    std::vector<int32_t> occupied;
    std::set<int32_t> points;
  };
  const Case cases[] = {
      {7, {}, {}},
      {8, {}, {3}},
      {8, {3}, {2}},
      {8, {3, 2}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("start " + std::to_string(c.start) + ", " + std::to_string(c.occupied.size()) +
                 " occupied");
    Model m = grid(60);
    slow_order(m, c.start, c.start + 4, 120);
    for (int32_t o : c.occupied) put(m, o, kSpeedBoard, 1);
    insert_cab_code_points(m);
    EXPECT_EQ(inserted(m, 0, 60), c.points);
    EXPECT_EQ(m.error_code, 0);
  }
}

TEST(StartWindows, OnePointInEachWindow) {
  struct Case {
    std::string name;
    std::vector<std::pair<int32_t, uint8_t>> occupants;
    std::set<int32_t> points;
    int32_t error;
  };
  const Case cases[] = {
      {"all free", {}, {12, 19, 25}, 0},
      {"first cells taken", {{25, kSignal}, {19, kSpeedBoard}, {12, kStopMark}}, {11, 18, 24}, 0},
      {"tunnel markers are free", {{25, kTunnelMarker}, {19, kTunnelMarker}}, {12, 19, 25}, 0},
      {"first window full",
       {{25, kSpeedBoard}, {24, kSpeedBoard}, {23, kSpeedBoard}},
       {12, 19},
       kErrNoRoomBeforeStart},
      {"existing code points do not count",
       {{19, kCodePoint}, {18, kCodePoint}, {17, kCodePoint}},
       {12, 25},
       kErrNoRoomBeforeStart},
      {"last window full",
       {{12, kSignal}, {11, kSignal}, {10, kSignal}},
       {19, 25},
       kErrNoRoomBeforeStart},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = grid(100);
    slow_order(m, 30, 34, 120);
    for (auto [cell, kind] : c.occupants) put(m, cell, kind, kind == kCodePoint ? 270 : 1);
    insert_cab_code_points(m);
    EXPECT_EQ(inserted(m, 0, 29), c.points);
    EXPECT_EQ(m.error_code, c.error);
    EXPECT_EQ(m.error_position, c.error == 0 ? 0 : 30 * 50);
    for (auto [cell, kind] : c.occupants) {
      if (kind != kTunnelMarker) {
        EXPECT_EQ(m.track_grid[cell].kind, kind) << "cell " << cell;
      }
    }
  }
}

// --- B4: points inside a slow order ---------------------------------------------------------

TEST(ForwardScan, EveryEightCellsFromWhereThePreviousPointWent) {
  struct Case {
    std::string name;
    int16_t speed;
    std::vector<std::pair<int32_t, uint8_t>> occupants;
    std::set<int32_t> points;
    int32_t error, position;
    int32_t end = 130;
  };
  const Case cases[] = {
      {"speed 100", 100, {}, {108, 116, 124}, 0, 0},
      {"end 9 cells after the start", 100, {}, {108}, 0, 0, 109},
      {"end 8 cells after the start: the point goes in front of it", 100, {}, {107}, 0, 0, 108},
      {"end 7 cells after the start", 100, {}, {}, 0, 0, 107},
      {"speed 109", 109, {}, {108, 116, 124}, 0, 0},
      {"speed 110", 110, {}, {}, 0, 0},
      {"speed 130", 130, {}, {}, 0, 0},
      {"cell 108 taken", 100, {{108, kSpeedBoard}}, {107, 115, 123}, 0, 0},
      {"cells 108 and 107 taken", 100, {{108, kSpeedBoard}, {107, kSignal}}, {109, 117, 125}, 0, 0},
      {"no room at 108",
       100,
       {{107, kSpeedBoard}, {108, kSignal}, {109, kStopMark}},
       {},
       kErrNoRoomInSlowOrder,
       108 * 50},
      {"tunnel marker at 108", 100, {{108, kTunnelMarker}}, {108, 116, 124}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = grid(200);
    slow_order(m, 100, c.end, c.speed);
    for (auto [cell, kind] : c.occupants) put(m, cell, kind, 1);
    insert_cab_code_points(m);
    EXPECT_EQ(inserted(m, 101, c.end), c.points);
    EXPECT_EQ(inserted(m, c.end + 1, 200), std::set<int32_t>{}) << "the scan ends at the end cell";
    EXPECT_EQ(inserted(m, 0, 99), (std::set<int32_t>{82, 89, 95}));  // the three windows
    EXPECT_EQ(m.error_code, c.error);
    EXPECT_EQ(m.error_position, c.position);
  }
}

TEST(ForwardScan, StopsAtTheEndOfTheGrid) {
  struct Case {
    int32_t last;
    std::vector<int32_t> occupied;
    std::set<int32_t> points;
    int32_t error;
  };
  const Case cases[] = {
      {30, {}, {28}, 0},
      {30, {28, 27}, {29}, 0},
      {28, {28, 27}, {}, kErrNoRoomInSlowOrder},  // k + 1 would be beyond the grid
      {26, {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("grid_last " + std::to_string(c.last));
    Model m = grid(c.last);
    put(m, 20, kSlowOrderStart, 100);  // no end cell before the grid ends
    for (int32_t o : c.occupied) put(m, o, kSpeedBoard, 1);
    insert_cab_code_points(m);
    EXPECT_EQ(inserted(m, 21, c.last), c.points);
    EXPECT_EQ(m.error_code, c.error);
  }
}

// --- B5: the first signal after a slow order -------------------------------------------------

TEST(SignalAfterSlowOrder, PointInFrontOfTheFirstSignalWithinTwelveCells) {
  struct Case {
    std::string name;
    int16_t speed;
    std::vector<int32_t> signals;
    std::vector<int32_t> occupied;
    std::set<int32_t> points;
    int32_t error;
  };
  const Case cases[] = {
      {"12 cells after the end", 100, {142}, {}, {141}, 0},
      {"13 cells after the end", 100, {143}, {}, {}, 0},
      {"slow order of 110 or more", 120, {142}, {}, {141}, 0},
      {"only the first signal", 100, {135, 140}, {}, {134}, 0},
      {"front cell taken", 100, {135}, {134}, {133}, 0},
      {"both front cells taken", 100, {135}, {134, 133}, {}, kErrNoRoomInSlowOrder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = grid(200);
    slow_order(m, 100, 130, c.speed);
    for (int32_t s : c.signals) put(m, s, kSignal, 42);
    for (int32_t o : c.occupied) put(m, o, kSpeedBoard, 1);
    insert_cab_code_points(m);
    EXPECT_EQ(inserted(m, 131, 200), c.points);
    EXPECT_EQ(m.error_code, c.error);
    EXPECT_EQ(m.error_position, c.error == 0 ? 0 : 130 * 50);
  }
}

// --- The default scenario -------------------------------------------------------------------

TEST(CabCodePassOnDefaultScenario, InsertsTheExpectedPointsAndStamps) {
  test::Compiled c =
      test::compile_in_memory(test::SourceText::default_line(), test::SourceText::default_train());
  const Model& m = c.m;
  ASSERT_EQ(c.outcome, PassOutcome::kReady);
  EXPECT_EQ(m.error_code, 0);
  // Per slow order: the point before the signal ahead of its warning board, the three window
  // points, the points inside it and the one before the signal after it. Cell 2375 held a
  // tunnel marker.
  const std::set<int32_t> expected = {358,  372,  379,  385,  395,  707,  729,  736,  742,
                                      2356, 2368, 2375, 2381, 3860, 3879, 3886, 3892, 3905};
  std::set<int32_t> added;
  for (int32_t i = 0; i <= m.grid_last; ++i) {
    const TrackCell& c = m.track_grid[i];
    if (c.kind == kCodePoint && c.param1 == 180 && i != 4199) added.insert(i);  // 4199: source
  }
  EXPECT_EQ(added, expected);
  EXPECT_EQ(count_kind(m, kCodePoint), 26 + 18);
  EXPECT_EQ(line_identity(m).stamp, 610);
  EXPECT_EQ(StampCell(m.track_grid[1]).stamp, 5121);
  EXPECT_EQ(line_identity(m).check_code, 34465);
  EXPECT_EQ(StampCell(m.track_grid[1]).check_sum, 2470);
}

// --- Stamps ----------------------------------------------------------------------------------

TEST(Stamps, FieldsAlreadySetStopThePass) {
  struct Case {
    std::string name;
    std::string record;
    PassOutcome outcome;
  };
  const Case cases[] = {
      {"code point in cell 1", "abbattimento, 50, 270", PassOutcome::kStampsSet},
      // signal at 0 lies in cell 1 with param1 0 and param2 11
      {"signal with a second value in cell 1", "segnale, 0, 2, 0,1,0, 0, 2, 0,1,0, 0",
       PassOutcome::kCodesSet},
      {"nothing in cell 1", "abbattimento, 100, 270", PassOutcome::kReady},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m;
    m.line_id = "QUELDRANO 2";
    m.train_number = "555";
    Sources s;
    s.line.bytes = "[generale]\r\nlunghezza percorso, 20000\r\n[fine]\r\n";
    s.train.bytes = "[generale]\r\n" + c.record + "\r\n[fine]\r\n";
    EXPECT_EQ(compile_model(m, 0, s), c.outcome);
    EXPECT_EQ(m.error_code, 0);
    EXPECT_EQ(line_identity(m).check_code, c.outcome == PassOutcome::kReady ? 34465 : 0);
  }
}

TEST(Stamps, NoGridWithoutALineLength) {
  Model m;
  Sources s;
  s.train.bytes = "[generale]\r\n[fine]\r\n";
  EXPECT_EQ(compile_model(m, 1, s), PassOutcome::kNoGrid);
  EXPECT_EQ(m.error_code, kErrNoLineSource);
}

// --- Integrity codes -------------------------------------------------------------------------

TEST(IntegrityCodes, FromTheFirstTwentyFiveCharactersOfTheIdentity) {
  struct Case {
    std::string train, line;
    int16_t plain;
    int32_t weighted;
  };
  const std::string a25(25, 'a');
  const Case cases[] = {
      {"aaaaa", std::string(20, 'a'), 2425, 31525},
      {"", a25, 2425, 31525},
      {std::string(30, 'a'), "", 2425, 31525},  // longer identities are cut
      {"AAAAA", std::string(20, 'A'), 2425, 31525},
      {"555", "QUELDRANO 2", 2470, 34465},
      {"555", "queldrano 2", 2470, 34465},
      {"", "", 2736, 35132},  // "mmoorrttvvzzbbddffhhllnnp"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.train + "\" + \"" + c.line + "\"");
    Model m;
    m.items[86].text = c.train;
    m.items[85].text = c.line;
    EXPECT_EQ(identity_check_sum(m), c.plain);
    EXPECT_EQ(identity_check_code(m), c.weighted);
  }
}

TEST(IntegrityCodes, WorkStringIsTheIdentityInLowerCaseThenThePadding) {
  Model m;
  m.items[86].text = "555";
  m.items[85].text = "QUELDRANO 2";
  EXPECT_EQ(identity_work_string(m), "555queldrano 2mmoorrttvvzzbbddffhhllnnpp");
}

TEST(LowerOf, LowerValueFirstOnATie) {
  // Values are copied out of the packed tagged values before they are compared.
  auto i = [](int16_t v) { return TaggedValue::Integer(v); };
  EXPECT_EQ(int{lower_of(i(180), i(120)).integer}, 120);
  EXPECT_EQ(int{lower_of(i(180), i(270)).integer}, 180);
  // On a tie the first argument is returned, whatever the width of the second.
  TaggedValue tie = lower_of(i(180), TaggedValue::Double(180.0));
  EXPECT_EQ(tie.tag, TaggedValue::kInteger);
  EXPECT_EQ(int{tie.integer}, 180);
  TaggedValue lower = lower_of(i(180), TaggedValue::Double(179.5));
  EXPECT_EQ(lower.tag, TaggedValue::kDouble);
  EXPECT_EQ(double{lower.real}, 179.5);
}

}  // namespace
}  // namespace compactor
