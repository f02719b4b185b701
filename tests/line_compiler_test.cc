// The line source reader and the line feature placement, run on small sources held in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compiler/compile.h"
#include "compiler/compiler.h"
#include "model/model.h"
#include "model/roles.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::crlf;
// A train source that places nothing and raises nothing.
constexpr const char* kQuietTrain = "[generale]\r\n[fine]\r\n";

// A line source of the given length whose feature part holds `features`.
std::string line_with(const std::vector<std::string>& features, int32_t length = 1000) {
  return test::SourceText::line(length, features);
}

using CompileRun = test::Compiled;

CompileRun compile(std::optional<std::string> line, int32_t plan = 1,
                   std::optional<std::string> train = std::string(kQuietTrain)) {
  return test::compile_in_memory(std::move(line), std::move(train), {.with_plan = plan});
}

// cells [from, to] all hold `value` in the field chosen by `field`.
struct Span {
  int32_t from, to;
  int value;
};
template <typename Field>
void expect_spans(const Model& m, Field field, const std::vector<Span>& spans,
                  const std::string& what) {
  for (const Span& sp : spans) {
    for (int32_t c = sp.from; c <= sp.to; ++c) {
      ASSERT_EQ(field(m.track_grid.at(c)), sp.value) << what << ", cell " << c;
    }
  }
}
// Plan values of point p, read back from the model's bytes: column 0 is x, 1 is y.
TaggedValue value_at(const Model& m, int32_t p, int c) {
  return (c == 0 ? m.plan.x : m.plan.y).at(static_cast<size_t>(p));
}
TaggedValue::Tag tag_at(const Model& m, int32_t p, int c) {
  return value_at(m, p, c).tag;
}
double real_at(const Model& m, int32_t p, int c) {
  return value_at(m, p, c).real;
}
int16_t integer_at(const Model& m, int32_t p, int c) {
  return value_at(m, p, c).integer;
}
size_t plan_points(const Model& m) {
  EXPECT_EQ(m.plan.x.points(), m.plan.y.points());
  return m.plan.x.points();
}

int gradient(const TrackCell& c) {
  return c.gradient_code;
}
int tunnel(const TrackCell& c) {
  return c.tunnel_type;
}
int kind(const TrackCell& c) {
  return c.kind;
}

const char* const kSpeedBoardValues = "140, 150, 160, 2, 145, 155, 165, 3";

// --- Outcomes: the error recorded, its position, and which sources the run deletes ------------

struct OutcomeCase {
  const char* name;
  std::optional<std::string> line;
  int32_t plan;
  int32_t code;
  int32_t position;
  bool line_deleted;
  bool train_deleted;
  bool grid;
};

std::vector<std::string> tunnels(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    lines.push_back("montagna, " + std::to_string(i * 100) + ", " + std::to_string(i * 100 + 50) +
                    ", 2");
  }
  return lines;
}

std::vector<std::string> boards(int count, const std::string& last_position = "") {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) {
    std::string p = (i == count && !last_position.empty()) ? last_position : std::to_string(i * 50);
    lines.push_back("cartello_indicatore, " + p + ", board " + std::to_string(i));
  }
  return lines;
}

const std::vector<OutcomeCase>& outcome_cases() {
  static const std::vector<OutcomeCase> cases = {
      {"no line source", std::nullopt, 1, 101, 0, false, false, false},
      {"no general section", crlf({"lunghezza percorso, 1000", "[curve]", "[fine]"}), 1, 102, 0,
       true, false, false},
      {"general header as the last field", crlf({"x", "[generale]"}), 1, 102, 0, true, false,
       false},
      {"empty line source", std::string(), 1, 25, 0, true, true, false},
      {"length above 1,000,000", line_with({}, 1000001), 1, 1, 0, true, false, false},
      {"length of 1,000,000", line_with({}, 1000000), 0, 0, 0, true, true, true},
      {"second length above 1,000,000",
       crlf({"[generale]", "lunghezza percorso, 1000", "lunghezza percorso, 1000001", "[fine]"}), 1,
       1, 0, true, false, true},
      {"length 0", line_with({}, 0), 1, 105, 0, true, false, false},
      {"negative length", line_with({}, -1000), 1, 105, 0, true, false, false},
      {"no length record", crlf({"[generale]", "sfondo uno, 1", "[curve]", "[fine]"}), 1, 104, 0,
       true, false, false},
      {"repetition start 655",
       crlf({"[generale]", "lunghezza percorso, 1000", "ripetizione segnali 9, 655, 1001",
             "[fine]"}),
       1, 3, 0, true, false, true},
      {"repetition start -655 with end 0",
       crlf({"[generale]", "lunghezza percorso, 1000", "ripetizione segnali 9, -655, 0", "[fine]"}),
       1, 3, 0, true, false, true},
      {"repetition end 1001",
       crlf({"[generale]", "lunghezza percorso, 1000", "ripetizione segnali 9, 650, 1001",
             "[fine]"}),
       1, 4, 0, true, false, true},
      {"repetition without 4 or 9",
       crlf({"[generale]", "lunghezza percorso, 1000", "ripetizione segnali, 650, 1000", "[fine]"}),
       1, 5, 0, true, false, true},
      {"repetition without 4 or 9, end 0",
       crlf({"[generale]", "lunghezza percorso, 1000", "ripetizione segnali 3, 650, 0", "[fine]"}),
       1, 5, 0, true, false, true},
      {"repetition before the length",
       crlf({"[generale]", "ripetizione segnali 9, 655, 1000", "lunghezza percorso, 1000",
             "[fine]"}),
       1, 3, 0, true, false, false},
      {"curve without class digit", line_with({"curvad, 1000, 500"}), 1, 103, 0, true, false, true},
      {"curve without class digit, no plan", line_with({"curvad, 1000, 500"}), 0, 0, 0, true, true,
       true},
      {"curve without class digit beyond the grid", line_with({"curvad, 7901, 5"}), 1, 15, 7901,
       true, true, true},
      {"curve past the plan table", line_with({"curvad1, 7000, 2000"}), 1, 103, 0, true, false,
       true},
      {"curve end beyond 32 bits", line_with({"curvad1, 100, 2147483647"}), 1, 25, 0, true, true,
       true},
      {"indication board on a speed board",
       line_with({std::string("indicatori_vmax, 1000, ") + kSpeedBoardValues,
                  "cartello_indicatore, 1010, text"}),
       1, 6, 1010, true, false, true},
      {"speed board on an indication board",
       line_with({"cartello_indicatore, 1000, text",
                  std::string("indicatori_vmax, 990, ") + kSpeedBoardValues}),
       1, 21, 990, true, false, true},
      {"speed board on a speed board",
       line_with({std::string("indicatori_vmax, 1000, ") + kSpeedBoardValues,
                  std::string("indicatori_vmax, 1000, ") + kSpeedBoardValues}),
       1, 21, 1000, true, false, true},
      {"gradient beyond the grid", line_with({"pendenza, 7901, 1"}), 1, 15, 7901, true, true, true},
      {"tunnel beyond the grid", line_with({"montagna, 7901, 7950, 2"}), 1, 15, 7901, true, true,
       true},
      {"speed board beyond the grid",
       line_with({std::string("indicatori_vmax, 7901, ") + kSpeedBoardValues}), 1, 15, 7901, true,
       true, true},
      {"indication board beyond the grid", line_with({"cartello_indicatore, 7901, x"}), 1, 15, 7901,
       true, true, true},
      {"tunnel end beyond the last cell", line_with({"montagna, 7000, 9000, 2"}), 1, 15, 7000, true,
       false, true},
      {"tunnel start below cell 0", line_with({"montagna, -500, 500, 2"}), 1, 15, -500, true, false,
       true},
      {"indication board below cell 0", line_with({"cartello_indicatore, -100, x"}), 1, 15, -100,
       true, false, true},
      {"speed board below cell 0",
       line_with({std::string("indicatori_vmax, -100, ") + kSpeedBoardValues}), 1, 15, -100, true,
       false, true},
      {"indication board at -75 m lands in cell 0", line_with({"cartello_indicatore, -75, x"}), 1,
       0, 0, true, true, true},
      {"80 tunnels", line_with(tunnels(80), 10000), 1, 0, 0, true, true, true},
      {"81st tunnel", line_with(tunnels(81), 10000), 1, 106, 8000, true, false, true},
      {"80 indication boards", line_with(boards(80), 10000), 1, 0, 0, true, true, true},
      {"81st indication board", line_with(boards(81), 10000), 1, 107, 4050, true, false, true},
      {"81st indication board on an occupied cell", line_with(boards(81, "4000"), 10000), 1, 6,
       4000, true, false, true},
      {"speed above 16 bits", line_with({"indicatori_vmax, 1000, 1639, 0, 0, 0, 0, 0, 0, 0"}), 1,
       25, 0, true, true, true},
      {"speed below 16 bits", line_with({"indicatori_vmax, 1000, 0, 0, -1639, 0, 0, 0, 0, 0"}), 1,
       25, 0, true, true, true},
      {"speed just inside 16 bits",
       line_with({"indicatori_vmax, 1000, 1638, -1638, 0, 0, 35, -40, 0, 0"}), 1, 0, 0, true, true,
       true},
      {"speed one above 16 bits", line_with({"indicatori_vmax, 1000, 1638, 0, 0, 0, 40, 0, 0, 0"}),
       1, 25, 0, true, true, true},
      {"hyphen fields up to the end of the general section",
       crlf({"[generale]", "lunghezza percorso, 1000", "-a", "-b"}), 1, 25, 0, true, true, true},
      {"value field cut by the end of the file",
       crlf({"[generale]", "lunghezza percorso, 1000", "[curve]", "pendenza, 500"}), 1, 25, 0, true,
       true, true},
      {"chainage keys whose sum passes 32 bits",
       crlf({"[generale]", "lunghezza percorso, 1000",
             "progressiva chilometrica tre, 2000000000, 0, 0",
             "progressiva chilometrica due, 1000000000, 0, 0", "[fine]"}),
       1, 25, 0, true, true, true},
      {"board text of 65535 bytes",
       line_with({"cartello_indicatore, 1000, " + std::string(65535, 'x')}), 1, 0, 0, true, true,
       true},
      {"board text of 65536 bytes",
       line_with({"cartello_indicatore, 1000, " + std::string(65536, 'x')}), 1, 25, 0, true, true,
       true},
  };
  return cases;
}

