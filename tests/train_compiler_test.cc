// The train source reader and the placements it makes: signals, slow orders, code points,
// stations, the speed and adhesion profiles, and how the reader stops.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/roles.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::crlf;

// A line with nothing on it but its length; grid_last = (length + 7000) / 50.
std::string plain_line(int32_t length, const std::vector<std::string>& features = {}) {
  return test::SourceText::line(length, features);
}

std::string train(const std::vector<std::string>& records) {
  return test::SourceText::train(records);
}

using Read = test::Compiled;

// Runs the reader alone (no cab-code pass) on the given sources.
Read read(std::optional<std::string> line, std::optional<std::string> train_text,
          int32_t with_plan = 0) {
  return test::compile_in_memory(std::move(line), std::move(train_text),
                                 {.with_plan = with_plan, .read_only = true});
}

using test::count_kind;

// Every cell in [first, last] has the given speed_limit (field = 0) or adhesion (field = 1).
void expect_profile(const Model& m, int field, int32_t first, int32_t last, int value) {
  for (int32_t i = first; i <= last; ++i) {
    const TrackCell& c = m.track_grid[i];
    int got = field == 0 ? c.speed_limit : c.adhesion;
    if (got != value) {
      ADD_FAILURE() << (field == 0 ? "speed_limit" : "adhesion") << " of cell " << i << " is "
                    << got << ", expected " << value << " in cells " << first << ".." << last;
      return;
    }
  }
}

const std::string kRomaTermini =
    "stazione,       0,  8,  500,  0, 0, 0,  1,1,0,  4,1,1,    1,  19,10, 0, ROMA TERMINI";
// A station record of kind 12 and length 100 at position p.
std::string short_station(int32_t p, const std::string& name) {
  return "stazione, " + std::to_string(p) + ", 12, 100, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, " + name;
}

// --- The default sources --------------------------------------------------------------------

const Read& default_read() {
  static const Read r =
      read(test::SourceText::default_line(), test::SourceText::default_train(), /*with_plan=*/1);
  return r;
}

TEST(DefaultTrainRead, ReadsWithoutErrorAndConsumesBothSources) {
  const Read& r = default_read();
  EXPECT_EQ(r.m.error_code, 0);
  EXPECT_EQ(r.m.grid_last, 4700);
  EXPECT_TRUE(r.s.line.consumed);
  EXPECT_TRUE(r.s.train.consumed);
}

TEST(DefaultTrainRead, GeneralDataAndStations) {
  const Model& m = default_read().m;
  EXPECT_EQ(line_data(m).braked_mass, 135);
  EXPECT_EQ(line_data(m).coaches, 12);
  EXPECT_EQ(train_identity(m).sand, 200);
  EXPECT_EQ(train_identity(m).clock_hours, 19);
  EXPECT_EQ(train_identity(m).clock_minutes, 7);
  EXPECT_EQ(train_identity(m).clock_seconds, 30);
  for (int n = 1; n <= 26; ++n) EXPECT_FALSE(station_record(m, n).name.empty()) << "station " << n;
  EXPECT_TRUE(station_record(m, 27).name.empty());
  EXPECT_EQ(station_record(m, 27).position, 0);
  EXPECT_EQ(station_record(m, 1).name, "ROMA TERMINI");
  EXPECT_EQ(station_record(m, 26).name, "NAPOLI CENTRALE");
  EXPECT_EQ(station_record(m, 1).scheduled_time, 69000);
}

TEST(DefaultTrainRead, AdhesionAndSpeedProfiles) {
  const Model& m = default_read().m;
  expect_profile(m, 1, 0, 1779, 80);
  expect_profile(m, 1, 1780, 1927, 70);
  expect_profile(m, 1, 1928, 2298, 80);
  expect_profile(m, 1, 2299, 2363, 75);
  expect_profile(m, 1, 2364, 4697, 80);
  expect_profile(m, 0, 0, 9, 6);
  expect_profile(m, 0, 10, 14, 12);
  expect_profile(m, 0, 15, 149, 31);
  expect_profile(m, 0, 150, 249, 35);
  expect_profile(m, 0, 3983, 4223, 32);
  expect_profile(m, 0, 4224, 4697, 19);
  for (int32_t i = 4698; i <= 4700; ++i) {
    EXPECT_EQ(m.track_grid[i].speed_limit, 0) << "cell " << i;
    EXPECT_EQ(m.track_grid[i].adhesion, 0) << "cell " << i;
  }
}

