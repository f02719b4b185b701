// decompile: sources written back from the outputs compile to the same bytes; the code points of
// the cab-code pass are not written back; damaged outputs are named, never claimed recovered.
#include "decompiler/decompile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "compiler/cells.h"
#include "decompiler/recover.h"
#include "format/line_stream.h"
#include "format/outputs.h"
#include "model/roles.h"
#include "syntax/source_format.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;
using test::SourceText;

// The three outputs of a compile, as decompile reads them (no line output without the plan).
CompiledOutputs outputs_of(const Model& m, bool with_plan) {
  CompiledOutputs out{m.line_id, m.train_number, encode_record_output(m), encode_grid_output(m),
                      std::nullopt};
  if (with_plan) out.line = encode_line_output(m);
  return out;
}

// The outputs of the sources; `warnings` (when given) takes how many warnings they have.
CompiledOutputs compiled(const std::string& line, const std::string& train, bool with_plan,
                         size_t* warnings = nullptr) {
  test::Compiled c = test::compile_in_memory(line, train, {with_plan ? 1 : 0});
  EXPECT_EQ(c.m.error_code, 0) << "the case's own sources must compile without an error";
  if (warnings != nullptr) *warnings = c.warnings.size();
  return outputs_of(c.m, with_plan);
}

// Decompiles, compiles the result and expects the same three files, nothing left unrecovered,
// and no more warnings than the sources the outputs came from had.
void expect_round_trip(const CompiledOutputs& in, bool with_plan, size_t warnings = 0) {
  Decompiled d = decompile(in);
  EXPECT_TRUE(d.unrecovered.empty()) << d.unrecovered.front();
  // Written in the canonical layout: fmt has nothing to change.
  EXPECT_EQ(format_source(d.line_source), d.line_source);
  EXPECT_EQ(format_source(d.train_source), d.train_source);
  test::Compiled again =
      test::compile_in_memory(d.line_source, d.train_source, {with_plan ? 1 : 0});
  EXPECT_EQ(again.m.error_code, 0);
  EXPECT_LE(again.warnings.size(), warnings) << again.warnings.front().text;
  CompiledOutputs back = outputs_of(again.m, with_plan);
  EXPECT_TRUE(back.records == in.records);
  EXPECT_TRUE(back.grid == in.grid);
  EXPECT_TRUE(back.line == in.line);
}

size_t lines_starting(const std::string& text, const std::string& start) {
  size_t n = 0;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, start.size(), start) == 0) ++n;
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

TEST(Decompile, DefaultScenarioComesBackByteForByteWithAndWithoutThePlan) {
  for (bool with_plan : {true, false}) {
    SCOPED_TRACE(with_plan ? "with the plan" : "--no-plan");
    expect_round_trip(compiled(SourceText::default_line(), SourceText::default_train(), with_plan),
                      with_plan);
  }
}

// The default train source writes these code points; the cab-code pass adds more around its
// slow orders, which must not come back as records.
TEST(Decompile, WritesBackOnlyTheCodePointsTheAuthorWrote) {
  const std::string train = SourceText::default_train();
  Decompiled d = decompile(compiled(SourceText::default_line(), train, true));
  EXPECT_EQ(lines_starting(d.train_source, "abbattimento,"),
            lines_starting(train, "abbattimento,"));
  EXPECT_GT(test::count_kind(test::default_model(), kCodePoint),
            static_cast<int>(lines_starting(train, "abbattimento,")));
}

TEST(Decompile, CurvesComeBackFromThePlanStepByStep) {
  const std::string line = SourceText::line(
      20000, {"curvad3,  1000,  500", "curvas6,  1500,  50", "curvad1,  4000,  2000", "[fine]"});
  Decompiled d = decompile(compiled(line, SourceText::train({}), true));
  EXPECT_NE(d.line_source.find("curvad3,  1000,  500\r\n"), std::string::npos) << d.line_source;
  EXPECT_NE(d.line_source.find("curvas6,  1500,  50\r\n"), std::string::npos);
  EXPECT_NE(d.line_source.find("curvad1,  4000,  2000\r\n"), std::string::npos);
}

// --- The plan's outline ---------------------------------------------------------------------