TEST(LineReaderOutcome, ErrorPositionAndDeletedSources) {
  for (const OutcomeCase& c : outcome_cases()) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(c.line, c.plan);
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_position, c.position);
    EXPECT_EQ(r.s.line.consumed, c.line_deleted);
    EXPECT_EQ(r.s.train.consumed, c.train_deleted);
    EXPECT_EQ(r.m.has_grid(), c.grid);
    EXPECT_EQ(r.outcome == PassOutcome::kNoGrid, !c.grid);
    // The identities are copied before anything is read.
    EXPECT_EQ(r.m.items[85].text, "QUELDRANO 2");
    EXPECT_EQ(r.m.items[86].text, "555");
  }
}

// Numbers convert only as an optional "-" and decimal digits that fit 32 bits.
TEST(LineReaderOutcome, ValueFieldsThatDoNotConvert) {
  const char* const values[] = {"12.5", "+5",       "1e3",  "",           "-",          "12abc",
                                "0x10", "\"1000\"", "10-5", "2147483648", "-2147483649"};
  for (const char* v : values) {
    SCOPED_TRACE(v);
    CompileRun r = compile(crlf({"[generale]", std::string("lunghezza percorso,") + v, "[fine]"}));
    EXPECT_EQ(r.m.error_code, 25);
    EXPECT_TRUE(r.s.line.consumed);
    EXPECT_TRUE(r.s.train.consumed);
  }
  CompileRun r = compile(line_with({"pendenza, -2147483648, 2147483647"}));
  EXPECT_EQ(r.m.error_code, 0);
}

// An error of the line reader other than 15 keeps the train source; error 25 deletes both, and
// a train source that is missing then is not an error of its own.
TEST(LineReaderOutcome, StopsLeaveTheTrainSourceUnread) {
  CompileRun stopped =
      compile(line_with({"curvad, 1000, 500", "pendenza, 500, 3"}), 1, std::nullopt);
  EXPECT_EQ(stopped.m.error_code, 103);
  EXPECT_FALSE(stopped.s.train.consumed);
  // Nothing after the stop is applied, and the wrap-up does not run.
  expect_spans(stopped.m, gradient, {{0, 160, 0}}, "gradient");
}

// --- The default line source -------------------------------------------------------------------

TEST(DefaultLineCompile, CompilesToTheDescribedLine) {
  CompileRun r = compile(test::SourceText::default_line(), 1, test::SourceText::default_train());
  const Model& m = r.m;
  ASSERT_EQ(r.outcome, PassOutcome::kReady);
  EXPECT_EQ(m.error_code, 0);
  EXPECT_TRUE(r.s.line.consumed);
  EXPECT_TRUE(r.s.train.consumed);

  EXPECT_EQ(line_data(m).line_length, 228000);
  for (int i = 81; i <= 83; ++i) {
    const ChainageRecord record = chainage_record(m, i);
    EXPECT_EQ(record.key, 0) << i;
    EXPECT_EQ(record.chainage, 0) << i;
    EXPECT_EQ(record.direction, 0) << i;
  }
  EXPECT_EQ(line_identity(m).background_uno, 1);
  EXPECT_EQ(line_identity(m).background_tre, 84000);
  EXPECT_EQ(line_identity(m).background_due, 62000);
  EXPECT_EQ(train_identity(m).repetition_start, 650);
  EXPECT_EQ(train_identity(m).repetition_end, 211050);
  EXPECT_EQ(train_identity(m).repetition_codes, 9);
  EXPECT_EQ(m.grid_last, 4700);
  EXPECT_EQ(m.plan_last, 235000);
  EXPECT_EQ(m.track_grid.size(), 4701u);

  // Gradients: first and last records of the file.
  expect_spans(m, gradient,
               {{0, 26, 100},
                {27, 79, 98},
                {80, 80, 99},
                {4234, 4273, 98},
                {4274, 4697, 100},
                {4698, 4700, 0}},
               "gradient");
  // Tunnels: a single-cell one, one 100 m after the one before it, and a long one.
  EXPECT_EQ(m.tunnels.size(), 8u);
  expect_spans(m, tunnel,
               {{189, 189, 0},
                {190, 190, 2},
                {191, 191, 0},
                {1560, 1575, 2},
                {1576, 1577, 0},
                {1578, 1605, 3},
                {1606, 1606, 0},
                {1781, 1781, 0},
                {1782, 1929, 1},
                {1930, 1930, 0}},
               "tunnel");

  // Speed boards at 800 m and 208800 m.
  const TrackCell& b17 = m.track_grid[17];
  EXPECT_EQ(b17.kind, 6);
  EXPECT_EQ(b17.param1, 2828);
  EXPECT_EQ(b17.param2, 2929);
  EXPECT_EQ(b17.param3, 3131);
  EXPECT_EQ(b17.param4, 0);
  const TrackCell& b4177 = m.track_grid[4177];
  EXPECT_EQ(b4177.kind, 6);
  EXPECT_EQ(b4177.param1, 1616);
  EXPECT_EQ(b4177.param2, 1818);
  EXPECT_EQ(b4177.param3, 1919);
  EXPECT_EQ(b4177.param4, 22);

  // Indication boards: the first takes record 80, the ninth record 72.
  EXPECT_EQ(m.track_grid[1560].kind, 14);
  EXPECT_EQ(m.track_grid[1560].param1, 80);
  EXPECT_EQ(m.items[80].text, "(GALLERIA  )(GRICILLI I)(M. 800    )");
  EXPECT_EQ(m.track_grid[4205].kind, 14);
  EXPECT_EQ(m.track_grid[4205].param1, 72);
  EXPECT_EQ(m.items[72].text, "(BIVIO PER)( SALERNO )");
  EXPECT_EQ(m.items[71].text, "");

  // The plan: 235,001 points per column, straight up to the first curve at 1000 m.
  ASSERT_EQ(plan_points(m), 235001u);
  EXPECT_EQ(tag_at(m, 0, 0), TaggedValue::kInteger);
  EXPECT_EQ(tag_at(m, 1, 1), TaggedValue::kInteger);
  EXPECT_EQ(integer_at(m, 1, 1), 1);
  EXPECT_EQ(tag_at(m, 1000, 0), TaggedValue::kDouble);
  EXPECT_EQ(real_at(m, 1000, 0), 0.0);
  EXPECT_EQ(real_at(m, 1000, 1), 1000.0);
  EXPECT_EQ(real_at(m, 1001, 0), 0.0004);
  EXPECT_EQ(real_at(m, 1001, 1), 1001.0);
  EXPECT_EQ(tag_at(m, 234998, 0), TaggedValue::kDouble);
  EXPECT_EQ(tag_at(m, 234998, 1), TaggedValue::kDouble);
  for (int32_t p : {234999, 235000}) {
    EXPECT_EQ(tag_at(m, p, 0), TaggedValue::kEmpty) << p;
    EXPECT_EQ(tag_at(m, p, 1), TaggedValue::kEmpty) << p;
  }
}