TEST(DefaultTrainRead, CellKindsPlacedByTheReader) {
  const Model& m = default_read().m;
  EXPECT_EQ(count_kind(m, kSignal), 112);
  EXPECT_EQ(count_kind(m, kSlowOrderEnd), 4);
  EXPECT_EQ(count_kind(m, kSlowOrderStart), 4);
  EXPECT_EQ(count_kind(m, kWarningBoard), 4);
  EXPECT_EQ(count_kind(m, kSlowOrderApproach), 16);
  EXPECT_EQ(count_kind(m, kStopMark), 25);
  EXPECT_EQ(count_kind(m, kCodePoint), 26);
  // start, end, warning board of each slow order
  const int32_t slow[4][3] = {
      {390, 396, 366}, {747, 751, 723}, {2386, 2390, 2362}, {3897, 3912, 3873}};
  for (const auto& s : slow) {
    EXPECT_EQ(m.track_grid[s[0]].kind, kSlowOrderStart) << "cell " << s[0];
    EXPECT_EQ(m.track_grid[s[1]].kind, kSlowOrderEnd) << "cell " << s[1];
    EXPECT_EQ(m.track_grid[s[2]].kind, kWarningBoard) << "cell " << s[2];
  }
  // The stop marks name every station but the one of kind 27 (the third).
  std::set<int> stations;
  for (const TrackCell& c : m.track_grid) {
    if (c.kind == kStopMark) stations.insert(c.param1);
  }
  std::set<int> expected;
  for (int n = 1; n <= 26; ++n) {
    if (n != 3) expected.insert(n);
  }
  EXPECT_EQ(stations, expected);
  EXPECT_EQ(station_record(m, 3).kind, 27);
  EXPECT_EQ(station_record(m, 3).extent_start, 10900);
  EXPECT_EQ(station_record(m, 3).extent_end, 11200);
}

struct StationCase {
  int n;
  int32_t extent_start, extent_end;
  uint8_t flag3, flag4;
  int32_t stop_cell;
  int32_t first_approach;  // cell of approach_code 81; 0 when the station makes none
};

TEST(DefaultTrainRead, StationsOneFourAndTwentySix) {
  const Model& m = default_read().m;
  const StationCase cases[] = {
      {1, -500, 500, 0, 0, 9, 8},
      {4, 11950, 12500, 1, 0, 249, 248},
      {26, 213450, 214200, 0, 1, 4283, 0},
  };
  for (const StationCase& c : cases) {
    SCOPED_TRACE("station " + std::to_string(c.n));
    const StationRecord r = station_record(m, c.n);
    EXPECT_EQ(r.extent_start, c.extent_start);
    EXPECT_EQ(r.extent_end, c.extent_end);
    EXPECT_EQ(r.flag3, c.flag3);
    EXPECT_EQ(r.flag4, c.flag4);
    EXPECT_EQ(m.track_grid[c.stop_cell].kind, kStopMark);
    EXPECT_EQ(m.track_grid[c.stop_cell].param1, c.n);
    if (c.first_approach != 0) {
      for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(m.track_grid[c.first_approach + 1 - k].approach_code, 80 + k) << "k " << k;
      }
    } else {
      for (int32_t y = c.stop_cell - 4; y < c.stop_cell; ++y) {
        EXPECT_EQ(m.track_grid[y].approach_code, 0) << "cell " << y;
      }
    }
  }
  // The first station's fields as read.
  const StationRecord r = station_record(m, 1);
  EXPECT_EQ(r.kind, 8);
  EXPECT_EQ(r.position, 0);
  EXPECT_EQ(r.mark, 0);
  EXPECT_EQ(r.num1, 1);
  EXPECT_EQ(r.num2, 1);
  EXPECT_EQ(r.flag1, 0);
  EXPECT_EQ(r.num3, 4);
  EXPECT_EQ(r.num4, 1);
  EXPECT_EQ(r.num5, 1);
  EXPECT_EQ(r.flag2, 1);
  EXPECT_EQ(station_record(m, 26).kind, 6);
  EXPECT_EQ(station_record(m, 26).flag2, 2);
  EXPECT_EQ(station_record(m, 26).scheduled_time, (12 * 60 + 17) * 60);
}

// --- Signals ---------------------------------------------------------------------------------

struct SignalCase {
  std::string record;
  int32_t cell;
  int16_t p1, p2, p3, p4;
  uint8_t signal_time;
  uint8_t first_code;  // approach_code two cells before; then +1 every two cells
};

TEST(Signals, PlacedWithPackedValuesAndApproachCodes) {
  const SignalCase cases[] = {
      {"segnale,    2100,   2, 3, 1,  1, 0,    2,  2,1,1, 0", 43, 32, 11, 11, 8, 0, 81},
      {"segnale,   37100,   2, 4, 0,  0, 0,    1,  2,0,0, 220", 743, 42, 0, 0, 7, 220, 71},
      // packed values keep their low 16 bits: 40000 is stored as -25536
      {"segnale,    2100,   2, 4000, 0, 0, 0, 2, 0,0,0, 0", 43, -25536, 0, 0, 8, 0, 81},
  };
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(c.record);
    Read r = read(plain_line(50000), train({c.record}));
    ASSERT_EQ(r.m.error_code, 0);
    const TrackCell& s = r.m.track_grid[c.cell];
    EXPECT_EQ(s.kind, kSignal);
    EXPECT_EQ(s.param1, c.p1);
    EXPECT_EQ(s.param2, c.p2);
    EXPECT_EQ(s.param3, c.p3);
    EXPECT_EQ(s.param4, c.p4);
    EXPECT_EQ(s.signal_time, c.signal_time);
    for (int k = 1; k <= 4; ++k) {
      const TrackCell& a = r.m.track_grid[c.cell - 2 * k];
      EXPECT_EQ(a.approach_code, c.first_code + k - 1) << "k " << k;
      EXPECT_EQ(a.kind, kFree) << "k " << k;
    }
    EXPECT_EQ(count_kind(r.m, kSignal), 1);
  }
}