// What a compile writes for a plan of this outline.
std::string line_output_of(const PlanOutline& o) {
  Model m;
  m.plan.reset(o.points);
  for (int i = 0; i < 2; ++i) {
    m.plan.x.append(o.first_x[i]);
    m.plan.y.append(o.first_y[i]);
  }
  for (const PlanRun& run : o.runs) m.plan.append_steps(run.count, run.k, run.curved);
  return encode_line_output(m);
}

std::optional<PlanOutline> outline_found(const std::string& bytes) {
  DecodedOutputs d;
  DecodeError e;
  if (!read_plan(bytes_in_memory(bytes), d, e)) return std::nullopt;
  return d.outline;
}

// A line output written value by value: the x half, then the y half.
std::string line_values(const std::vector<TaggedValue>& x, const std::vector<TaggedValue>& y) {
  std::string out;
  for (const auto* half : {&x, &y}) {
    for (const TaggedValue& v : *half) {
      unsigned char bytes[kLineValueMaxBytes];
      out.append(reinterpret_cast<const char*>(bytes), put_line_value(bytes, v) - bytes);
    }
  }
  return out;
}

// A compiled plan of the outline the walk found is taken for the file without reading it again,
// so every outline found must give the file byte for byte: after its first empty point a file
// holds no value but empty ones.
TEST(DecompileOutline, EveryOutlineFoundGivesTheLineOutputByteForByte) {
  const std::string line =
      SourceText::line(3000, {"curvad3,  500,  300", "curvas6,  1200,  50", "[fine]"});
  const std::string compiled_line = *compiled(line, SourceText::train({}), true).line;
  const std::optional<PlanOutline> found = outline_found(compiled_line);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->runs.size(), 5u);  // straight, turned, straight, turned, straight
  EXPECT_EQ(line_output_of(*found), compiled_line);

  // (0, 0), (0, 1), then one straight step to (0, 2).
  const TaggedValue i0 = TaggedValue::Integer(0), i1 = TaggedValue::Integer(1);
  const TaggedValue d0 = TaggedValue::Double(0.0), d2 = TaggedValue::Double(2.0);
  const TaggedValue i5 = TaggedValue::Integer(5), e{};
  const TaggedValue nan_a = TaggedValue::Double(std::bit_cast<double>(0x7FF800000000D381ull));
  const TaggedValue nan_b = TaggedValue::Double(std::bit_cast<double>(0x7FF8000000001699ull));
  const struct {
    const char* name;
    std::string bytes;
  } kFiles[] = {
      {"a step, then empty points", line_values({i0, i0, d0, e, e}, {i0, i1, d2, e, e})},
      {"a value after the first empty point",
       line_values({i0, i0, d0, e, i5}, {i0, i1, d2, e, i5})},
      {"y holds a value where x is empty",
       line_values({i0, i0, d0, e, e, e, e}, {e, i1, d2, i5, e, e, e})},
      // Which of two NaNs a sum keeps depends on the order of its operands in the machine code,
      // which two copies of one step need not share.
      {"NaNs of two payloads", line_values({i0, nan_a, nan_b, e}, {nan_b, i1, nan_b, e})},
  };
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.name);
    const std::optional<PlanOutline> o = outline_found(file.bytes);
    if (o) {
      EXPECT_EQ(line_output_of(*o), file.bytes);
    }
  }
  EXPECT_TRUE(outline_found(kFiles[0].bytes));
  // So no stepped point may be a NaN, even one that every order of the operands gives alike.
  EXPECT_FALSE(outline_found(
      line_values({i0, nan_b, nan_b, e}, {i0, TaggedValue::Double(1.0), d2, e})));
}

// Each case: what the outputs keep only in a packed or cleared form, or only by a side effect.
struct RoundTripCase {
  const char* name;
  std::vector<std::string> features;  // of a 20,000 m line
  std::vector<std::string> train;
};

