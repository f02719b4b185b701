// The dump listings streamed through a TextSink: what they write, in pieces of bounded size, and
// that a write that fails stops them with false. In process, so on every platform.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/decode.h"
#include "format/layouts.h"
#include "format/outputs.h"
#include "model/model.h"
#include "tests/test_support.h"
#include "tools/dump.h"

namespace compactor {
namespace {

using test::default_model;

// What a sink was given: each write, and whether writes kept coming after one failed.
struct Writes {
  std::vector<std::string> pieces;
  size_t bytes = 0;
  bool failed = false;
  bool written_after_failure = false;

  std::string whole() const {
    std::string out;
    for (const std::string& p : pieces) out += p;
    return out;
  }
};

// A sink that takes everything until `limit` bytes have been offered, and fails from then on.
TextSink sink_into(Writes& writes, size_t limit = static_cast<size_t>(-1)) {
  TextSink sink;
  sink.write = [&writes, limit](std::string_view text) {
    if (writes.failed) writes.written_after_failure = true;
    if (writes.bytes + text.size() > limit) {
      writes.failed = true;
      return false;
    }
    writes.pieces.emplace_back(text);
    writes.bytes += text.size();
    return true;
  };
  return sink;
}

// --- A small fixture, listed as the program listed it before the listings streamed -----------

std::array<ScenarioItem, kItemCount> fixture_records() {
  std::array<ScenarioItem, kItemCount> items;
  ScenarioItem& station = items[1];
  station.kind = 8;
  station.value1 = -500;
  station.value2 = 500;
  station.text = "A\"\xC8";
  station.num1 = 1;
  station.flag2 = 1;
  station.check_code = 69000;
  items[80].text = "BOARD";
  return items;
}

// Four cells: one blank, a signal, a free cell with a speed limit, a kind that has no name.
std::string fixture_grid() {
  Model m;
  m.track_grid.resize(4);
  TrackCell& signal = m.track_grid[1];
  signal.kind = kSignal;
  signal.param1 = 32;
  signal.param2 = -2;
  signal.param4 = 8;
  signal.signal_time = 3;
  signal.speed_limit = 36;
  signal.gradient_code = 98;
  signal.adhesion = 80;
  m.track_grid[2].speed_limit = 5;
  m.track_grid[3].kind = 200;
  return encode_grid_output(m);
}

// Three points: integers, doubles and an empty value.
std::string fixture_line() {
  Model m;
  create_profile(m, 2);
  for (const TaggedValue& v : {TaggedValue::Integer(0), TaggedValue::Double(1.5), TaggedValue{}}) {
    m.plan.x.append(v);
  }
  for (const TaggedValue& v :
       {TaggedValue::Integer(-3), TaggedValue::Double(0.1), TaggedValue::Double(-2.5)}) {
    m.plan.y.append(v);
  }
  return encode_line_output(m);
}

std::string listed_grid(const std::string& bytes, bool json) {
  DecodeError error;
  std::optional<GridBytes> grid = check_grid(bytes, error);
  EXPECT_TRUE(grid.has_value()) << error.reason;
  Writes writes;
  TextSink sink = sink_into(writes);
  EXPECT_TRUE(grid && dump_grid(*grid, json, sink));
  return writes.whole();
}

std::string listed_plan(const std::string& bytes, int every, bool json) {
  DecodeError error;
  std::optional<LineBytes> line = check_line(bytes, error);
  EXPECT_TRUE(line.has_value()) << error.reason;
  Writes writes;
  TextSink sink = sink_into(writes);
  EXPECT_TRUE(line && dump_plan(*line, every, json, sink));
  return writes.whole();
}

TEST(DumpStreamTest, RecordsOfTheFixtureAreListedAsBefore) {
  const auto items = fixture_records();
  Writes writes;
  TextSink sink = sink_into(writes);
  ASSERT_TRUE(dump_records(items, 2966, false, sink));
  const std::string expected =
      "# record output: 87 records, 2966 bytes\n"
      "record 1 (station): kind 8, value1 -500, value2 500, value3 0, mark 0, text \"A\\\"\\xC8\", "
      "num1 1, num2 0, num3 0, num4 0, num5 0, flag1 0, flag2 1, flag3 0, flag4 0, check_code "
      "69000\n"
      "record 80 (board text): kind 0, value1 0, value2 0, value3 0, mark 0, text \"BOARD\", num1 "
      "0, num2 0, num3 0, num4 0, num5 0, flag1 0, flag2 0, flag3 0, flag4 0, check_code 0\n"
      "records 0, 2-79, 81-86: cleared\n";
  EXPECT_EQ(writes.whole(), expected);
  EXPECT_EQ(dump_records(items, 2966, false), expected);
}

TEST(DumpStreamTest, GridOfTheFixtureIsListedAsBefore) {
  const std::string bytes = fixture_grid();
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(listed_grid(bytes, false),
            "# grid output: 4 cells of 50 m, 60 bytes; cells that are all zero are not listed\n"
            "cell 1 (50 m): signal, param1 32, param2 -2, param3 0, param4 8, signal_time 3, "
            "approach_code 0, tunnel_type 0, speed_limit 36, gradient_code 98, adhesion 80\n"
            "cell 2 (100 m): free, param1 0, param2 0, param3 0, param4 0, signal_time 0, "
            "approach_code 0, tunnel_type 0, speed_limit 5, gradient_code 0, adhesion 0\n"
            "cell 3 (150 m): unknown kind 200, param1 0, param2 0, param3 0, param4 0, "
            "signal_time 0, approach_code 0, tunnel_type 0, speed_limit 0, gradient_code 0, "
            "adhesion 0\n");
  EXPECT_EQ(listed_grid(bytes, true),
            "{\"output\":\"grid\",\"bytes\":60,\"cell_count\":4,\"cell_metres\":50,\"cells\":["
            "{\"index\":1,\"metre\":50,\"kind\":1,\"kind_name\":\"signal\",\"param1\":32,"
            "\"param2\":-2,\"param3\":0,\"param4\":8,\"signal_time\":3,\"approach_code\":0,"
            "\"tunnel_type\":0,\"speed_limit\":36,\"gradient_code\":98,\"adhesion\":80},\n"
            "{\"index\":2,\"metre\":100,\"kind\":0,\"kind_name\":\"free\",\"param1\":0,"
            "\"param2\":0,\"param3\":0,\"param4\":0,\"signal_time\":0,\"approach_code\":0,"
            "\"tunnel_type\":0,\"speed_limit\":5,\"gradient_code\":0,\"adhesion\":0},\n"
            "{\"index\":3,\"metre\":150,\"kind\":200,\"kind_name\":\"unknown kind 200\","
            "\"param1\":0,\"param2\":0,\"param3\":0,\"param4\":0,\"signal_time\":0,"
            "\"approach_code\":0,\"tunnel_type\":0,\"speed_limit\":0,\"gradient_code\":0,"
            "\"adhesion\":0}]}\n");
}

TEST(DumpStreamTest, PlanOfTheFixtureIsListedAsBefore) {
  const std::string bytes = fixture_line();
  ASSERT_EQ(bytes.size(), 40u);
  const std::string header =
      "# line output: 3 points, 40 bytes; values: 2 integer, 3 double, 1 empty (\"-\")\n";
  EXPECT_EQ(listed_plan(bytes, 1, false), header +
                                              "# metre x y\n"
                                              "0 0 -3\n"
                                              "1 1.5 0.10000000000000001\n"
                                              "2 - -2.5\n");
  EXPECT_EQ(listed_plan(bytes, 2, false), header +
                                              "# every 2 metres\n"
                                              "# metre x y\n"
                                              "0 0 -3\n"
                                              "2 - -2.5\n");
  EXPECT_EQ(listed_plan(bytes, 1, true),
            "{\"output\":\"line\",\"bytes\":40,\"points\":3,\"every\":1,\"empty_values\":1,"
            "\"integer_values\":2,\"double_values\":3,\"plan\":[{\"metre\":0,\"x\":0,\"y\":-3},\n"
            "{\"metre\":1,\"x\":1.5,\"y\":0.10000000000000001},\n"
            "{\"metre\":2,\"x\":null,\"y\":-2.5}]}\n");
  EXPECT_EQ(listed_plan(bytes, 2, true),
            "{\"output\":\"line\",\"bytes\":40,\"points\":3,\"every\":2,\"empty_values\":1,"
            "\"integer_values\":2,\"double_values\":3,\"plan\":[{\"metre\":0,\"x\":0,\"y\":-3},\n"
            "{\"metre\":2,\"x\":null,\"y\":-2.5}]}\n");
}

// --- The default scenario: pieces of bounded size, one listing of cells -----------------------

// The default scenario's grid and line outputs, encoded and checked once.
struct DefaultOutputs {
  std::string grid_bytes = encode_grid_output(default_model());
  std::string line_bytes = encode_line_output(default_model());
  DecodeError error;
  std::optional<GridBytes> grid = check_grid(grid_bytes, error);
  std::optional<LineBytes> line = check_line(line_bytes, error);
};

const DefaultOutputs& default_outputs() {
  static const DefaultOutputs outputs;
  return outputs;
}

TEST(DumpStreamTest, ListingsGoOutInPiecesOfAboutTheChunkSize) {
  const Model& m = default_model();
  const DefaultOutputs& outputs = default_outputs();
  ASSERT_TRUE(outputs.grid && outputs.line) << outputs.error.reason;
  const std::string& grid_bytes = outputs.grid_bytes;
  const GridBytes& grid = *outputs.grid;
  const LineBytes& line = *outputs.line;
  EXPECT_EQ(line.shape.points, static_cast<size_t>(m.plan_last) + 1);

  for (bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    const std::vector<std::function<bool(TextSink&)>> listings = {
        [&](TextSink& s) { return dump_grid(grid, json, s); },
        [&](TextSink& s) { return dump_plan(line, 1, json, s); },
    };
    for (const auto& list : listings) {
      Writes writes;
      TextSink sink = sink_into(writes);
      ASSERT_TRUE(list(sink));
      ASSERT_GT(writes.pieces.size(), 2u);
      for (size_t i = 0; i + 1 < writes.pieces.size(); ++i) {
        EXPECT_GE(writes.pieces[i].size(), TextSink::kChunkBytes);
        EXPECT_LT(writes.pieces[i].size(), TextSink::kChunkBytes + 1024);  // one line more
      }
      EXPECT_LE(writes.pieces.back().size(), TextSink::kChunkBytes + 1024);
    }
    // The cells streamed from the bytes are listed as the decoded cells are.
    EXPECT_EQ(listed_grid(grid_bytes, json), dump_grid(m.track_grid, grid_bytes.size(), json));
  }
}

// --- A write that fails ------------------------------------------------------------------------

TEST(DumpStreamTest, AFailedWriteStopsTheListingWithFalse) {
  const Model& m = default_model();
  const DefaultOutputs& outputs = default_outputs();
  ASSERT_TRUE(outputs.grid && outputs.line) << outputs.error.reason;
  const GridBytes& grid = *outputs.grid;
  const LineBytes& line = *outputs.line;

  struct Case {
    const char* what;
    std::function<bool(TextSink&)> list;
  };
  std::vector<Case> cases;
  for (bool json : {false, true}) {
    cases.push_back({json ? "records, json" : "records, text",
                     [&m, json](TextSink& s) { return dump_records(m.items, 0, json, s); }});
    cases.push_back({json ? "grid, json" : "grid, text",
                     [&grid, json](TextSink& s) { return dump_grid(grid, json, s); }});
    cases.push_back({json ? "plan, json" : "plan, text",
                     [&line, json](TextSink& s) { return dump_plan(line, 1, json, s); }});
    cases.push_back({json ? "plan every 7, json" : "plan every 7, text",
                     [&line, json](TextSink& s) { return dump_plan(line, 7, json, s); }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Writes all;
    TextSink whole = sink_into(all);
    ASSERT_TRUE(c.list(whole));
    // Fails on the first write, in the middle, and on the very last byte.
    for (size_t limit : {size_t{0}, all.bytes / 2, all.bytes - 1}) {
      SCOPED_TRACE("fails after " + std::to_string(limit) + " of " + std::to_string(all.bytes) +
                   " bytes");
      Writes writes;
      TextSink sink = sink_into(writes, limit);
      EXPECT_FALSE(c.list(sink));
      EXPECT_TRUE(writes.failed);
      EXPECT_FALSE(writes.written_after_failure);
      EXPECT_TRUE(sink.failed);
      EXPECT_FALSE(sink.flush());  // and it stays failed
      EXPECT_FALSE(writes.written_after_failure);
      EXPECT_LT(writes.bytes, all.bytes);
      EXPECT_EQ(writes.whole(), all.whole().substr(0, writes.bytes));
    }
  }
}

}  // namespace
}  // namespace compactor