TEST(Signals, TimeValue) {
  struct Case {
    int sx;
    int tempo;
    uint8_t signal_time;
  };
  const Case cases[] = {{2, 50, 101},  {2, 1, 101},   {2, 100, 101}, {2, 0, 0},
                        {2, 101, 101}, {2, 220, 220}, {2, 300, 44},  {1, 50, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("sx " + std::to_string(c.sx) + " tempo " + std::to_string(c.tempo));
    Read r = read(plain_line(50000), train({"segnale, 2100, " + std::to_string(c.sx) +
                                            ", 4,0,0, 0, 2, 2,0,0, " + std::to_string(c.tempo)}));
    ASSERT_EQ(r.m.error_code, 0);
    EXPECT_EQ(r.m.track_grid[43].signal_time, c.signal_time);
  }
}

// --- Slow orders -----------------------------------------------------------------------------

TEST(SlowOrders, PlacedCellByCell) {
  Read r = read(plain_line(50000), train({"rallentamento,   19450,    40,  300, 0,  1,  0"}));
  ASSERT_EQ(r.m.error_code, 0);
  const auto& g = r.m.track_grid;
  EXPECT_EQ(g[390].kind, kSlowOrderStart);
  EXPECT_EQ(g[396].kind, kSlowOrderEnd);
  EXPECT_EQ(g[366].kind, kWarningBoard);
  for (int32_t c : {390, 396, 366}) {
    EXPECT_EQ(g[c].param1, 40) << "cell " << c;
    EXPECT_EQ(g[c].param2, 0) << "cell " << c;
    EXPECT_EQ(g[c].param3, 0) << "cell " << c;
  }
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(g[366 - j].kind, kSlowOrderApproach) << "j " << j;
    EXPECT_EQ(g[366 - j].param1, j) << "j " << j;
    EXPECT_EQ(g[366 - j].param2, 0) << "j " << j;
  }
  EXPECT_EQ(count_kind(r.m, kSlowOrderApproach), 4);
}

TEST(SlowOrders, SecondSpeedAndFlagsGoWhereTheyBelong) {
  // f_tt 1 goes to start and end only; d_v 60 to start, end and board; approach cells repeat
  // their sequence number.
  Read r = read(plain_line(50000), train({"rallentamento,   19450,    40,  300, 1,  1,  60"}));
  ASSERT_EQ(r.m.error_code, 0);
  const auto& g = r.m.track_grid;
  EXPECT_EQ(g[390].param3, 1);
  EXPECT_EQ(g[396].param3, 1);
  EXPECT_EQ(g[366].param3, 0);
  for (int32_t c : {390, 396, 366}) EXPECT_EQ(g[c].param2, 60) << "cell " << c;
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(g[366 - j].param2, j) << "j " << j;
}