const RoundTripCase kCases[] = {
    {"the first station's flag3 lengthens its extent, and its record clears the flag",
     {},
     {"stazione, 1000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 8,0,0, PRIMA",
      "stazione, 9000, 5, 400, 0, 1, 1, 1,1,0, 4,1,1, 0, 9,30,0, SECONDA"}},
    {"a tunnel within 150 m of the one before takes type 3 unless written apart",
     {"montagna, 2000, 2960, 2", "montagna, 3124, 4000, 12", "montagna, 4100, 5000, 3",
      "montagna, 9000, 9050, 255"},
     {}},
    {"a tunnel listed after a far one keeps its type however close the one before it ends",
     {"montagna, 5000, 5800, 2", "montagna, 1000, 1050, 2", "montagna, 5900, 7000, 2"},
     {}},
    {"a signal of another type, with a relation digit and a time",
     {},
     {"segnale, 5000, 1, 3,1,0, 1, 2, 3,1,0, 40", "segnale, 5050, 2, 9,9,9, 7, 0, 9,9,9, 300",
      "segnale, 5100, 0, 0,0,0, 0, 0, 0,0,0, 0"}},
    {"close signals listed out of the order of their places overwrite each other's approach codes",
     {},
     {"segnale, 7300, 2, 3,1,1, 0, 2, 2,1,1, 0", "segnale, 7250, 2, 4,0,0, 0, 1, 2,0,0, 0",
      "segnale, 7350, 2, 4,0,0, 0, 2, 2,0,0, 0", "segnale, 7200, 1, 3,1,0, 1, 2, 3,1,0, 0"}},
    {"a signal listed before a station whose stop-mark codes then cover one of its approach cells",
     {},
     {"segnale, 9200, 2, 4,0,1, 0, 1, 2,1,0, 220",
      "stazione, 9000, 12, 400, 0, 0, 1, 1,1,0, 4,1,1, 0, 8,0,0, PRIMA"}},
    {"slow orders with a warning board, approach cells, d_v, and one without a board",
     {},
     {"rallentamento, 8000, 40, 600, 3, 1, 2", "rallentamento, 1000, 120, 300, 0, 0, 0",
      "rallentamento, 12000, 60, 0, 1, 1, 5", "rallentamento, 15000, 60, 300, 0, 0, 0",
      "segnale, 6500, 2, 4,0,0, 0, 1, 2,0,0, 0"}},
    {"a station's flag3 other than 1 keeps its value beside the 50 m it adds to the extent",
     {},
     {"stazione, 1000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 8,0,0, PRIMA",
      "stazione, 9000, 12, 500, 0, 0, 19, 1,1,0, 4,1,1, 0, 9,0,0, SECONDA"}},
    {"slow orders inside and across a long one, each end cell with its own start's values",
     {},
     {"rallentamento, 2000, 80, 10000, 0, 0, 0", "rallentamento, 4000, 40, 200, 0, 1, 0",
      "rallentamento, 11000, 60, 3000, 0, 0, 5"}},
    {"code points: without a code, one past 16 bits, one the pass lowers to its own",
     {},
     {"rallentamento, 8000, 40, 600, 3, 1, 2", "segnale, 6500, 2, 4,0,0, 0, 1, 2,0,0, 0",
      "abbattimento, 3000, 0", "abbattimento, 4000, 65536", "abbattimento, 6400, 270"}},
    {"code points written where the pass puts its own, which move the pass's on in their windows",
     {},
     {"rallentamento, 8000, 40, 600, 3, 1, 2", "rallentamento, 14000, 40, 600, 0, 1, 0",
      "abbattimento, 7800, 270", "abbattimento, 7150, 0", "abbattimento, 13800, 180",
      "abbattimento, 13500, 280"}},
    {"a code point of the author's where the pass would put one inside a slow order moves the "
     "pass's next to it",
     {},
     {"rallentamento, 8000, 40, 600, 0, 0, 0", "abbattimento, 8450, 280"}},
    {"profiles, boards and a board text",
     {"pendenza, 0, 5", "pendenza, 7000, -100",
      "indicatori_vmax, 800, 140, 145, 155, 1, 60, 5, 0, 3",
      "cartello_indicatore, 900, (UNO)(DUE)"},
     {"velocita, 0, 30", "velocita, 5000, 1275", "aderenza, 2000, 255", "orologio, 23, 59, 59",
      "sabbia, -3", "numero vetture, 7", "percentuale massa frenata, 90"}},
    {"a station's stop mark over a speed board keeps the board's speeds b and c and stripes",
     {"indicatori_vmax, 9250, 140, 145, 155, 1, 60, 5, 0, 3"},
     {"stazione, 9000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 8,0,0, PRIMA"}},
    // The grid's last cell is 540: no position picks a cell past 538, but records listed behind
    // the fill write the cells after it, one each.
    {"profiles written into the last cells by records at the last place and behind the fill",
     {"pendenza, 0, 5", "pendenza, 26900, 5", "pendenza, 1000, -3"},
     {"velocita, 0, 30", "velocita, 26900, 30", "velocita, 100, 40", "aderenza, 2000, 255",
      "aderenza, 26900, 7", "aderenza, 100, 8", "aderenza, 100, 9"}},
};