// --- General section ---------------------------------------------------------------------------

struct Rec {
  int32_t key, second, marker;
};
bool operator==(const Rec& a, const Rec& b) {
  return a.key == b.key && a.second == b.second && a.marker == b.marker;
}
std::ostream& operator<<(std::ostream& o, const Rec& r) {
  return o << "{" << r.key << ", " << r.second << ", " << r.marker << "}";
}

TEST(ChainageOrder, OrdersTheThreeChainageRecords) {
  const Rec zero{0, 0, 0};
  struct Case {
    const char* name;
    Rec t, d, u;
    Rec r81, r82, r83;
  };
  const Case cases[] = {
      {"T > U > D",
       {3000, 1, 0},
       {1000, 2, 0},
       {2000, 3, 0},
       {3000, 1, 0},
       {2000, 3, 0},
       {1000, 2, 0}},
      {"D > U > T",
       {1000, 1, 0},
       {3000, 2, 0},
       {2000, 3, 0},
       {3000, 2, 0},
       {2000, 3, 0},
       {1000, 1, 0}},
      {"U > D > T",
       {1000, 1, 0},
       {2000, 2, 0},
       {3000, 3, 0},
       {3000, 3, 0},
       {2000, 2, 0},
       {1000, 1, 0}},
      {"T > D > U",
       {3000, 1, 0},
       {2000, 2, 0},
       {1000, 3, 0},
       {3000, 1, 0},
       {2000, 2, 0},
       {1000, 3, 0}},
      {"D > T > U",
       {2000, 1, 0},
       {3000, 2, 0},
       {1000, 3, 0},
       {3000, 2, 0},
       {2000, 1, 0},
       {1000, 3, 0}},
      {"U > T > D",
       {2000, 1, 0},
       {1000, 2, 0},
       {3000, 3, 0},
       {3000, 3, 0},
       {2000, 1, 0},
       {1000, 2, 0}},
      {"negative keys",
       {-10, 1, 0},
       {-20, 2, 0},
       {-30, 3, 0},
       {-10, 1, 0},
       {-20, 2, 0},
       {-30, 3, 0}},
      {"T highest, D = U",
       {5000, 1, 0},
       {100, 2, 0},
       {100, 3, 0},
       {5000, 1, 0},
       {100, 3, 0},
       {100, 2, 0}},
      {"D highest, T = U",
       {100, 1, 0},
       {5000, 2, 0},
       {100, 3, 0},
       {5000, 2, 0},
       {100, 3, 0},
       {100, 1, 0}},
      {"U highest, T = D",
       {100, 1, 0},
       {100, 2, 0},
       {5000, 3, 0},
       {5000, 3, 0},
       {100, 2, 0},
       {100, 1, 0}},
      {"two highest equal", {5000, 1, 7}, {5000, 2, 7}, {0, 3, 7}, zero, zero, zero},
      {"three equal", {100, 1, 0}, {100, 2, 0}, {100, 3, 0}, zero, zero, zero},
      {"keys 0, second values 0, 7000, 3000",
       {0, 0, 0},
       {0, 7000, 0},
       {0, 3000, 0},
       {0, 3000, 0},
       {0, 7000, 0},
       {0, 0, 0}},
      {"keys 0, D second value only",
       {0, 5, 2},
       {0, 7000, 0},
       {0, 0, 3},
       {0, 7000, 0},
       {0, 5, 2},
       {0, 0, 3}},
      {"keys 0, T second value only",
       {0, 5, 2},
       {0, 0, 4},
       {0, -1, 3},
       {0, 5, 2},
       {0, 0, 4},
       {0, -1, 3}},
      {"keys 0, no positive second value", {0, 0, 2}, {0, -5, 4}, {0, 0, 1}, zero, zero, zero},
      {"keys that cancel out",
       {100, 1, 0},
       {-100, 2, 0},
       {0, 3, 0},
       {0, 3, 0},
       {-100, 2, 0},
       {100, 1, 0}},
      {"marker 1 adds 100 where the record ends",
       {3000, 50, 1},
       {1000, 0, 1},
       {2000, 7, 0},
       {3000, 150, 1},
       {2000, 7, 0},
       {1000, 100, 1}},
      {"marker 1 after the second values decide",
       {0, 0, 1},
       {0, 7000, 0},
       {0, 3000, 0},
       {0, 3000, 0},
       {0, 7000, 0},
       {0, 100, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m;
    auto set = [&m](int i, const Rec& r) {
      ChainageRecord record = chainage_record(m, i);
      record.key = r.key;
      record.chainage = r.second;
      record.direction = r.marker;
    };
    auto get = [&m](int i) {
      const ChainageRecord record = chainage_record(std::as_const(m), i);
      return Rec{record.key, record.chainage, record.direction};
    };
    set(81, c.t);
    set(82, c.d);
    set(83, c.u);
    order_chainage_records(m);
    EXPECT_EQ(get(81), c.r81);
    EXPECT_EQ(get(82), c.r82);
    EXPECT_EQ(get(83), c.r83);
  }
}

Rec chainage_of(const Model& m, int n) {
  const ChainageRecord record = chainage_record(m, n);
  return {record.key, record.chainage, record.direction};
}

// The reader stores "tre", "due" and "uno" in 81, 82 and 83 (exact case) and then orders them.
TEST(LineGeneralSection, ChainageRecordsAreReadThenOrdered) {
  CompileRun r = compile(crlf(
      {"[generale]", "lunghezza percorso, 1000", "progressiva chilometrica uno, 3000, 50, 1",
       "progressiva chilometrica due, 1000, 100, 0", "progressiva chilometrica tre, 2000, 150, 0",
       "Progressiva chilometrica tre, 9000, 9000, 0", "[fine]"}));
  ASSERT_EQ(r.m.error_code, 0);
  EXPECT_EQ(chainage_of(r.m, 81), (Rec{3000, 150, 1}));
  EXPECT_EQ(chainage_of(r.m, 82), (Rec{2000, 150, 0}));
  EXPECT_EQ(chainage_of(r.m, 83), (Rec{1000, 100, 0}));
}

TEST(LineGeneralSection, RecordsTheirSlotsAndCaseRules) {
  struct Case {
    const char* name;
    std::vector<std::string> general;
    int32_t grid_last;
    int32_t sfondo[3];      // background uno, tre, due of the line identity record
    int32_t repetition[3];  // repetition start, end and codes of the train identity record
  };
  const Case cases[] = {
      {"the three backgrounds",
       {"lunghezza percorso, 228000", "sfondo uno, 1", "sfondo due, 62000", "sfondo tre, 84000"},
       4700,
       {1, 84000, 62000},
       {0, 0, 0}},
      {"length in any case, backgrounds in exact case",
       {"LUNGHEZZA Percorso, 2000", "Sfondo uno, 1", "sfondo UNO, 2"},
       180,
       {0, 0, 0},
       {0, 0, 0}},
      {"a second length record starts the grid again",
       {"lunghezza percorso, 1000", "lunghezza percorso, 2000"},
       180,
       {0, 0, 0},
       {0, 0, 0}},
      {"one field, two background tests, uno first",
       {"lunghezza percorso, 1000", "sfondo tre uno, 5, 6"},
       160,
       {5, 6, 0},
       {0, 0, 0}},
      {"nine repetition codes",
       {"lunghezza percorso, 1000", "ripetizione segnali 9 codici, 650, 211050"},
       160,
       {0, 0, 0},
       {650, 211050, 9}},
      {"four repetition codes",
       {"lunghezza percorso, 1000", "ripetizione segnali 4 codici, 650, 1000"},
       160,
       {0, 0, 0},
       {650, 1000, 4}},
      {"both digits give four",
       {"lunghezza percorso, 1000", "ripetizione segnali 94, 650, 1000"},
       160,
       {0, 0, 0},
       {650, 1000, 4}},
      {"end 0 gives no codes",
       {"lunghezza percorso, 1000", "ripetizione segnali 9, 650, 0"},
       160,
       {0, 0, 0},
       {650, 0, 0}},
      {"negative multiples of 50",
       {"lunghezza percorso, 1000", "ripetizione segnali 9, -650, -100"},
       160,
       {0, 0, 0},
       {-650, -100, 9}},
      {"repetition keyword in exact case",
       {"lunghezza percorso, 1000", "Ripetizione segnali 9, 655, 1"},
       160,
       {0, 0, 0},
       {0, 0, 0}},
      {"records of the feature part are not read here",
       {"lunghezza percorso, 1000", "pendenza, 500, 7", "montagna, 0, 1000, 2"},
       160,
       {0, 0, 0},
       {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines = {"[generale]"};
    lines.insert(lines.end(), c.general.begin(), c.general.end());
    lines.push_back("[fine]");
    CompileRun r = compile(crlf(lines));
    EXPECT_EQ(r.m.error_code, 0);
    EXPECT_EQ(r.m.grid_last, c.grid_last);
    EXPECT_EQ(r.m.track_grid.size(), static_cast<size_t>(c.grid_last) + 1);
    EXPECT_EQ(r.m.plan_last, c.grid_last * 50);
    EXPECT_EQ(plan_points(r.m), static_cast<size_t>(c.grid_last) * 50 + 1);
    EXPECT_EQ(line_identity(r.m).background_uno, c.sfondo[0]);
    EXPECT_EQ(line_identity(r.m).background_tre, c.sfondo[1]);
    EXPECT_EQ(line_identity(r.m).background_due, c.sfondo[2]);
    EXPECT_EQ(train_identity(r.m).repetition_start, c.repetition[0]);
    EXPECT_EQ(train_identity(r.m).repetition_end, c.repetition[1]);
    EXPECT_EQ(train_identity(r.m).repetition_codes, c.repetition[2]);
    // Records of the general section never touch the grid's gradients: the wrap-up fills 100.
    EXPECT_EQ(r.m.track_grid[10].gradient_code, 100);
    EXPECT_EQ(r.m.track_grid[10].tunnel_type, 0);
  }
}

// Values are stored as they are read, before they are checked.
TEST(LineGeneralSection, ValuesStayStoredAfterAnError) {
  CompileRun too_long = compile(line_with({}, 1000001));
  EXPECT_EQ(too_long.m.error_code, 1);
  EXPECT_EQ(line_data(too_long.m).line_length, 1000001);

  CompileRun start = compile(crlf(
      {"[generale]", "lunghezza percorso, 1000", "ripetizione segnali 9, 655, 1001", "[fine]"}));
  EXPECT_EQ(start.m.error_code, 3);
  EXPECT_EQ(train_identity(start.m).repetition_start, 655);
  EXPECT_EQ(train_identity(start.m).repetition_end, 1001);
  EXPECT_EQ(train_identity(start.m).repetition_codes, 0);
}

TEST(LineGeneralSection, LengthSizesGridAndPlan) {
  // 1,000,000 m: 1,007,000 / 50 = 20140. 1025 m: 8025 / 50 = 160.5, half to even 160.
  // 1075 m: 8075 / 50 = 161.5, half to even 162.
  const std::pair<int32_t, int32_t> cases[] = {
      {1000000, 20140}, {1025, 160}, {1075, 162}, {1, 140}};
  for (auto [length, grid_last] : cases) {
    SCOPED_TRACE(length);
    CompileRun r = compile(line_with({}, length), 0);
    EXPECT_EQ(r.m.error_code, 0);
    EXPECT_EQ(line_data(r.m).line_length, length);
    EXPECT_EQ(r.m.plan_last, length + 7000);
    EXPECT_EQ(r.m.grid_last, grid_last);
    EXPECT_EQ(r.m.track_grid.size(), static_cast<size_t>(grid_last) + 1);
    EXPECT_EQ(plan_points(r.m), 0u);
  }
  CompileRun plan = compile(line_with({}, 1075), 1);
  EXPECT_EQ(plan_points(plan.m), 8076u);
}

// A length record below the first section header is not read there: error 104 stands at it, with
// the warning the feature part gives a record of the general section. Without one the error
// belongs to the whole file.
TEST(LineGeneralSection, NoLengthPointsAtALengthRecordBelowTheGeneralSection) {
  test::Compiled moved = test::compile_in_memory(
      "[generale]\r\n[curve]\r\nlunghezza percorso, 1000\r\n[fine]\r\n",
      test::SourceText::default_train().text());
  ASSERT_EQ(moved.m.error_log.size(), 1u);
  EXPECT_EQ(moved.m.error_log[0].code, 104);
  EXPECT_EQ(moved.m.error_log[0].source.line, 3);
  EXPECT_EQ(moved.m.error_log[0].source.column, 1);
  EXPECT_NE(moved.m.error_log[0].detail.find("\"lunghezza percorso\" record stands here"),
            std::string::npos);
  ASSERT_EQ(moved.warnings.size(), 1u);
  EXPECT_EQ(moved.warnings[0].name, "misplaced-record");
  EXPECT_EQ(moved.warnings[0].pos.line, 3);
  test::Compiled none = test::compile_in_memory("[generale]\r\n[curve]\r\n[fine]\r\n",
                                                test::SourceText::default_train().text());
  ASSERT_EQ(none.m.error_log.size(), 1u);
  EXPECT_EQ(none.m.error_log[0].code, 104);
  EXPECT_EQ(none.m.error_log[0].source.line, 0);
  EXPECT_EQ(none.m.error_log[0].detail, "");
}

// --- Fields, keywords and the structure of the file --------------------------------------------

// Each fixture should leave a gradient of `expected` + 100 from cell 10 on (a gradient record at
// 500 m), unless it is expected to be lost (expected = 0).
TEST(LineReaderFields, ReadingRules) {
  struct Case {
    const char* name;
    std::string text;
    int32_t expected;
  };
  const Case cases[] = {
      {"a record spread over lines",
       "[generale]\r\nlunghezza percorso\r\n1000\r\n[curve]\r\npendenza\r\n500\r\n7\r\n[fine]\r\n",
       7},
      {"several records on one line",
       "[generale],lunghezza percorso,1000,[curve],pendenza,0,0,pendenza,500,7,[fine]\r\n", 7},
      {"numbers separated by blanks alone",
       crlf({"[generale]", "lunghezza percorso, 1000 ", "[curve]", "pendenza,   500    7   ",
             "[fine]"}),
       7},
      {"blanks before fields, blank lines and empty fields",
       crlf({"   [generale]", "", "   lunghezza percorso   ,   1000   ,", "[curve]", "",
             "  pendenza , 500 , 7,", ",", "[fine]"}),
       7},
      {"keyword of any case in the feature part", line_with({"PenDENZA, 500, 7"}), 7},
      {"a keyword inside a longer field", line_with({"xxpendenzaxx, 500, 7"}), 7},
      {"the last record is read when a field follows it",
       crlf({"[generale]", "lunghezza percorso, 1000", "[curve]", "pendenza, 500, 7", "x"}), 7},
      {"the last field of the file is never examined",
       "[generale]\r\nlunghezza percorso, 1000\r\n[curve]\r\npendenza, 500, 7\r\npendenza", 7},
      {"a file without a final line end",
       "[generale]\r\nlunghezza percorso, 1000\r\n[curve]\r\npendenza, 500, 7", 7},
      {"anything before the general section is ignored",
       crlf({"pendenza, 500, 3", "lunghezza percorso, 5", "[GENERALE]", "lunghezza percorso, 1000",
             "[curve]", "pendenza, 500, 7", "[fine]"}),
       7},
      {"a gradient record in the general section is not recognised",
       crlf({"[generale]", "lunghezza percorso, 1000", "pendenza, 500, 7", "[curve]", "[fine]"}),
       0},
      {"a header with [ and ] anywhere ends the general section",
       crlf({"[generale]", "lunghezza percorso, 1000", "x]y[z", "pendenza, 500, 7", "[fine]"}), 7},
      {"the general section may be the only one",
       crlf({"[generale]", "lunghezza percorso, 1000", "x"}), 0},
      {"two hyphen fields are skipped in the feature part",
       line_with({"-a, -b, -pendenza, 500, 7"}), 7},
      {"a third hyphen field is tested, the record after it lost",
       line_with({"-a, -b, -c, -pendenza, 500, 7"}), 0},
      {"a lone CR is part of the field",
       "[generale]\r\nlunghezza percorso, 1000\r\n[curve]\r\npendenza\r, 500, 7\r\n[fine]\r\n", 7},
      {"LF alone ends a line as CR LF does",
       "[generale]\nlunghezza percorso, 1000\n[curve]\npendenza, 500, 7\n[fine]\n", 7},
      {"a tab is a blank",
       "[generale]\r\nlunghezza percorso,\t1000\r\n[curve]\r\n\tpendenza,\t500 "
       "\t,7\t\r\n[fine]\r\n",
       7},
      {"a keyword reached by a hyphen skip at the end of the file is not examined",
       "[generale]\r\nlunghezza percorso, 1000\r\n[curve]\r\npendenza, 500, 7\r\n-a\r\npendenza",
       7},
      {"nor after two hyphen skips",
       "[generale]\r\nlunghezza percorso, 1000\r\n[curve]\r\npendenza, 500, 7\r\n-a,-b,pendenza",
       7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(c.text);
    EXPECT_EQ(r.m.error_code, 0);
    ASSERT_EQ(r.m.grid_last, 160);
    expect_spans(r.m, gradient, {{0, 9, 100}, {10, 157, c.expected + 100}, {158, 160, 0}},
                 "gradient");
  }
}

TEST(LineReaderFields, HyphenFieldsInTheGeneralSection) {
  auto hyphens = [](int n, const std::string& field) {
    std::vector<std::string> lines = {"[generale]"};
    for (int i = 0; i < n; ++i) lines.push_back(field);
    return lines;
  };
  // Ten fields are skipped: the eleventh is tested even though it holds a hyphen.
  std::vector<std::string> ten = hyphens(10, "-x");
  ten.insert(ten.end(), {"-lunghezza percorso, 1000", "[fine]"});
  CompileRun r10 = compile(crlf(ten));
  EXPECT_EQ(r10.m.error_code, 0);
  EXPECT_EQ(r10.m.grid_last, 160);

  std::vector<std::string> eleven = hyphens(11, "-x");
  eleven.insert(eleven.end(), {"-lunghezza percorso, 1000", "[fine]"});
  EXPECT_EQ(compile(crlf(eleven)).m.error_code, 104);

  // A header that begins with a hyphen does not end the section, even after ten skips.
  std::vector<std::string> headers = hyphens(11, "  -[curve]");
  headers.insert(headers.end(), {"lunghezza percorso, 1000", "sfondo uno, 7", "[fine]"});
  CompileRun rh = compile(crlf(headers));
  EXPECT_EQ(rh.m.error_code, 0);
  EXPECT_EQ(line_identity(rh.m).background_uno, 7);
}

// With the plan switched off a curve record is not recognised: its values are read as keyword
// fields, and nothing about it is checked.
TEST(LineReaderFields, NoPlanLeavesCurveValuesToBeReadAsKeywords) {
  CompileRun r =
      compile(line_with({"curvad3,  1000,  500", "curvad, 99999, 1", "pendenza, 500, 7"}), 0);
  EXPECT_EQ(r.m.error_code, 0);
  EXPECT_EQ(plan_points(r.m), 0u);
  expect_spans(r.m, gradient, {{0, 9, 100}, {10, 157, 107}}, "gradient");

  // A curve value that holds a hyphen is then a hyphen field, and the two skips reach the next
  // record's keyword.
  CompileRun skipped = compile(line_with({"curvad3, -1000, -500, pendenza, 500, 7"}), 0);
  EXPECT_EQ(skipped.m.error_code, 0);
  expect_spans(skipped.m, gradient, {{0, 9, 100}, {10, 157, 107}}, "gradient");
}

// Every test of a step is made on the same field, in order, each reading its own values.
TEST(LineReaderFields, OneFieldMayHoldSeveralRecords) {
  CompileRun r = compile(line_with({"pendenza montagna, 500, 3, 1000, 2000, 2"}));
  EXPECT_EQ(r.m.error_code, 0);
  expect_spans(r.m, gradient, {{0, 9, 100}, {10, 157, 103}}, "gradient");
  expect_spans(r.m, tunnel, {{19, 19, 0}, {20, 39, 2}, {40, 40, 0}}, "tunnel");

  // "cartello_indicatore" reads its text into the current field, which is the last test.
  CompileRun b =
      compile(line_with({"indicatori_v cartello, 1000, 140, 150, 160, 2, 145, 155, 165, 3, "
                         "2000, pendenza"}));
  EXPECT_EQ(b.m.error_code, 0);
  EXPECT_EQ(b.m.track_grid[21].kind, 6);
  EXPECT_EQ(b.m.track_grid[41].kind, 14);
  EXPECT_EQ(b.m.items[80].text, "pendenza");
}

// --- Gradients ---------------------------------------------------------------------------------

TEST(LineGradients, FillFromEachRecordToTheNext) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    std::vector<Span> spans;
  };
  const Case cases[] = {
      {"the writer's first records",
       {"pendenza, 0, 0", "pendenza, 1350, -2"},
       {{0, 26, 100}, {27, 157, 98}, {158, 160, 0}}},
      {"low 8 bits of gradient + 100",
       {"pendenza, 0, -100", "pendenza, 100, 155", "pendenza, 200, -101", "pendenza, 300, -2"},
       {{0, 1, 0}, {2, 3, 255}, {4, 5, 255}, {6, 157, 98}}},
      {"a record that does not advance still writes one cell",
       {"pendenza, 0, 1", "pendenza, 500, 2", "pendenza, 250, 3"},
       {{0, 9, 101}, {10, 10, 102}, {11, 157, 103}, {158, 160, 0}}},
      {"cells round half to even",
       {"pendenza, 0, 1", "pendenza, 125, 2", "pendenza, 175, 3"},
       {{0, 1, 101}, {2, 3, 102}, {4, 157, 103}}},
      {"no gradient record", {}, {{0, 157, 100}, {158, 160, 0}}},
      {"a record at the last position: the completion writes one cell",
       {"pendenza, 0, 1", "pendenza, 7900, 4"},
       {{0, 157, 101}, {158, 158, 104}, {159, 160, 0}}},
      {"records that do not advance stop at the last cell",
       {"pendenza, 7900, 1", "pendenza, 7900, 2", "pendenza, 7900, 3", "pendenza, 7900, 4",
        "pendenza, 7900, 5"},
       {{0, 157, 100}, {158, 158, 101}, {159, 159, 102}, {160, 160, 103}}},
      {"negative positions write nothing",
       {"pendenza, -5000, 6", "pendenza, 500, 7"},
       {{0, 9, 106}, {10, 157, 107}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(line_with(c.records));
    EXPECT_EQ(r.m.error_code, 0);
    expect_spans(r.m, gradient, c.spans, "gradient");
  }
}

TEST(LineGradients, PlacementByItself) {
  Model m;
  create_grid(m, 10);
  LineFeatureState st;
  // 0, 24 and 25 m all fall in cell 0 (25 / 50 = 0.5 rounds to 0): nothing is written.
  for (int32_t p : {0, 24, 25}) {
    place_gradient(m, st, p, 5);
    EXPECT_EQ(st.fill_cell, 0) << p;
    EXPECT_EQ(st.prev_gradient, 5);
  }
  EXPECT_EQ(m.track_grid[0].gradient_code, 0);
  place_gradient(m, st, 26, 6);
  EXPECT_EQ(st.fill_cell, 1);
  EXPECT_EQ(m.track_grid[0].gradient_code, 105);
  EXPECT_EQ(m.track_grid[1].gradient_code, 0);

  // Completion: up to grid_last - 3, or one cell when the fill is already there.
  complete_gradients(m, st);
  EXPECT_EQ(st.fill_cell, 8);
  for (int c = 1; c <= 7; ++c) EXPECT_EQ(m.track_grid[c].gradient_code, 106) << c;
  EXPECT_EQ(m.track_grid[8].gradient_code, 0);
  complete_gradients(m, st);
  EXPECT_EQ(st.fill_cell, 9);
  EXPECT_EQ(m.track_grid[8].gradient_code, 106);
}

// --- Tunnels -----------------------------------------------------------------------------------

TEST(LineTunnels, CellsTypesAndMarkers) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    std::vector<Span> types;
    std::vector<Span> kinds;
  };
  const Case cases[] = {
      {"9500 to 9550 covers cell 190 only",
       {"montagna, 9500, 9550, 2"},
       {{189, 189, 0}, {190, 190, 2}, {191, 191, 0}},
       {{185, 195, 0}}},
      {"an end on the start covers no cell", {"montagna, 9500, 9500, 2"}, {{185, 195, 0}}, {}},
      {"150 m after the tunnel before: type 3",
       {"montagna, 1000, 2000, 2", "montagna, 2150, 2500, 5"},
       {{20, 39, 2}, {40, 42, 0}, {43, 49, 3}, {50, 50, 0}},
       {}},
      {"151 m after: its own type",
       {"montagna, 1000, 2000, 2", "montagna, 2151, 2500, 5"},
       {{20, 39, 2}, {43, 49, 5}},
       {}},
      {"a tunnel listed after one further along gets type 3",
       {"montagna, 5000, 6000, 4", "montagna, 1000, 2000, 5"},
       {{20, 39, 3}, {100, 119, 4}},
       {}},
      {"an overlapping tunnel overwrites the type",
       {"montagna, 1000, 2000, 2", "montagna, 1500, 2500, 4"},
       {{20, 29, 2}, {30, 49, 3}},
       {}},
      {"type above 10: markers on every fourth cell",
       {"montagna, 1000, 2000, 11"},
       {{20, 39, 1}},
       {{20, 22, 0},
        {23, 23, 11},
        {24, 26, 0},
        {27, 27, 11},
        {31, 31, 11},
        {35, 35, 11},
        {39, 39, 11},
        {40, 40, 0}}},
      {"type 3 by distance keeps the markers",
       {"montagna, 1000, 2000, 2", "montagna, 2150, 2550, 15"},
       {{43, 50, 3}},
       {{43, 45, 0}, {46, 46, 11}, {47, 49, 0}, {50, 50, 11}}},
      {"an occupied fourth cell keeps its kind, and the count goes on",
       {"cartello_indicatore, 1100, x", "montagna, 1000, 2000, 11"},
       {{20, 39, 1}},
       {{23, 23, 14}, {24, 26, 0}, {27, 27, 11}, {31, 31, 11}}},
      {"a speed board on the fourth cell",
       {std::string("indicatori_vmax, 1100, ") + kSpeedBoardValues, "montagna, 1000, 2000, 11"},
       {{20, 39, 1}},
       {{23, 23, 6}, {27, 27, 11}}},
      {"boards replace markers",
       {"montagna, 1000, 2000, 11", "cartello_indicatore, 1100, x",
        std::string("indicatori_vmax, 1300, ") + kSpeedBoardValues},
       {{20, 39, 1}},
       {{23, 23, 14}, {27, 27, 6}, {31, 31, 11}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(line_with(c.records, 10000));
    EXPECT_EQ(r.m.error_code, 0);
    expect_spans(r.m, tunnel, c.types, "tunnel type");
    expect_spans(r.m, kind, c.kinds, "kind");
  }
}

TEST(LineTunnels, TableOfStartsAndEnds) {
  CompileRun r = compile(line_with({"montagna, 1000, 2000, 12", "montagna, 2100, 2500, 2"}, 10000));
  ASSERT_EQ(r.m.error_code, 0);
  ASSERT_EQ(r.m.tunnels.size(), 2u);
  EXPECT_EQ(r.m.tunnels[0].start, 1000);
  EXPECT_EQ(r.m.tunnels[0].end, 2000);
  EXPECT_EQ(r.m.tunnels[1].start, 2100);
  EXPECT_EQ(r.m.tunnels[1].end, 2500);

  // A type above 10 loses its marker flag: type 3, with a marker in every fourth cell.
  Model m;
  create_grid(m, 100);
  ASSERT_TRUE(place_tunnel(m, 1000, 2000, 13));
  for (int c = 20; c <= 39; ++c) {
    EXPECT_EQ(m.track_grid[c].tunnel_type, 3) << c;
    EXPECT_EQ(m.track_grid[c].kind, (c - 19) % 4 == 0 ? kTunnelMarker : kFree) << c;
  }
}

// --- Boards ------------------------------------------------------------------------------------

TEST(LineBoards, IndicationBoardsTakeRecordsFrom80Down) {
  CompileRun r =
      compile(line_with({"cartello_indicatore, 1000, A", "cartello_indicatore,  2000,   B  ",
                         "cartello_indicatore, 3000, -(GALLERIA)(M. ORSO )(M. 7550 )"}));
  ASSERT_EQ(r.m.error_code, 0);
  const int cells[] = {21, 41, 61};
  const char* const texts[] = {"A", "B  ", "-(GALLERIA)(M. ORSO )(M. 7550 )"};
  for (int i = 0; i < 3; ++i) {
    const TrackCell& c = r.m.track_grid[cells[i]];
    EXPECT_EQ(c.kind, 14);
    EXPECT_EQ(c.param1, 80 - i);
    EXPECT_EQ(c.param2, 0);
    EXPECT_EQ(r.m.items[80 - i].text, texts[i]);
  }
  EXPECT_EQ(r.m.items[77].text, "");
  EXPECT_EQ(r.m.track_grid[20].kind, 0);
  EXPECT_EQ(r.m.track_grid[22].kind, 0);
}

TEST(LineBoards, SpeedBoardPacking) {
  struct Case {
    const char* name;
    std::string values;  // vas, vbs, vcs, strisces, vad, vbd, vcd, strisced
    int16_t p1, p2, p3, p4;
  };
  const Case cases[] = {
      {"vas 140, vad 145", "140, 150, 160, 2, 145, 155, 165, 3", 2829, 3031, 3233, 23},
      {"fifths round to the nearest", "0, 0, 0, 0, 13, 12, -13, 0", 3, 2, -3, 0},
      {"stripes wrap in 16 bits", "0, 0, 0, 6553, 0, 0, 0, 7", 0, 0, 0, 1},
      {"stripes use the low 16 bits", "0, 0, 0, 65538, 0, 0, 0, 3", 0, 0, 0, 23},
      {"stripes past 32767", "0, 0, 0, 3277, 0, 0, 0, 0", 0, 0, 0, -32766},
      {"negative speeds", "-1, 0, 0, -1, 0, 0, 0, -2", -20, 0, 0, -12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(line_with({"indicatori_vmax, 1000, " + c.values}));
    ASSERT_EQ(r.m.error_code, 0);
    const TrackCell& cell = r.m.track_grid[21];
    EXPECT_EQ(cell.kind, 6);
    EXPECT_EQ(cell.param1, c.p1);
    EXPECT_EQ(cell.param2, c.p2);
    EXPECT_EQ(cell.param3, c.p3);
    EXPECT_EQ(cell.param4, c.p4);
  }
}

// A failed placement writes nothing to the cell, and what came before stays.
TEST(LineBoards, AStopKeepsWhatWasPlaced) {
  CompileRun r = compile(
      line_with({"pendenza, 0, 1", "pendenza, 500, 2", "cartello_indicatore, 1000, A",
                 std::string("indicatori_vmax, 1000, ") + kSpeedBoardValues, "pendenza, 2000, 3"}));
  EXPECT_EQ(r.m.error_code, 21);
  EXPECT_EQ(r.m.error_position, 1000);
  EXPECT_EQ(r.m.track_grid[21].kind, 14);
  EXPECT_EQ(r.m.track_grid[21].param1, 80);
  EXPECT_EQ(r.m.items[80].text, "A");
  expect_spans(r.m, gradient, {{0, 9, 101}, {10, 160, 0}}, "gradient");
}

// --- The plan of the line ----------------------------------------------------------------------

TEST(LinePlan, ClassThreeCurveExample) {
  CompileRun r = compile(line_with({"curvad3, 2, 3"}));
  ASSERT_EQ(r.m.error_code, 0);
  const Model& m = r.m;
  struct Point {
    int32_t m;
    double x, y;
  };
  const Point points[] = {
      {2, 0.0, 2.0}, {3, 0.0004, 3.0}, {4, 0.0012, 3.99999984}, {5, 0.002399999936, 4.99999936}};
  for (const Point& p : points) {
    SCOPED_TRACE(p.m);
    ASSERT_EQ(tag_at(m, p.m, 0), TaggedValue::kDouble);
    ASSERT_EQ(tag_at(m, p.m, 1), TaggedValue::kDouble);
    EXPECT_DOUBLE_EQ(real_at(m, p.m, 0), p.x);
    EXPECT_DOUBLE_EQ(real_at(m, p.m, 1), p.y);
  }
  // Exactly, step by step as the plan is defined (no fused multiply-add).
  const double k = 0.0004;
  double x3 = 0.0 + (0.0 + k * 1.0), y3 = 2.0 + (1.0 - k * 0.0);
  double x4 = x3 + ((x3 - 0.0) + k * (y3 - 2.0)), y4 = y3 + ((y3 - 2.0) - k * (x3 - 0.0));
  double x5 = x4 + ((x4 - x3) + k * (y4 - y3)), y5 = y4 + ((y4 - y3) - k * (x4 - x3));
  EXPECT_EQ(real_at(m, 3, 0), x3);
  EXPECT_EQ(real_at(m, 3, 1), y3);
  EXPECT_EQ(real_at(m, 4, 0), x4);
  EXPECT_EQ(real_at(m, 4, 1), y4);
  EXPECT_EQ(real_at(m, 5, 0), x5);
  EXPECT_EQ(real_at(m, 5, 1), y5);
  // Then straight on: the step of the last two points is repeated.
  EXPECT_EQ(real_at(m, 6, 0), x5 + (x5 - x4));
  EXPECT_EQ(real_at(m, 6, 1), y5 + (y5 - y4));

  // Points 0 and 1 are Integers, the last two stay empty.
  EXPECT_EQ(tag_at(m, 0, 0), TaggedValue::kInteger);
  EXPECT_EQ(tag_at(m, 0, 1), TaggedValue::kInteger);
  EXPECT_EQ(tag_at(m, 1, 0), TaggedValue::kInteger);
  EXPECT_EQ(tag_at(m, 1, 1), TaggedValue::kInteger);
  EXPECT_EQ(integer_at(m, 0, 1), 0);
  EXPECT_EQ(integer_at(m, 1, 1), 1);
  EXPECT_EQ(tag_at(m, 7998, 0), TaggedValue::kDouble);
  EXPECT_EQ(tag_at(m, 7999, 0), TaggedValue::kEmpty);
  EXPECT_EQ(tag_at(m, 8000, 1), TaggedValue::kEmpty);
}

TEST(LinePlan, CurveWithSTurnsTheOtherWay) {
  CompileRun d = compile(line_with({"curvad3, 100, 300", "curvad6, 1000, 200"}));
  CompileRun s = compile(line_with({"curvas3, 100, 300", "CURVAS6, 1000, 200"}));
  ASSERT_EQ(d.m.error_code, 0);
  ASSERT_EQ(s.m.error_code, 0);
  EXPECT_GT(real_at(d.m, 400, 0), 0.0);  // towards +x
  for (int32_t p = 0; p <= 7998; ++p) {
    ASSERT_EQ(value_at(s.m, p, 0).number(), -value_at(d.m, p, 0).number()) << p;
    ASSERT_EQ(value_at(s.m, p, 1).number(), value_at(d.m, p, 1).number()) << p;
  }
}

TEST(LinePlan, CurvatureOfTheKeyword) {
  const std::pair<const char*, double> cases[] = {
      {"curvad1", 0.0001},  {"curvad2", 0.0002},   {"curvad3", 0.0004},  {"curvad4", 0.001},
      {"curvad5", 0.002},   {"curvad6", 0.003},    {"curvas2", -0.0002}, {"CURVAS6", -0.003},
      {"curvad21", 0.0001}, {"curvad 6 5", 0.002}, {"curvad", 0.0},      {"curvad7", 0.0},
      {"curvad0", 0.0},     {"curvas9", 0.0},
  };
  for (auto [keyword, k] : cases) EXPECT_EQ(curve_curvature(keyword), k) << keyword;
}

// A curve that starts before the current point has no straight stretch: two records that
// overlap draw the same line as one.
TEST(LinePlan, CurveStartingBehindThePlan) {
  CompileRun one = compile(line_with({"curvad4, 100, 15"}));
  CompileRun two = compile(line_with({"curvad4, 100, 10", "curvad4, 105, 10", "curvad4, 50, 10"}));
  ASSERT_EQ(one.m.error_code, 0);
  ASSERT_EQ(two.m.error_code, 0);
  for (int32_t p = 0; p <= 8000; ++p) {
    ASSERT_EQ(tag_at(two.m, p, 0), tag_at(one.m, p, 0)) << p;
    ASSERT_EQ(value_at(two.m, p, 0).number(), value_at(one.m, p, 0).number()) << p;
    ASSERT_EQ(value_at(two.m, p, 1).number(), value_at(one.m, p, 1).number()) << p;
  }
}

TEST(LinePlan, NoMoreThanAMillionPoints) {
  CompileRun r = compile(line_with({"pendenza, 500, 1", "curvad1, 999990, 20"}, 1000000));
  EXPECT_EQ(r.m.error_code, 103);
  EXPECT_EQ(r.m.error_position, 0);
  EXPECT_FALSE(r.s.train.consumed);
  EXPECT_EQ(tag_at(r.m, 1000000, 0), TaggedValue::kDouble);
  EXPECT_EQ(tag_at(r.m, 1000001, 0), TaggedValue::kEmpty);
  // The reader stopped: no completion of gradients or plan.
  EXPECT_EQ(r.m.track_grid[10].gradient_code, 0);
  EXPECT_EQ(tag_at(r.m, 1000002, 1), TaggedValue::kEmpty);

  // The limit holds for the straight stretch before a curve too.
  CompileRun straight = compile(line_with({"curvad1, 1000500, 10"}, 1000000));
  EXPECT_EQ(straight.m.error_code, 103);
  EXPECT_EQ(tag_at(straight.m, 1000000, 1), TaggedValue::kDouble);
  EXPECT_EQ(real_at(straight.m, 1000000, 1), 1000000.0);
  EXPECT_EQ(tag_at(straight.m, 1000001, 1), TaggedValue::kEmpty);

  CompileRun ok = compile(line_with({"curvad1, 999000, 900"}, 1000000));
  EXPECT_EQ(ok.m.error_code, 0);
  EXPECT_EQ(tag_at(ok.m, 1006998, 0), TaggedValue::kDouble);
}

// The last point a curve may reach is 999,999: on a 1,000,000 m line, whose plan table goes on to
// point 1,007,000, a curve ending there is drawn and one ending a metre further is error 103.
TEST(LinePlan, CurvesEndAtPoint999999AtTheLatest) {
  CompileRun last = compile(line_with({"curvad1, 999000, 999"}, 1000000));
  EXPECT_EQ(last.m.error_code, 0);
  EXPECT_TRUE(last.s.train.consumed);
  EXPECT_GT(real_at(last.m, 999999, 0), real_at(last.m, 999000, 0));  // turned by the curve

  CompileRun over = compile(line_with({"curvad1, 999000, 1000"}, 1000000));
  EXPECT_EQ(over.m.error_code, 103);
  EXPECT_EQ(over.m.error_position, 0);
  EXPECT_FALSE(over.s.train.consumed);
}

// --- Position test -----------------------------------------------------------------------------

// (P + 100) / 50 may equal grid_last (160 for 1000 m): 7900 is accepted, 7901 is error 15, which
// ends the feature part; the wrap-up and the train source still run.
TEST(LinePositionTest, LastAcceptedPositionAndOneMetreMore) {
  struct Record {
    std::string text;
    std::function<bool(const Model&)> placed;  // the record's mark when it is accepted
  };
  const Record records[] = {
      {"pendenza, {P}, 4", [](const Model& m) { return m.track_grid[158].gradient_code == 104; }},
      {"curvad3, {P}, 50", [](const Model& m) { return real_at(m, 7901, 0) > 0.0; }},
      {"montagna, {P}, 7950, 2", [](const Model& m) { return m.track_grid[158].tunnel_type == 2; }},
      {std::string("indicatori_vmax, {P}, ") + kSpeedBoardValues,
       [](const Model& m) { return m.track_grid[159].kind == 6; }},
      {"cartello_indicatore, {P}, text",
       [](const Model& m) { return m.track_grid[159].kind == 14; }},
  };
  for (const Record& record : records) {
    for (int32_t p : {7900, 7901}) {
      std::string line = record.text;
      line.replace(line.find("{P}"), 3, std::to_string(p));
      SCOPED_TRACE(line);
      CompileRun r = compile(line_with({"pendenza, 100, 1", line, "pendenza, 500, 9"}));
      ASSERT_EQ(r.outcome, PassOutcome::kReady);
      if (p == 7900) {
        EXPECT_EQ(r.m.error_code, 0);
        EXPECT_TRUE(record.placed(r.m));
        continue;
      }
      EXPECT_EQ(r.m.error_code, 15);
      EXPECT_EQ(r.m.error_position, 7901);
      EXPECT_TRUE(r.s.line.consumed);
      EXPECT_TRUE(r.s.train.consumed);
      // The record after the failing one is not read; the wrap-up fills from where it stood.
      expect_spans(r.m, gradient, {{0, 1, 100}, {2, 157, 101}, {158, 160, 0}}, "gradient");
      EXPECT_EQ(r.m.track_grid[159].kind, 0);
      EXPECT_EQ(r.m.track_grid[158].tunnel_type, 0);
      EXPECT_EQ(tag_at(r.m, 7998, 1), TaggedValue::kDouble);
      EXPECT_EQ(real_at(r.m, 7998, 0), 0.0);
    }
  }
}

// --- Where a recorded error came from ----------------------------------------------------------

TEST(LineErrorSource, FileLineAndColumnOfTheRecord) {
  struct Case {
    const char* name;
    std::string text;
    int32_t code, line, column;
  };
  const Case cases[] = {
      {"position test",
       crlf({"[generale]", "lunghezza percorso, 1000", "[curve]", "pendenza, 0, 0",
             "   pendenza, 8000, 1", "[fine]"}),
       15, 5, 4},
      {"second record of a line",
       crlf({"[generale]", "lunghezza percorso, 1000", "[curve]", "pendenza,0,0, pendenza,8000,1",
             "[fine]"}),
       15, 4, 15},
      {"repetition record",
       crlf({"[generale]", "lunghezza percorso, 1000", "", "ripetizione segnali 9, 655, 1000",
             "[fine]"}),
       3, 4, 1},
      {"length record", crlf({"[generale]", "  lunghezza percorso, 1000001", "[fine]"}), 1, 2, 3},
      {"occupied cell",
       crlf({"[generale]", "lunghezza percorso, 1000", "[cartelli]", "cartello_indicatore, 1000, a",
             "[indicazioni]", "pendenza, 0, 0, cartello_indicatore, 1000, b", "[fine]"}),
       6, 6, 17},
      {"curve", line_with({"pendenza, 0, 0", "curvad, 100, 100"}), 103, 5, 1},
      {"value that does not convert", crlf({"[generale]", "lunghezza percorso,   12x", "[fine]"}),
       25, 2, 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompileRun r = compile(c.text);
    EXPECT_EQ(r.m.error_code, c.code);
    EXPECT_EQ(r.m.error_source.file, test::kLineSource);
    EXPECT_EQ(r.m.error_source.line, c.line);
    EXPECT_EQ(r.m.error_source.column, c.column);
  }
}

}  // namespace
}  // namespace compactor