TEST(SlowOrders, NoWarningBoardUpTo1500) {
  Read r = read(plain_line(50000), train({"rallentamento,    1500,    40,  300, 0,  1,  0"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(r.m.track_grid[31].kind, kSlowOrderStart);
  EXPECT_EQ(r.m.track_grid[37].kind, kSlowOrderEnd);
  EXPECT_EQ(count_kind(r.m, kWarningBoard), 0);
  EXPECT_EQ(count_kind(r.m, kSlowOrderApproach), 0);
}

TEST(SlowOrders, StartAndEndInOneCellLeaveAStart) {
  Read r = read(plain_line(50000), train({"rallentamento,   19450,    40,  20, 0,  0,  0"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(r.m.track_grid[390].kind, kSlowOrderStart);
  EXPECT_EQ(r.m.track_grid[390].param1, 40);
  EXPECT_EQ(count_kind(r.m, kSlowOrderEnd), 0);
}

TEST(SlowOrders, ApproachCellOnTheBoardIsErrorTwentyAndStopsTheReader) {
  Read r = read(plain_line(50000),
                train({"velocita, 0, 100", "rallentamento,   19475,    40,  300, 0,  1,  0",
                       "segnale, 30000, 2, 4,0,0, 0, 2, 2,0,0, 0"}));
  EXPECT_EQ(r.m.error_code, kErrApproachOccupied);
  EXPECT_EQ(r.m.error_position, 19475);
  EXPECT_TRUE(r.s.train.consumed);
  const auto& g = r.m.track_grid;
  // Start, end and board stay; the board's cell is also the first approach cell.
  EXPECT_EQ(g[390].kind, kSlowOrderStart);
  EXPECT_EQ(g[396].kind, kSlowOrderEnd);
  EXPECT_EQ(g[366].kind, kWarningBoard);
  EXPECT_EQ(count_kind(r.m, kSlowOrderApproach), 0);
  // The reader stopped: no later record, no final fill.
  EXPECT_EQ(count_kind(r.m, kSignal), 0);
  EXPECT_EQ(g[0].speed_limit, 0);
  EXPECT_EQ(g[100].speed_limit, 0);
}

TEST(Placements, OnAnOccupiedCellNothingIsWrittenAndTheReaderStops) {
  // A code point is placed first; the record after it needs that cell.
  struct Case {
    std::string code_point, record;
    int32_t code, position;
  };
  const std::string slow = "rallentamento, 19450, 40, 300, 0, 1, 0";
  const Case cases[] = {
      {"abbattimento, 2100, 270", "segnale, 2050, 2, 4,0,0, 0, 2, 2,0,0, 0", kErrSignalOccupied,
       2050},
      {"abbattimento, 18300, 270", slow, kErrWarningBoardOccupied, 19450},  // cell 366
      {"abbattimento, 19500, 270", slow, kErrStartOccupied, 19450},         // cell 390
      {"abbattimento, 19800, 270", slow, kErrEndOccupied, 19450},           // cell 396
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record + " after " + c.code_point);
    Read r =
        read(plain_line(50000), train({"velocita, 0, 100", c.code_point, c.record, "sabbia, 3"}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_position, c.position);
    for (uint8_t kind :
         {kSignal, kSlowOrderEnd, kSlowOrderStart, kWarningBoard, kSlowOrderApproach}) {
      EXPECT_EQ(count_kind(r.m, kind), 0) << "kind " << int{kind};
    }
    EXPECT_EQ(r.m.track_grid[40].approach_code, 0);
    EXPECT_EQ(train_identity(r.m).sand, 0);
    EXPECT_EQ(r.m.track_grid[100].speed_limit, 0);
  }
}

TEST(Placements, TunnelMarkersAreFree) {
  // A marked tunnel over cells 380 to 399 puts markers on 383, 387, 391, 395 and 399.
  Read r = read(plain_line(50000, {"montagna, 19000, 20000, 11"}),
                train({"rallentamento, 19500, 40, 200, 0, 0, 0",
                       "segnale, 19300, 2, 4,0,0, 0, 2, 2,0,0, 0", "abbattimento, 19950, 270"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(r.m.track_grid[391].kind, kSlowOrderStart);
  EXPECT_EQ(r.m.track_grid[395].kind, kSlowOrderEnd);
  EXPECT_EQ(r.m.track_grid[387].kind, kSignal);
  EXPECT_EQ(r.m.track_grid[399].kind, kCodePoint);
  EXPECT_EQ(r.m.track_grid[383].kind, kTunnelMarker);
}

// --- Code points -----------------------------------------------------------------------------

TEST(CodePoints, KindDependsOnTheCode) {
  struct Case {
    int code;
    uint8_t kind;
    int16_t param1;
  };
  for (const Case& c :
       {Case{270, kCodePoint, 270}, Case{0, kCodePointNoCode, 0}, Case{-5, kCodePointNoCode, 0}}) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    Read r = read(plain_line(50000), train({"abbattimento,   13150,   " + std::to_string(c.code)}));
    ASSERT_EQ(r.m.error_code, 0);
    EXPECT_EQ(r.m.track_grid[263].kind, c.kind);
    EXPECT_EQ(r.m.track_grid[263].param1, c.param1);
  }
}

TEST(CodePoints, OnAStopMarkIsErrorSeven) {
  // Station 1's stop mark is cell 9; a code point at 450 falls there.
  Read r = read(plain_line(50000), train({kRomaTermini, "abbattimento, 450, 270"}));
  EXPECT_EQ(r.m.error_code, kErrCodePointOccupied);
  EXPECT_EQ(r.m.error_position, 450);
  EXPECT_EQ(r.m.track_grid[9].kind, kStopMark);
  EXPECT_EQ(r.m.track_grid[9].param1, 1);
}

// --- Stations --------------------------------------------------------------------------------

TEST(Stations, KindTwentySevenLeavesNoMarkButCountsForSpacing) {
  Read r = read(plain_line(50000),
                train({"stazione,   11050, 27,  300,  0, 0, 0,  0,0,0,  0,0,0,    0,   0, 0, 0, "
                       "DIVINO AMORE",
                       "stazione,   11500, 12,  600,  0, 0, 0,  1,1,0,  4,1,1,    0,   0, 0, 0, "
                       "TOO CLOSE",
                       "velocita, 0, 100"}));
  EXPECT_EQ(r.m.error_code, kErrStationSpacing);
  EXPECT_EQ(r.m.error_position, 11500);
  EXPECT_EQ(station_record(r.m, 1).extent_start, 10900);
  EXPECT_EQ(station_record(r.m, 1).extent_end, 11200);
  EXPECT_EQ(station_record(r.m, 2).extent_start, 11200);
  EXPECT_EQ(station_record(r.m, 2).extent_end, 11800);
  // Only the second station marked the grid, and its marks stay after the failure.
  EXPECT_EQ(count_kind(r.m, kStopMark), 1);
  EXPECT_EQ(r.m.track_grid[235].kind, kStopMark);
  EXPECT_EQ(r.m.track_grid[235].param1, 2);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(r.m.track_grid[235 - k].approach_code, 80 + k);
  EXPECT_EQ(r.m.track_grid[222].approach_code, 0);  // where station 1's would have gone
  EXPECT_TRUE(r.s.train.consumed);
  EXPECT_EQ(r.m.track_grid[0].speed_limit, 0);  // stopped: no final fill
}

TEST(Stations, FlagsOfTheFirstStationAreClearedAfterItsExtent) {
  // flag3 lengthens an ordinary station by 50 m; the first station keeps that length but not
  // the flags. flag4 survives on a later station of 600 m or more, not on a shorter one.
  Read r = read(plain_line(50000),
                train({"stazione, 1000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 0,0,0, A",
                       "stazione, 5000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 0,0,0, B",
                       "stazione, 9000, 12, 500, 0, 1, 1, 1,1,0, 4,1,1, 0, 0,0,0, C"}));
  ASSERT_EQ(r.m.error_code, 0);
  struct Expected {
    int32_t extent_start, extent_end;
    uint8_t flag3, flag4;
    int32_t stop_cell;
  };
  const Expected expected[] = {
      {700, 1350, 0, 0, 26}, {4700, 5350, 1, 1, 106}, {8750, 9300, 1, 0, 185}};
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE("station " + std::to_string(n));
    const Expected& e = expected[n - 1];
    EXPECT_EQ(station_record(r.m, n).extent_start, e.extent_start);
    EXPECT_EQ(station_record(r.m, n).extent_end, e.extent_end);
    EXPECT_EQ(station_record(r.m, n).flag3, e.flag3);
    EXPECT_EQ(station_record(r.m, n).flag4, e.flag4);
    EXPECT_EQ(r.m.track_grid[e.stop_cell].kind, kStopMark);
    EXPECT_EQ(r.m.track_grid[e.stop_cell].param1, n);
  }
}

TEST(Stations, CheckCodeIsTheScheduledTimeInSeconds) {
  Read r = read(plain_line(50000),
                train({"stazione, 1000, 12, 600, 0,0,0, 1,1,0, 4,1,1, 0, 20, 0, 1, A"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(station_record(r.m, 1).scheduled_time, 72001);
  EXPECT_EQ(station_record(r.m, 1).name, "A");
}

TEST(Stations, ReadErrorsKeepWhatWasReadBefore) {
  // grid_last 2140: a station passes the range check up to 2140 * 50 - 800 = 106200.
  struct Case {
    std::string record;
    int32_t code;
    int32_t position;
    uint8_t kind_stored;
    std::string text_stored;
    bool final_fill;
  };
  const Case cases[] = {
      {"stazione, 60025, 12, 600, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, X", kErrStationPosition, 60025, 0,
       "", false},
      {"stazione, 60000, 12, 650, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, X", kErrStationLength, 60000, 12,
       "", false},
      {"stazione, 106250, 12, 600, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, X", kErrBeyondGrid, 106250, 0, "",
       true},
      {"stazione, 106200, 12, 600, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, X", 0, 0, 12, "X", true},
      // within the margin, but a stop mark at 107200 / 50 - 1 = 2143 would be beyond the grid
      {"stazione, 106200, 8, 1000, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, X", kErrBeyondGrid, 106200, 8,
       "X", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Read r = read(plain_line(100000), train({"velocita, 0, 100", kRomaTermini, c.record}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_position, c.position);
    EXPECT_TRUE(r.s.train.consumed);
    EXPECT_EQ(station_record(r.m, 1).name, "ROMA TERMINI");
    EXPECT_EQ(station_record(r.m, 2).position, c.code == 0 ? 106200 : c.position);
    EXPECT_EQ(station_record(r.m, 2).kind, c.kind_stored);
    EXPECT_EQ(station_record(r.m, 2).name, c.text_stored);
    EXPECT_EQ(r.m.track_grid[100].speed_limit, c.final_fill ? 20 : 0);
  }
}

TEST(Stations, MarksNearTheStartOfTheLine) {
  // One station of kind 12 and length 100; approach marks go only above cell 1, and a stop mark
  // at or before cell 1 is error 24.
  struct Case {
    int32_t position;
    int32_t code;
    int32_t stop_cell;    // -1: none
    uint8_t approach[6];  // approach_code of cells 0 to 5
  };
  const Case cases[] = {
      {0, kErrStopMark, -1, {0, 0, 0, 0, 0, 0}},
      {50, kErrStopMark, -1, {0, 0, 0, 0, 0, 0}},
      {100, 0, 2, {0, 0, 0, 0, 0, 0}},
      {250, 0, 5, {0, 0, 83, 82, 81, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("station at " + std::to_string(c.position));
    Read r = read(plain_line(50000), train({short_station(c.position, "A"), "velocita, 0, 100"}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_position, 0);
    EXPECT_EQ(count_kind(r.m, kStopMark), c.stop_cell < 0 ? 0 : 1);
    if (c.stop_cell >= 0) {
      EXPECT_EQ(r.m.track_grid[c.stop_cell].kind, kStopMark);
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.m.track_grid[i].approach_code, c.approach[i]) << i;
    // Error 24 stops the reader: no final fill.
    EXPECT_EQ(r.m.track_grid[100].speed_limit, c.code == 0 ? 20 : 0);
  }
}

TEST(Stations, OnlyKindsBelowTwentyFiveMarkTheGrid) {
  for (int kind : {24, 25}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    Read r = read(plain_line(50000), train({"stazione, 1000, " + std::to_string(kind) +
                                            ", 100, 0,0,0, 1,1,0, 4,1,1, 0, 0,0,0, A"}));
    ASSERT_EQ(r.m.error_code, 0);
    const bool marks = kind < 25;
    EXPECT_EQ(r.m.track_grid[20].kind, marks ? kStopMark : kFree);
    EXPECT_EQ(r.m.track_grid[19].approach_code, marks ? 81 : 0);
    EXPECT_EQ(r.m.track_grid[16].approach_code, marks ? 84 : 0);
  }
}

TEST(Stations, ExtentsMustBeThreeHundredFiftyMetresApart) {
  // Station 1 ends at 1050; station 2 at p starts at p - 50.
  for (auto [p, code] : {std::pair{1450, 0}, std::pair{1400, int{kErrStationSpacing}}}) {
    SCOPED_TRACE("second station at " + std::to_string(p));
    Read r = read(plain_line(50000), train({short_station(1000, "A"), short_station(p, "B")}));
    EXPECT_EQ(r.m.error_code, code);
    EXPECT_EQ(r.m.error_position, code == 0 ? 0 : p);
  }
}

// A line with `count` indication boards; the first text goes to record 80, the next to 79, ...
std::string line_with_boards(int count) {
  std::vector<std::string> lines;
  for (int b = 1; b <= count; ++b) {
    lines.push_back("cartello_indicatore, " + std::to_string(100 * b) + ", BOARD " +
                    std::to_string(b));
  }
  return plain_line(50000, lines);
}

std::string station_name(int n) {
  return std::string("S").append(std::to_string(n));
}

TEST(Stations, StationNumberReachingTheBoardTextsIsErrorTen) {
  std::vector<std::string> records;
  for (int n = 1; n <= 80; ++n) records.push_back(short_station(500 * n + 500, station_name(n)));
  struct Case {
    int boards;
    int last_station;  // the station after which error 10 is raised
  };
  for (const Case& c : {Case{0, 79}, Case{1, 78}, Case{79, 1}}) {
    SCOPED_TRACE(std::to_string(c.boards) + " boards");
    Read r = read(line_with_boards(c.boards), train(records));
    EXPECT_EQ(r.m.error_code, kErrStationSlot);
    EXPECT_EQ(r.m.error_position, 0);
    EXPECT_TRUE(r.s.train.consumed);
    // The last station is stored and placed, the next one is not read.
    const int n = c.last_station;
    EXPECT_EQ(station_record(r.m, n).name, station_name(n));
    int32_t stop = (500 * n + 500 + 50) / 50 - 1;
    EXPECT_EQ(r.m.track_grid[stop].kind, kStopMark);
    EXPECT_EQ(r.m.track_grid[stop].param1, n);
    EXPECT_EQ(station_record(r.m, n + 1).position, 0);
    EXPECT_EQ(r.m.items[80].text, c.boards > 0 ? "BOARD 1" : "");
  }
}

TEST(Stations, NoRecordLeftWhenEveryOneHoldsABoardText) {
  Read r = read(line_with_boards(80), train({short_station(1000, "S1")}));
  EXPECT_EQ(r.m.error_code, kErrStationSlot);
  EXPECT_EQ(station_record(r.m, 1).name, "BOARD 80");
  EXPECT_EQ(station_record(r.m, 1).position, 0);
  EXPECT_EQ(count_kind(r.m, kStopMark), 0);
}

// --- Speed and adhesion profiles -------------------------------------------------------------

TEST(Profiles, SpeedFillsFromEachRecordsCell) {
  // grid_last 540: the final fill reaches cell 537.
  Read r =
      read(plain_line(20000),
           train({"velocita,   0,    30", "velocita,     500,    60", "velocita,     750,   155"}));
  ASSERT_EQ(r.m.error_code, 0);
  expect_profile(r.m, 0, 0, 9, 6);
  expect_profile(r.m, 0, 10, 14, 12);
  expect_profile(r.m, 0, 15, 537, 31);
  expect_profile(r.m, 0, 538, 540, 0);
}

TEST(Profiles, CellsRoundHalfToEvenAndRecordsInOneCellStillWriteOne) {
  struct Case {
    std::vector<std::string> records;
    std::vector<int> first_cells;  // speed_limit of cells 0, 1, 2, ...
  };
  const Case cases[] = {
      // 125 / 50 = 2.5 -> cell 2; 175 / 50 = 3.5 -> cell 4
      {{"velocita, 0, 50", "velocita, 125, 100", "velocita, 175, 150"}, {10, 10, 20, 20, 30, 30}},
      // 510 / 50 = 10.2 -> cell 10, the cell of the record before
      {{"velocita, 0, 50", "velocita, 500, 100", "velocita, 510, 150"},
       {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 20, 30, 30}},
      // a speed record at 0 fills nothing; one below the first cell neither
      {{"velocita, -500, 50", "velocita, 0, 75", "velocita, 100, 85"}, {15, 15, 17, 17}},
      // a fifth of the speed rounds to the nearest: 12 -> 2, 13 -> 3, 18 -> 4
      {{"velocita, 0, 12", "velocita, 100, 13", "velocita, 200, 18"}, {2, 2, 3, 3, 4, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records.back());
    Read r = read(plain_line(20000), train(c.records));
    ASSERT_EQ(r.m.error_code, 0);
    for (size_t i = 0; i < c.first_cells.size(); ++i) {
      EXPECT_EQ(r.m.track_grid[i].speed_limit, c.first_cells[i]) << "cell " << i;
    }
  }
}

TEST(Profiles, FinalFillWritesOneCellWhenTheFillAlreadyStandsAtTheEnd) {
  // The last record's cell is grid_last - 2 = 538, past the usual end of the final fill.
  Read r = read(plain_line(20000), train({"velocita, 0, 50", "velocita, 26900, 100",
                                          "aderenza, 0, 60", "aderenza, 26900, 70"}));
  ASSERT_EQ(r.m.error_code, 0);
  expect_profile(r.m, 0, 0, 537, 10);
  expect_profile(r.m, 0, 538, 538, 20);
  expect_profile(r.m, 0, 539, 540, 0);
  expect_profile(r.m, 1, 0, 537, 60);
  expect_profile(r.m, 1, 538, 538, 70);
  expect_profile(r.m, 1, 539, 540, 0);
}

// Speed records that stand where the fill has no cell left do not advance it: on a 1000 m line
// (grid_last 160) four records at 7900 m, past the line's end in cell 158, write 50 and 100 into
// cells 158 and 159; 150 finds the fill at grid_last and is lost; the final fill writes 200 into
// cell 160.
TEST(Profiles, RecordsAtTheEndOfTheGridDoNotAdvanceTheFill) {
  Read r = read(plain_line(1000), train({"velocita, 7900, 50", "velocita, 7900, 100",
                                         "velocita, 7900, 150", "velocita, 7900, 200"}));
  ASSERT_EQ(r.m.error_code, 0);
  ASSERT_EQ(r.m.grid_last, 160);
  expect_profile(r.m, 0, 0, 157, 0);
  expect_profile(r.m, 0, 158, 158, 10);
  expect_profile(r.m, 0, 159, 159, 20);
  expect_profile(r.m, 0, 160, 160, 40);
}

TEST(Profiles, SpeedOutsideAByteIsAReadFailure) {
  struct Case {
    int speed;
    int32_t code;
    uint8_t stored;
  };
  for (const Case& c : {Case{1277, 0, 255}, Case{1278, kErrReadFailure, 0}, Case{-2, 0, 0},
                        Case{-3, kErrReadFailure, 0}}) {
    SCOPED_TRACE("speed " + std::to_string(c.speed));
    Read r = read(plain_line(20000), train({"velocita, 0, " + std::to_string(c.speed)}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.track_grid[0].speed_limit, c.stored);
    EXPECT_TRUE(r.s.train.consumed);
  }
}

TEST(Profiles, AdhesionKeepsItsLowEightBits) {
  Read r = read(plain_line(20000), train({"aderenza, 0, 300", "aderenza, 1000, 80"}));
  ASSERT_EQ(r.m.error_code, 0);
  expect_profile(r.m, 1, 0, 19, 44);
  expect_profile(r.m, 1, 20, 537, 80);
  expect_profile(r.m, 1, 538, 540, 0);
}

// --- Reading the file ------------------------------------------------------------------------

TEST(TrainReader, KeywordsIgnoreLetterCase) {
  Read r = read(plain_line(50000), train({"SEGNALE,    2100,   2, 3, 1,  1, 0,    2,  2,1,1, 0",
                                          "VELOCITA, 0, 50", "Numero VETTURE, 9", "SaBbIa, 7"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(r.m.track_grid[43].kind, kSignal);
  EXPECT_EQ(r.m.track_grid[100].speed_limit, 10);
  EXPECT_EQ(line_data(r.m).coaches, 9);
  EXPECT_EQ(train_identity(r.m).sand, 7);
}

TEST(TrainReader, ReadsPastFineUpToTheLastField) {
  // Records after "[fine]" are read; a keyword that is the very last field is not.
  Read r =
      read(plain_line(20000),
           crlf({"[generale]", "[fine]", "sabbia, 77", "[fine]", "numero vetture, 5", "[fine]"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(train_identity(r.m).sand, 77);
  EXPECT_EQ(line_data(r.m).coaches, 5);
  // Were the last "sabbia" interpreted, its value would be read past the end (error 25).
  Read last = read(plain_line(20000), crlf({"[generale]", "sabbia, 1", "sabbia"}));
  ASSERT_EQ(last.m.error_code, 0);
  EXPECT_EQ(train_identity(last.m).sand, 1);
}

TEST(TrainReader, SectionHeadersAndTextBeforeGeneralChangeNothing) {
  Read r = read(plain_line(20000),
                crlf({"sabbia, 5", "[generale]", "[stazioni]", "[segnali]", "[rallentamenti]",
                      "[aderenze]", "[vel_limite]", "[codici]", "[fine]"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(train_identity(r.m).sand, 0);
  EXPECT_EQ(count_kind(r.m, kSignal) + count_kind(r.m, kStopMark), 0);
}

TEST(TrainReader, HyphenFieldsAreSkippedTwiceAtMost) {
  struct Case {
    std::string record;
    int16_t sand;
  };
  const Case cases[] = {
      {"x-y,sabbia, 5", 5},      // one hyphen field passed over
      {"a-,b-,sabbia-z, 5", 5},  // the third field is used as it stands
      {"a-,sabbia-z, 5", 0},     // the second is passed over too; "5" matches nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Read r = read(plain_line(20000), train({c.record}));
    ASSERT_EQ(r.m.error_code, 0);
    EXPECT_EQ(train_identity(r.m).sand, c.sand);
  }
}

TEST(TrainReader, AFieldWithTwoKeywordsReadsBothRecordsInTableOrder) {
  // "vetture" is tested before "sabbia", whatever their order in the field.
  Read r = read(plain_line(20000),
                train({"sabbia numero vetture, 5, 6", "massa, 7", "frenata MASSA, 8"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(line_data(r.m).coaches, 5);
  EXPECT_EQ(train_identity(r.m).sand, 6);
  EXPECT_EQ(line_data(r.m).braked_mass, 8);
}

TEST(TrainReader, FieldsEndAtBlanksInNumbers) {
  Read r = read(plain_line(20000), train({"orologio,    19              7             30 "}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(train_identity(r.m).clock_hours, 19);
  EXPECT_EQ(train_identity(r.m).clock_minutes, 7);
  EXPECT_EQ(train_identity(r.m).clock_seconds, 30);
}

TEST(TrainReader, WithoutGeneralNoRecordIsReadButEndProcessingRuns) {
  Read r = read(plain_line(20000), crlf({"sabbia, 5", "velocita, 0, 100", "[fine]"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(train_identity(r.m).sand, 0);
  EXPECT_TRUE(r.s.train.consumed);
  // The final fill writes the speed in force before any record: 0.
  expect_profile(r.m, 0, 0, 540, 0);
}

TEST(TrainReader, RangeCheckOnPositionedRecords) {
  // grid_last 540: positions up to 540 * 50 - 100 = 26900 pass.
  struct Case {
    std::string record;
    int32_t code;
  };
  const Case cases[] = {
      {"segnale, 26900, 2, 4,0,0, 0, 2, 2,0,0, 0", 0},
      {"segnale, 26901, 2, 4,0,0, 0, 2, 2,0,0, 0", kErrBeyondGrid},
      {"abbattimento, 26901, 270", kErrBeyondGrid},
      {"velocita, 26901, 100", kErrBeyondGrid},
      {"aderenza, 26901, 100", kErrBeyondGrid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Read r = read(plain_line(20000), train({"velocita, 0, 100", c.record, "sabbia, 9"}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_position, c.code == 0 ? 0 : 26901);
    // Error 15 leaves the main loop (no later record) but the final fill is made.
    EXPECT_EQ(train_identity(r.m).sand, c.code == 0 ? 9 : 0);
    EXPECT_EQ(r.m.track_grid[537].speed_limit, 20);
  }
}

TEST(TrainReader, FailuresAndWhichSourcesAreConsumed) {
  struct Case {
    std::string name;
    std::optional<std::string> line, train;
    int32_t code;
    bool line_consumed, train_consumed;
  };
  const Case cases[] = {
      {"whole run", plain_line(20000), train({"sabbia, 1"}), 0, true, true},
      {"empty train source", plain_line(20000), std::string(), kErrReadFailure, true, true},
      {"no train source", plain_line(20000), std::nullopt, kErrReadFailure, true, false},
      {"bad number", plain_line(20000), train({"sabbia, 1x"}), kErrReadFailure, true, true},
      {"record cut by the end of the file", plain_line(20000),
       std::string("[generale]\r\nsegnale, 100, 2"), kErrReadFailure, true, true},
      {"no line source", std::nullopt, train({"sabbia, 1"}), kErrNoLineSource, false, false},
      {"line without general section", crlf({"lunghezza percorso, 20000", "[fine]"}),
       train({"sabbia, 1"}), kErrNoGeneralSection, true, false},
      {"line too long", plain_line(1000001), train({"sabbia, 1"}), kErrLineTooLong, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Read r = read(c.line, c.train);
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.s.line.consumed, c.line_consumed);
    EXPECT_EQ(r.s.train.consumed, c.train_consumed);
  }
}

TEST(TrainReader, AReadFailureStopsWithoutTheFinalFill) {
  Read r = read(plain_line(20000), train({"velocita, 0, 100", "velocita, 500, 50", "sabbia, 1x"}));
  EXPECT_EQ(r.m.error_code, kErrReadFailure);
  expect_profile(r.m, 0, 0, 9, 20);
  EXPECT_EQ(r.m.track_grid[10].speed_limit, 0);
}

TEST(TrainReader, AfterLineErrorFifteenTheFirstSignalStopsTheTrainHalf) {
  Read r = read(plain_line(20000, {"pendenza, 999999, 0"}),
                train({kRomaTermini, "velocita, 0, 100", "velocita, 1000, 50",
                       "segnale, 2100, 2, 4,0,0, 0, 2, 2,0,0, 0", "sabbia, 3"}));
  EXPECT_EQ(r.m.error_code, kErrBeyondGrid);
  EXPECT_EQ(r.m.error_position, 2100);
  EXPECT_TRUE(r.s.train.consumed);
  EXPECT_EQ(station_record(r.m, 1).name, "ROMA TERMINI");
  EXPECT_EQ(r.m.track_grid[43].kind, kSignal);  // placed before the test that stops
  expect_profile(r.m, 0, 0, 19, 20);
  EXPECT_EQ(r.m.track_grid[20].speed_limit, 0);  // no final fill
  EXPECT_EQ(train_identity(r.m).sand, 0);
}

// Both the chainage and the key of a chainage record must be multiples of 50; the test comes
// after the train source is read.
TEST(TrainReader, ChainageValuesNotMultiplesOfFiftyAreErrorTwo) {
  struct Case {
    const char* record;
    int32_t code;
  };
  const Case cases[] = {
      {"progressiva chilometrica uno, 1000, 125, 0", kErrChainage},
      {"progressiva chilometrica uno, 1025, 1000, 0", kErrChainage},
      {"progressiva chilometrica due, 1000, 1010, 1", kErrChainage},
      {"progressiva chilometrica uno, 1050, 1000, 0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    std::string line = crlf({"[generale]", "lunghezza percorso, 20000", c.record, "[fine]"});
    Read r = read(line, train({"sabbia, 4"}));
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.items[86].num1, 4);
  }
}

}  // namespace
}  // namespace compactor