TEST(Decompile, ValuesKeptPackedClearedOrBySideEffectComeBack) {
  for (const RoundTripCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines = {"[generale]",
                                      "lunghezza percorso, 20000",
                                      "ripetizione segnali 4 codici, 650, 10000",
                                      "progressiva chilometrica due, 100, 1250, 1",
                                      "sfondo tre, 7",
                                      "[curve]"};
    lines.insert(lines.end(), c.features.begin(), c.features.end());
    lines.push_back("[fine]");
    const std::string line = test::crlf(lines);
    size_t warnings = 0;
    const CompiledOutputs in = compiled(line, SourceText::train(c.train), true, &warnings);
    expect_round_trip(in, true, warnings);
  }
}

// Outputs no compile makes: each is named, and whatever is not named compiles back the same.
TEST(Decompile, NamesWhatDamagedOutputsDoNotGiveBack) {
  const CompiledOutputs good =
      compiled(SourceText::default_line(), SourceText::default_train(), true);
  struct Damage {
    const char* name;
    void (*apply)(CompiledOutputs&);
    const char* named;
  };
  const Damage kDamages[] = {
      {"a grid cut inside a cell", [](CompiledOutputs& o) { o.grid->pop_back(); }, "grid output"},
      {"a cell's stamp cleared", [](CompiledOutputs& o) { (*o.grid)[15 + 1] = 0; }, "cells 1 to 1"},
      {"a byte after the last record", [](CompiledOutputs& o) { o.records->push_back('x'); },
       "record output"},
      {"a point of the plan moved", [](CompiledOutputs& o) { (*o.line)[8 + 4998 * 10 + 5] ^= 1; },
       "line output: point"},
      {"no grid output", [](CompiledOutputs& o) { o.grid.reset(); }, "grid output: there is none"},
      // The plan ends in empty values. Halves that are not of one size are walked apart.
      {"the x half's last empty value an integer: the halves differ in size",
       [](CompiledOutputs& o) { o.line->replace(o.line->size() / 2 - 2, 2, "\x02\0\0\0", 4); },
       "line output: the plan differs from what the written curve records give"},
      {"the x half's last two empty values one integer: halves of one size, not of one count",
       [](CompiledOutputs& o) { (*o.line)[o.line->size() / 2 - 4] = 2; },
       "line output: at offset 4699964: the file holds 470001 values, an odd number"},
      {"a CR in a station's name",
       [](CompiledOutputs& o) { (*o.records)[o.records->find("DIVINO AMORE") + 6] = '\r'; },
       "stop a compile from writing outputs"},
      {"a NUL byte in a station's name",
       [](CompiledOutputs& o) { (*o.records)[o.records->find("DIVINO AMORE") + 6] = '\0'; },
       "stop a compile from writing outputs"},
  };
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.name);
    CompiledOutputs bad = good;
    damage.apply(bad);
    Decompiled d = decompile(bad);
    ASSERT_FALSE(d.unrecovered.empty());
    std::string all;
    for (const std::string& u : d.unrecovered) all += u + "\n";
    EXPECT_NE(all.find(damage.named), std::string::npos) << all;
  }
}

// --- Tunnels ------------------------------------------------------------------------------------

// The last cell of the grid of a line of `length` m.
int32_t grid_last_of(int64_t length) {
  return test::compile_in_memory(SourceText::line(length), SourceText::train({})).m.grid_last;
}

std::string tunnel(int64_t start, int64_t end, int64_t type) {
  return "montagna, " + std::to_string(start) + ", " + std::to_string(end) + ", " +
         std::to_string(type);
}

int64_t draw(std::mt19937& rng, int64_t low, int64_t high) {
  return std::uniform_int_distribution<int64_t>(low, high)(rng);
}

// Tunnel records as an author may write them: most starting -200 to 300 m after the end of the
// record before, some anywhere, some of no cells; types -20 to 300, so that some lay markers, some
// store 245 to 255 and some clear; a few indication boards on the cells a marker tunnel marks,
// listed before or after the tunnels. Every record stays inside the grid.
std::vector<std::string> random_tunnels(std::mt19937& rng, int32_t grid_last) {
  std::vector<std::string> tunnels, boards;
  std::vector<int64_t> board_cells;
  const int64_t latest_start = int64_t{grid_last} * 50 - 100;
  int64_t end_before = draw(rng, 0, latest_start);
  for (int64_t n = draw(rng, 1, 12); n > 0; --n) {
    int64_t start =
        draw(rng, 0, 3) == 0 ? draw(rng, 0, latest_start) : end_before + draw(rng, -200, 300);
    start = std::clamp<int64_t>(start, 0, latest_start);
    int64_t end = std::min<int64_t>(start + draw(rng, 0, 1500), (int64_t{grid_last} + 1) * 50);
    if (draw(rng, 0, 7) == 0) end = start - draw(rng, 0, 100);  // no cells
    const int64_t type = draw(rng, 0, 1) == 0 ? draw(rng, -20, 20) : draw(rng, -20, 300);
    tunnels.push_back(tunnel(start, end, type));
    end_before = end;
    const int64_t marked = cell_at(start) + 3 + 4 * draw(rng, 0, 3);
    if (type > 10 && draw(rng, 0, 2) == 0 && marked < grid_last - 2 &&
        std::find(board_cells.begin(), board_cells.end(), marked) == board_cells.end()) {
      board_cells.push_back(marked);
      boards.push_back("cartello_indicatore, " + std::to_string((marked - 1) * 50) + ", (T)");
    }
  }
  if (draw(rng, 0, 1) == 0) std::swap(tunnels, boards);
  tunnels.insert(tunnels.end(), boards.begin(), boards.end());
  return tunnels;
}

TEST(DecompileTunnels, EveryGridOfRandomTunnelRecordsComesBackByteForByte) {
  const int64_t length = 6000;
  const int32_t grid_last = grid_last_of(length);
  std::mt19937 rng(20261211);
  for (int round = 0; round < 3000 && !HasFailure(); ++round) {
    const std::vector<std::string> features = random_tunnels(rng, grid_last);
    std::string listed;
    for (const std::string& f : features) listed += f + "\n";
    SCOPED_TRACE("round " + std::to_string(round) + ":\n" + listed);
    const CompiledOutputs in =
        compiled(SourceText::line(length, features), SourceText::train({}), false);
    expect_round_trip(in, false, SIZE_MAX);
  }
}

// A tunnel of markers laid first and one over its start: the markers' first cell is no longer
// the first cell of a run.
TEST(DecompileTunnels, OverlappingMarkerTunnelsComeBack) {
  const std::string line = SourceText::default_line().insert_before("montagna,   9500,  9550,  2",
                                                                    {"montagna, 9500, 14500, 11"});
  expect_round_trip(compiled(line, SourceText::default_train(), true), true);
}

// The last two cells: no record starts there, so their run is written from an earlier cell
// before the cells it passes over are written again. (The grid runs 7000 m past the line's end:
// tunnels there warn.)
TEST(DecompileTunnels, ARunInTheLastTwoCellsComesBack) {
  const int64_t length = 6000;
  const int64_t end = (int64_t{grid_last_of(length)} + 1) * 50;
  const std::string line =
      SourceText::line(length, {tunnel(end - 500, end, 5), tunnel(end - 600, end - 100, 7)});
  expect_round_trip(compiled(line, SourceText::train({}), false), false, SIZE_MAX);
}

// Grids no tunnel records make are named, never written back as if they were.
TEST(DecompileTunnels, NamesTunnelCellsNoRecordsGive) {
  const CompiledOutputs good =
      compiled(SourceText::default_line(), SourceText::default_train(), true);
  const size_t kind = 0, tunnel_type = 11;  // offsets within a cell's 15 bytes
  struct Damage {
    const char* name;
    std::vector<std::pair<size_t, char>> bytes;  // offset, value
    const char* named;
  };
  std::vector<std::pair<size_t, char>> alternating;
  for (size_t c = 10; c < 210; ++c) alternating.push_back({15 * c + tunnel_type, char(1 + c % 2)});
  const Damage kDamages[] = {
      {"a marker in cell 2", {{15 * 2 + kind, kTunnelMarker}}, "cell 2 holds a tunnel marker"},
      {"a type for each cell", alternating, "more than the 80 a line holds"},
  };
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.name);
    CompiledOutputs bad = good;
    for (auto [at, value] : damage.bytes) (*bad.grid)[at] = value;
    Decompiled d = decompile(bad);
    std::string all;
    for (const std::string& u : d.unrecovered) all += u + "\n";
    EXPECT_NE(all.find(damage.named), std::string::npos) << all;
  }
}

// The line output as a file read in passes: a source over the bytes that fails its n-th read.
struct PassedSource {
  std::string bytes;
  int failing = 0;  // the read that fails; 0 for none
  int reads = 0;
  int passes = 0;

  ByteSource source() {
    return ByteSource{bytes.size(), [this](uint64_t offset, char* into, size_t count) {
                        if (offset == 0) ++passes;
                        if (++reads == failing) return false;
                        std::memcpy(into, bytes.data() + offset, count);
                        return true;
                      }};
  }
};

// A compile's line output is read once: the plan the written curves compile to is compared with
// the outline that one pass found. Any read that fails drops everything.
TEST(Decompile, ALineOutputIsReadOnceAndAFailedReadIsNeverTakenForRecovered) {
  const CompiledOutputs good =
      compiled(SourceText::default_line(), SourceText::default_train(), true);
  OutputSources in{good.line_id, good.train_number, good.records, good.grid, std::nullopt};
  PassedSource counted{*good.line};
  in.line = counted.source();
  ASSERT_TRUE(decompile(in).unrecovered.empty());
  EXPECT_EQ(counted.passes, 1);
  for (int n : {1, counted.reads / 2, counted.reads}) {
    SCOPED_TRACE("read " + std::to_string(n) + " of " + std::to_string(counted.reads) + " fails");
    PassedSource failing{*good.line, n};
    in.line = failing.source();
    const Decompiled dropped = decompile(in);
    EXPECT_TRUE(dropped.line_unreadable);
    EXPECT_TRUE(dropped.line_source.empty() && dropped.train_source.empty());
  }
}

#ifndef _WIN32
TEST(DecompileCommand, WritesTheSourcesRefusesToOverwriteThemAndNamesWhatItCannotRecover) {
  test::ScratchDir dir;
  ASSERT_EQ(test::run_compactor({"sources", dir.str()}).exit_status, 0);
  ASSERT_EQ(test::run_compactor({"compile", dir.str()}).exit_status, 0);
  const std::string line = test::read_bytes(dir.file(test::kLineSource));
  test::Result kept = test::run_compactor({"decompile", dir.str()});
  EXPECT_EQ(kept.exit_status, 3);
  EXPECT_NE(kept.err.find("--force"), std::string::npos);
  EXPECT_EQ(test::read_bytes(dir.file(test::kLineSource)), line);

  test::ScratchDir out;
  EXPECT_EQ(test::run_compactor({"decompile", dir.str(), "-o", out.str()}).exit_status, 0);
  EXPECT_EQ(test::run_compactor({"compile", out.str()}).exit_status, 0);
  for (const std::string& name : {test::kRecords, test::kGrid, test::kPlan}) {
    EXPECT_EQ(test::read_bytes(out.file(name)), test::read_bytes(dir.file(name))) << name;
  }

  std::string grid = test::read_bytes(dir.file(test::kGrid));
  grid[15 * 4000] = 99;  // a cell kind no record gives
  test::write_bytes(dir.file(test::kGrid), grid);
  test::Result damaged = test::run_compactor({"decompile", dir.str(), "--force"});
  EXPECT_EQ(damaged.exit_status, 1);
  EXPECT_NE(damaged.err.find("cannot recover: grid output: cells 4000 to 4000 (200000 m)"),
            std::string::npos)
      << damaged.err;
  EXPECT_FALSE(test::read_bytes(dir.file(test::kTrainSource)).empty());
  EXPECT_EQ(test::run_compactor({"decompile"}).exit_status, 2);
}

// A link at a source's name, even one that leads nowhere, stands there: without --force nothing
// is written. With --force the link itself gives way to a file and what it leads to is left
// alone, as `sources --force` does.
TEST(DecompileCommand, ALinkAtASourcesNameIsRefusedAndWithForceReplacedAsSourcesDoes) {
  test::ScratchDir dir;
  ASSERT_EQ(test::run_compactor({"sources", dir.str(), "-q"}).exit_status, 0);
  ASSERT_EQ(test::run_compactor({"compile", dir.str(), "-q"}).exit_status, 0);
  for (const char* leads_to : {"nowhere", "kept.txt"}) {
    SCOPED_TRACE(leads_to);
    test::ScratchDir out;
    test::write_bytes(out.file("kept.txt"), "kept");
    const std::string link = out.file(test::kTrainSource);
    fs::create_symlink(leads_to, link);
    test::Result refused = test::run_compactor({"decompile", dir.str(), "-o", out.str()});
    EXPECT_EQ(refused.exit_status, 3);
    EXPECT_NE(refused.err.find(link + " exists"), std::string::npos) << refused.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(out.file(test::kLineSource)));

    EXPECT_EQ(
        test::run_compactor({"decompile", dir.str(), "-o", out.str(), "--force", "-q"}).exit_status,
        0);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(test::read_bytes(link).rfind("[generale]", 0), 0u);
    EXPECT_EQ(test::read_bytes(out.file("kept.txt")), "kept");
    EXPECT_FALSE(fs::exists(out.file("nowhere")));

    test::ScratchDir by_sources;
    test::write_bytes(by_sources.file("kept.txt"), "kept");
    fs::create_symlink(leads_to, by_sources.file(test::kTrainSource));
    EXPECT_EQ(test::run_compactor({"sources", by_sources.str(), "--force", "-q"}).exit_status, 0);
    EXPECT_FALSE(fs::is_symlink(by_sources.file(test::kTrainSource)));
    EXPECT_EQ(test::read_bytes(by_sources.file("kept.txt")), "kept");

    // `new` refuses a link too, one that leads nowhere included; --force replaces the link.
    test::ScratchDir by_new;
    test::write_bytes(by_new.file("kept.txt"), "kept");
    fs::create_symlink(leads_to, by_new.file(test::kTrainSource));
    test::Result new_refused = test::run_compactor({"new", by_new.str(), "--length", "5000"});
    EXPECT_EQ(new_refused.exit_status, 3);
    EXPECT_NE(new_refused.err.find(by_new.file(test::kTrainSource)), std::string::npos)
        << new_refused.err;
    EXPECT_TRUE(fs::is_symlink(by_new.file(test::kTrainSource)));
    EXPECT_EQ(
        test::run_compactor({"new", by_new.str(), "--length", "5000", "--force", "-q"}).exit_status,
        0);
    EXPECT_FALSE(fs::is_symlink(by_new.file(test::kTrainSource)));
    EXPECT_EQ(test::read_bytes(by_new.file("kept.txt")), "kept");
  }
}

// `new DIR` and `decompile -o DIR` make DIR when it is missing, one level as mkdir does.
TEST(DecompileCommand, NewAndDecompileMakeAMissingDirectoryWhoseParentExists) {
  test::ScratchDir dir;
  ASSERT_EQ(test::run_compactor({"sources", dir.str(), "-q"}).exit_status, 0);
  ASSERT_EQ(test::run_compactor({"compile", dir.str(), "-q"}).exit_status, 0);
  const std::vector<std::vector<std::string>> kCommands = {{"new", "--length", "5000", "-q"},
                                                           {"decompile", dir.str(), "-q", "-o"}};
  for (const std::vector<std::string>& command : kCommands) {
    SCOPED_TRACE(command[0]);
    test::ScratchDir parent;
    // A file at the directory's name, or where its parent should be, is no directory to make.
    test::write_bytes(parent.file("plain"), "not a directory");
    for (const std::string& target : {parent.file("made"), parent.file("no/made"),
                                      parent.file("plain"), parent.file("plain/made")}) {
      std::vector<std::string> args = command;
      args.insert(command[0] == "new" ? args.begin() + 1 : args.end(), target);
      test::Result r = test::run_compactor(args);
      const bool one_level = target == parent.file("made");
      EXPECT_EQ(r.exit_status, one_level ? 0 : 3) << r.err;
      EXPECT_EQ(fs::exists(fs::path(target) / test::kLineSource), one_level);
      if (!one_level) {
        EXPECT_NE(r.err.find("cannot create the directory " + target), std::string::npos) << r.err;
      }
    }
    EXPECT_EQ(test::run_compactor({"compile", parent.file("made"), "-q"}).exit_status, 0);
    EXPECT_EQ(test::read_bytes(parent.file("plain")), "not a directory");
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace compactor
