// fmt, new and diff: the canonical layout never changes what a source compiles to, the new
// scenario compiles clean at every length, and diff names what two scenarios do differently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "bench/generate.h"
#include "format/decode.h"
#include "format/layouts.h"
#include "format/outputs.h"
#include "model/roles.h"
#include "scenario/texts.h"
#include "syntax/source_format.h"
#include "tests/test_support.h"
#include "tools/new_scenario.h"
#include "tools/scenario_diff.h"

namespace compactor {
namespace {

using test::compile_in_memory;

// What a compile gives: its outcome, error code and the three outputs (none without a grid).
std::string compiled_bytes(const std::string& line, const std::string& train, int32_t with_plan) {
  test::CompileOptions options;
  options.with_plan = with_plan;
  options.collect_warnings = false;
  test::Compiled c = compile_in_memory(line, train, options);
  std::string out =
      std::to_string(static_cast<int>(c.outcome)) + "/" + std::to_string(c.m.error_code) + "/";
  if (c.outcome != PassOutcome::kReady) return out;
  out += encode_record_output(c.m) + encode_grid_output(c.m);
  return with_plan != 0 ? out + encode_line_output(c.m) : out;
}

std::string without_blanks(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
  }
  return out;
}

// A source with its layout spoilt at random: blanks before lines, LF alone, lone CRs, blank
// lines of blanks; and, when `damage`, bytes of content deleted, doubled or replaced.
std::string spoilt(const std::string& source, std::mt19937& rng, bool damage) {
  std::string out;
  std::uniform_int_distribution<int> pick(0, 99);
  for (size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    const int p = pick(rng);
    const bool line_start = i == 0 || source[i - 1] == '\n';
    if (line_start && p < 15) out += p < 8 ? "  " : "\t ";
    if (c == '\r' && p >= 15 && p < 35) continue;           // CR LF as LF alone
    if (damage && p == 96) out += i % 2 == 0 ? "\t" : " ";  // a blank inside a line
    if (damage && p >= 97) {
      out += p == 97   ? std::string()
             : p == 98 ? std::string(2, c)
                       : std::string(1, ",-\r0 "[i % 5]);
      continue;
    }
    out += c;
  }
  return out;
}

struct Scenario {
  std::string name;
  std::string line;
  std::string train;
};

std::vector<Scenario> scenarios() {
  std::vector<Scenario> out = {
      {"default", text_from_table(line_source_table()), text_from_table(train_source_table())}};
  for (int32_t length : {20000, 57350, 123450}) {
    bench::GeneratedSources g = bench::generate_scenario(bench::shape_for_length(length));
    out.push_back({"generated " + std::to_string(length), g.line, g.train});
  }
  for (int32_t length : {1000, 1000000}) {
    NewScenario n = new_scenario(length);
    out.push_back({"new " + std::to_string(length), n.line_source, n.train_source});
  }
  return out;
}

TEST(SourceFormat, TheDefaultSourcesAndTheNewOnesAreInTheLayout) {
  for (const Scenario& s : scenarios()) {
    if (s.name.rfind("generated", 0) == 0) continue;
    EXPECT_EQ(format_source(s.line), s.line) << s.name;
    EXPECT_EQ(format_source(s.train), s.train) << s.name;
  }
}

TEST(SourceFormat, ChangesOnlyLineEndsAndTheBlanksThatStartALine) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"  [generale]\n\tsabbia,  200 \n", "[generale]\r\nsabbia,  200 \r\n"},
      {"a\r\r\nb", "a\r\r\nb"},                  // a lone CR is a field's byte
      {"x\r\n   ", "x\r\n   "},                  // blanks that end the file are one more field
      {"x\n \n  y", "x\r\n\r\ny"},               // a line of blanks keeps its line end
      {"nome,  ROMA  \n", "nome,  ROMA  \r\n"},  // a text keeps its trailing blanks
      {"a, 1\t, ROMA\tEST\n", "a, 1\t, ROMA\tEST\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_source(c.in), c.out) << c.in;
    EXPECT_EQ(format_source(c.out), c.out) << c.out;
  }
}

// For every scenario and many spoilt and damaged copies of it: the formatted sources compile to
// the same outputs and the same error, with and without the plan; formatting twice is formatting
// once; the bytes other than blanks and line ends stay the same, in the same order.
TEST(SourceFormat, NeverChangesWhatASourceCompilesTo) {
  std::mt19937 rng(25);
  int compared = 0;
  for (const Scenario& s : scenarios()) {
    const int copies = s.line.size() > 400000 ? 1 : 12;
    for (int copy = 0; copy <= copies; ++copy) {
      const bool damage = copy % 2 == 1;
      const std::string line = copy == 0 ? s.line : spoilt(s.line, rng, damage);
      const std::string train = copy == 0 ? s.train : spoilt(s.train, rng, damage);
      const std::string fline = format_source(line), ftrain = format_source(train);
      ASSERT_EQ(format_source(fline), fline) << s.name << " copy " << copy;
      ASSERT_EQ(without_blanks(fline), without_blanks(line)) << s.name << " copy " << copy;
      for (int32_t plan : {1, 0}) {
        ASSERT_EQ(compiled_bytes(fline, ftrain, plan), compiled_bytes(line, train, plan))
            << s.name << " copy " << copy << " plan " << plan;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 100);
}

TEST(NewScenario, CompilesWithNoErrorAndNoWarningAtEveryLength) {
  for (int32_t length : {1000, 1001, 1049, 1050, 9999, 228000, 999999, 1000000}) {
    NewScenario n = new_scenario(length);
    test::Compiled c = compile_in_memory(n.line_source, n.train_source);
    EXPECT_EQ(c.outcome, PassOutcome::kReady) << length;
    EXPECT_EQ(c.m.error_code, 0) << length;
    EXPECT_TRUE(c.warnings.empty()) << length << ": " << c.warnings.size() << " warnings";
    EXPECT_EQ(line_data(c.m).line_length, length);
    EXPECT_EQ(station_indexes(c.m.items).size(), 2u) << length;
  }
}

DecodedScenario decoded(const std::string& line, const std::string& train) {
  test::Compiled c = compile_in_memory(line, train);
  DecodeError e;
  DecodedScenario d;
  d.records = decode_records(encode_record_output(c.m), e);
  d.grid = decode_grid(encode_grid_output(c.m), e);
  d.plan = decode_line(encode_line_output(c.m), e);
  d.plan_sources = plan_sources(line);
  return d;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

// A slot the roles and cell kinds name that the layout does not hold would never be looked up.
TEST(ScenarioDiff, EveryRoleAndCellKindNamesSlotsOfTheLayout) {
  std::vector<std::string> records, cells;
  for_each_field(kRecordLayout, [&](const auto& f) { records.push_back(f.name); });
  for_each_field(kCellLayout, [&](const auto& f) { cells.push_back(f.name); });
  auto check = [](const std::vector<std::string>& layout, std::span<const SlotName> names) {
    for (const SlotName& n : names) {
      EXPECT_NE(std::find(layout.begin(), layout.end(), n.slot), layout.end()) << n.slot;
    }
  };
  for (std::span<const SlotName> names :
       {std::span<const SlotName>(kStationSlotNames), std::span<const SlotName>(kChainageSlotNames),
        std::span<const SlotName>(kLineDataSlotNames),
        std::span<const SlotName>(kLineIdentitySlotNames),
        std::span<const SlotName>(kTrainIdentitySlotNames)}) {
    check(records, names);
  }
  check(cells, kStampSlotNames);
  for (const CellSlotNames& kind : kCellSlotNames) check(cells, kind.names);
}

// Each edit of the default sources reads as what the author did, and as nothing else: a station
// added does not shift the later ones, a slow order is one thing rather than its cells, a moved
// signal takes its approach codes along, a plan run says where and which curve is there.
TEST(ScenarioDiff, NamesWhatAnEditDidInTheScenariosTerms) {
  const std::string line = text_from_table(line_source_table());
  const std::string train = text_from_table(train_source_table());
  const DecodedScenario base = decoded(line, train);
  EXPECT_TRUE(diff_scenarios(base, base).empty());
  EXPECT_EQ(differences_json({}), "{\"same\":true,\"differences\":[]}\n");
  const std::string added_station =
      "stazione,   17000, 12,  300,  0, 0, 0,  0,0,0,  0,0,0,    0,   0, 0, 0, NUOVA\r\n";
  struct Case {
    bool in_line;
    std::string from, to, expected;
  } cases[] = {
      {false, "stazione,   11050,", "stazione,   11100,",
       "station 3 \"DIVINO AMORE\": extent_start 10900 → 10950\n"
       "station 3 \"DIVINO AMORE\": extent_end 11200 → 11250\n"
       "station 3 \"DIVINO AMORE\": position 11050 → 11100\n"},
      {false, "stazione,   23950,", added_station + "stazione,   24000,",
       "station 5 \"NUOVA\": added (at 17000 m)\n"
       "station 6 \"POMEZIA-S. PALOMBA\" (5 before): extent_start 23700 → 23750\n"
       "station 6 \"POMEZIA-S. PALOMBA\" (5 before): extent_end 24250 → 24300\n"
       "station 6 \"POMEZIA-S. PALOMBA\" (5 before): position 23950 → 24000\n"
       "cell 342 (17100 m): free → station stop mark (station_record 5)\n"
       "cell 484 (24200 m): station stop mark moved to cell 485 (24250 m)\n"},
      {false,
       "stazione,   11050, 27,  300,  0, 0, 0,  0,0,0,  0,0,0,    0,   0, 0, 0, DIVINO AMORE\r\n",
       "", "station 3 \"DIVINO AMORE\": removed (at 11050 m)\n"},
      {false, "rallentamento,   37300,    50", "rallentamento,   37300,    60",
       "slow order at 37350 m: speed 50 → 60\n"},
      {false, "rallentamento,   37300,    50,  200", "rallentamento,   37500,    50,  400",
       "slow order at 37350 m: start 37350 m → 37550 m\n"
       "slow order at 37350 m: length 200 m → 400 m\n"
       "cell 729 (36450 m): cab-code point moved to cell 733 (36650 m)\n"
       "cell 736 (36800 m): cab-code point moved to cell 740 (37000 m)\n"
       "cell 742 (37100 m): cab-code point moved to cell 746 (37300 m)\n"
       "cell 758 (37900 m): free → cab-code point (code 180)\n"},
      {false, "rallentamento,   37300,    50,  200, 0,  1,  0\r\n", "",
       "slow order at 37350 m: removed (37350-37550 m, speed 50)\n"
       "cell 707 (35350 m): cab-code point (code 180) → free\n"
       "cell 729 (36450 m): cab-code point (code 180) → free\n"
       "cell 736 (36800 m): cab-code point (code 180) → free\n"
       "cell 742 (37100 m): cab-code point (code 180) → free\n"},
      {false, "segnale,    2100,", "segnale,    2150,",
       "cell 43 (2150 m): signal moved to cell 44 (2200 m)\n"},
      {false, "aderenza,   89000,    70", "aderenza,   89000,    71",
       "cells 1780-1927 (89000-96350 m): adhesion 70 → 71\n"},
      {true, "montagna,   9500,  9550,  2", "montagna,   9500,  9650,  2",
       "cells 191-192 (9550-9600 m): tunnel_type 0 → 2\n"},
      {true, "montagna,   9500,  9550,  2", "montagna,   9500,  9600,  2",
       "cell 191 (9550 m): tunnel_type 0 → 2\n"},
      {true, "montagna,   9500,  9550,  2", "montagna,   9600,  9650,  2",
       "cell 190 (9500 m): tunnel_type 2 → 0\n"
       "cell 192 (9600 m) signal: tunnel_type 0 → 2\n"},
      // A speed limit, a speed board and a tunnel type read as the author writes them, not as
      // the cells store them (speed / 5; speeds packed in pairs; the type less 10 with markers).
      {false, "velocita,   12500,   165", "velocita,   12500,   170",
       "cells 250-289 (12500-14450 m): speed_limit 165 km/h → 170 km/h\n"},
      {true, "indicatori_vmax,  7500,  140,  155,  175,  0,  140,  155,  175,  0",
       "indicatori_vmax,  7500,  140,  150,  175,  1,  140,  155,  170,  0",
       "cell 151 (7550 m) speed board: vbs 155 km/h → 150 km/h\n"
       "cell 151 (7550 m) speed board: vcd 175 km/h → 170 km/h\n"
       "cell 151 (7550 m) speed board: strisces 0 → 1\n"},
      {true, "indicatori_vmax,  11300,",
       "indicatori_vmax,  10000,  100,  0,  0,  3,  0,  0,  105,  1\r\nindicatori_vmax,  11300,",
       "cell 201 (10050 m): free → speed board (vas 100 km/h, vcd 105 km/h, strisces 3, "
       "strisced 1)\n"},
      {true, "montagna,   89100,  96500,  11", "montagna,   89100,  96500,  12",
       "cells 1782-1929 (89100-96450 m): tunnel_type 11 (type 1 with markers) → 12 (type 2 with "
       "markers)\n"},
      {true, "montagna,   78000,  78800,  2", "montagna,   78000,  78800,  12",
       "cells 1560-1575 (78000-78750 m): tunnel_type 2 → 12 (type 2 with markers)\n"
       "cell 1563 (78150 m): free → tunnel marker\n"
       "cell 1567 (78350 m): free → tunnel marker\n"
       "cell 1571 (78550 m): free → tunnel marker\n"
       "cell 1575 (78750 m): free → tunnel marker\n"},
      {true, "pendenza,  1350,   -2", "pendenza,  1350,   -3",
       "cells 27-79 (1350-3950 m): gradient -2 ‰ → -3 ‰\n"},
      // A tunnel with markers and the ones of type 3 after it, end to end: only the first lays them.
      {true, "montagna,   78000,  78800,  2",
       "montagna,   78000,  78800,  13\r\nmontagna,   78800,  78900,  2",
       "cells 1560-1575 (78000-78750 m): tunnel_type 2 → 13 (type 3 with markers)\n"
       "cell 1563 (78150 m): free → tunnel marker\n"
       "cell 1567 (78350 m): free → tunnel marker\n"
       "cell 1571 (78550 m): free → tunnel marker\n"
       "cell 1575 (78750 m): free → tunnel marker\n"
       "cells 1576-1577 (78800-78850 m): tunnel_type 0 → 3\n"},
      {true, "(GRICILLI II)", "(GRICILLI 2)",
       "cell 1578 (78900 m) indication board: text \"(GALLERIA   )(GRICILLI II)(M. 1400    )\" → "
       "\"(GALLERIA   )(GRICILLI 2)(M. 1400    )\"\n"},
      {true, "cartello_indicatore,  78850,",
       "cartello_indicatore,  78400,   (NUOVO)\r\n"
       "cartello_indicatore,  78850,",
       "cell 1569 (78450 m): free → indication board \"(NUOVO)\"\n"},
      {true, "curvad3,  1000,  500", "curvad3,  1000,  550",
       "plan: points 1501-234998 differ (1501-234998 m) after curvad3 at 1000 m, 500 m long → "
       "in curvad3 at 1000 m, 550 m long\n"},
      {true, "curvas3,  2700,  500", "curvas4,  2700,  500",
       "plan: points 2701-234998 differ (2701-234998 m) in curvas3 at 2700 m, 500 m long → "
       "in curvas4 at 2700 m, 500 m long\n"},
  };
  for (const Case& c : cases) {
    const DecodedScenario edited = c.in_line ? decoded(replaced(line, c.from, c.to), train)
                                             : decoded(line, replaced(train, c.from, c.to));
    EXPECT_EQ(differences_text(diff_scenarios(base, edited)), c.expected) << c.from;
  }
  // Of two stations of one name, the one that kept its place is the one that stayed.
  const std::string twins = replaced(train, "TORRICOLA", "DIVINO AMORE");
  const std::string one_twin = replaced(
      twins,
      "stazione,   11050, 27,  300,  0, 0, 0,  0,0,0,  0,0,0,    0,   0, 0, 0, DIVINO AMORE\r\n", "");
  EXPECT_EQ(differences_text(diff_scenarios(decoded(line, twins), decoded(line, one_twin))),
            "station 3 \"DIVINO AMORE\": removed (at 11050 m)\n");
  EXPECT_EQ(differences_text(diff_scenarios(decoded(line, one_twin), decoded(line, twins))),
            "station 3 \"DIVINO AMORE\": added (at 11050 m)\n");
  const DecodedScenario slower = decoded(
      line, replaced(train, "rallentamento,   37300,    50", "rallentamento,   37300,    60"));
  EXPECT_EQ(differences_json(diff_scenarios(base, slower)),
            "{\"same\":false,\"differences\":[{\"where\":\"slow order at 37350 m\",\"what\":"
            "\"speed\",\"before\":\"50\",\"after\":\"60\"}]}\n");
  // A value shown as written keeps what the cells store beside it in JSON.
  const DecodedScenario faster =
      decoded(line, replaced(train, "velocita,   12500,   165", "velocita,   12500,   170"));
  EXPECT_EQ(differences_json(diff_scenarios(base, faster)),
            "{\"same\":false,\"differences\":[{\"where\":\"cells 250-289 (12500-14450 m)\","
            "\"what\":\"speed_limit\",\"before\":\"165 km/h\",\"after\":\"170 km/h\","
            "\"stored\":{\"field\":\"speed_limit\",\"before\":\"33\",\"after\":\"34\"}}]}\n");
  // A board that comes or goes is shown by its fields as written, and its slots as stored.
  const DecodedScenario no_board = decoded(
      replaced(line, "indicatori_vmax,  800,  140,  145,  155,  0,  140,  145,  155,  0\r\n", ""),
      train);
  EXPECT_EQ(differences_json(diff_scenarios(base, no_board)),
            "{\"same\":false,\"differences\":[{\"where\":\"cell 17 (850 m)\",\"what\":\"\","
            "\"before\":\"speed board (vas 140 km/h, vad 140 km/h, vbs 145 km/h, vbd 145 km/h, vcs "
            "155 km/h, vcd 155 km/h)\",\"after\":\"free\",\"stored\":{\"field\":\"kind\","
            "\"before\":\"speed board (speeds_a 2828, speeds_b 2929, speeds_c 3131)\","
            "\"after\":\"free\"}}]}\n");

  // A name from an output cannot drive the terminal: its control characters are escaped.
  const std::string renamed = replaced(train, "DIVINO AMORE", "DIVINO\x1b[2J");
  const std::string escaped = differences_text(diff_scenarios(base, decoded(line, renamed)));
  EXPECT_EQ(escaped.find('\x1b'), std::string::npos) << escaped;
  EXPECT_NE(escaped.find("DIVINO\\x1b[2J"), std::string::npos) << escaped;
  // Its quotes and backslashes are escaped too: the name ends at the quote that closes it, and
  // the four characters \x1b read apart from the control character.
  const std::string quoted = replaced(train, "DIVINO AMORE", "DI \"VINO\" \\x1b");
  EXPECT_EQ(differences_text(diff_scenarios(base, decoded(line, quoted))),
            "station 3 \"DIVINO AMORE\": name \"DIVINO AMORE\" → \"DI \\\"VINO\\\" \\\\x1b\"\n");
  // In JSON a UTF-8 name stays UTF-8; a byte of no UTF-8 sequence is taken as Latin-1.
  for (const auto& [name, json_name] : {std::pair<std::string, std::string>{"DIVINO \xc3\x80MORE",
                                                                            "DIVINO \xc3\x80MORE"},
                                        {"DIVINO \xc0MORE", "DIVINO \\u00C0MORE"}}) {
    const std::string json =
        differences_json(diff_scenarios(base, decoded(line, replaced(train, "DIVINO AMORE", name))));
    EXPECT_NE(json.find("\"after\":\"\\\"" + json_name + "\\\"\""), std::string::npos) << json;
  }
}

// What no source edit of the default scenario shows: a stop mark keeps the slots of the speed
// board it stands on, a type above 10 stored without markers has only a written value 256 lower,
// and cell 1 holds the stamp whatever its kind.
TEST(ScenarioDiff, ShowsStoredValuesThatHaveNoPlainWrittenOneInWords) {
  auto tunnel = [](uint8_t type) {
    TrackCell c;
    c.tunnel_type = type;
    return c;
  };
  struct Case {
    const char* what;
    size_t first, last;  // the cells that hold `before` on one side and `after` on the other
    TrackCell before, after;
    std::string expected;
  } cases[] = {
      {"stop mark on a board", 5, 5, TrackCell{kStopMark, 3, 3131, 0, 20},
       TrackCell{kStopMark, 3, 3031, 0, 20},
       "cell 5 (250 m) station stop mark: vbs 155 km/h → 150 km/h\n"},
      {"type above 10 without markers", 4, 7, tunnel(6), tunnel(16),
       "cells 4-7 (200-350 m): tunnel_type 6 → -240 (type 16 without markers)\n"},
      {"cell 1's stamp", 1, 1, TrackCell{kSpeedBoard, 5121, 0, 0, 0},
       TrackCell{kSpeedBoard, 5120, 0, 0, 0}, "cell 1 (50 m) speed board: stamp 5121 → 5120\n"},
  };
  for (const Case& c : cases) {
    DecodedScenario a, b;
    a.grid = b.grid = std::vector<TrackCell>(12);
    for (size_t i = c.first; i <= c.last; ++i) {
      (*a.grid)[i] = c.before;
      (*b.grid)[i] = c.after;
    }
    EXPECT_EQ(differences_text(diff_scenarios(a, b)), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace compactor

#ifndef _WIN32
namespace compactor {
namespace {

// The commands as an author runs them: fmt --check writes nothing and exits 1; fmt writes the
// layout; new refuses to replace a file that differs; diff exits 0, 1, 2 and 3 as diff does.
TEST(SourceToolsCommands, ExitStatusesAndWhatTheyWrite) {
  test::ScratchDir dir;
  const std::string spoilt_line = "  [generale]\nlunghezza percorso, 5000\n[fine]\n";
  test::write_bytes(dir.file(test::kLineSource), spoilt_line);
  test::Result check = test::run_compactor({"fmt", dir.str(), "--check"});
  EXPECT_EQ(check.exit_status, 1);
  EXPECT_EQ(check.out, dir.file(test::kLineSource) + "\n");
  EXPECT_EQ(test::read_bytes(dir.file(test::kLineSource)), spoilt_line);
  EXPECT_EQ(test::run_compactor({"fmt", dir.str(), "-q"}).exit_status, 0);
  EXPECT_EQ(test::read_bytes(dir.file(test::kLineSource)), format_source(spoilt_line));
  EXPECT_EQ(test::run_compactor({"fmt", dir.str(), "--check"}).exit_status, 0);
  // A binary output or a UTF-16 source given to fmt is named and left byte for byte as it was:
  // an LF byte there is part of a value or a character, not a line end.
  const std::string utf16 = std::string("\xff\xfe[\0f\0i\0n\0e\0]\0\n\0", 16);
  const std::string binary = std::string("\x01\n\0\x02\n\0\0\0", 8) + std::string(40, '\n');
  for (const std::string& bytes : {utf16, binary}) {
    test::write_bytes(dir.file(test::kTrainSource), bytes);
    for (const char* option : {"--check", "-q"}) {
      test::Result refused = test::run_compactor({"fmt", dir.file(test::kTrainSource), option});
      EXPECT_EQ(refused.exit_status, 3) << option;
      EXPECT_NE(refused.err.find("; a source is 8-bit text, so it is left as it is"),
                std::string::npos)
          << refused.err;
      EXPECT_EQ(test::read_bytes(dir.file(test::kTrainSource)), bytes) << option;
    }
  }
  std::remove(dir.file(test::kTrainSource).c_str());

  EXPECT_EQ(test::run_compactor({"new", dir.str(), "--length", "5000"}).exit_status, 3);
  EXPECT_EQ(test::read_bytes(dir.file(test::kLineSource)), format_source(spoilt_line));
  EXPECT_EQ(test::run_compactor({"new", dir.str(), "--length", "999"}).exit_status, 2);
  EXPECT_EQ(test::run_compactor({"new", dir.str()}).exit_status, 2);
  test::ScratchDir fresh;
  EXPECT_EQ(test::run_compactor({"new", fresh.str(), "--length", "5000", "-q"}).exit_status, 0);
  EXPECT_EQ(test::run_compactor({"new", fresh.str(), "--length", "5000", "-q"}).exit_status, 0);
  EXPECT_EQ(test::run_compactor({"compile", fresh.str(), "--werror", "-q"}).exit_status, 0);

  test::Result same = test::run_compactor({"diff", fresh.str(), fresh.str()});
  EXPECT_EQ(same.exit_status, 0);
  EXPECT_EQ(same.out, "");
  test::ScratchDir other;
  ASSERT_EQ(test::run_compactor({"new", other.str(), "--length", "6000", "-q"}).exit_status, 0);
  test::Result differ = test::run_compactor({"diff", fresh.str(), other.str()});
  EXPECT_EQ(differ.exit_status, 1);
  EXPECT_NE(differ.out.find("record 84 (line and train data): line_length 5000 → 6000\n"),
            std::string::npos)
      << differ.out;
  test::Result json = test::run_compactor({"diff", fresh.str(), other.str(), "--json"});
  EXPECT_EQ(json.exit_status, 1);
  EXPECT_NE(json.out.find("{\"where\":\"record 84 (line and train data)\",\"what\":\"line_length\","
                          "\"before\":\"5000\",\"after\":\"6000\"}"),
            std::string::npos)
      << json.out;
  // Sources that hold an error are not compared: what they compile to is not the scenario.
  test::write_bytes(other.file(test::kLineSource),
                    replaced(test::read_bytes(other.file(test::kLineSource)), "[generale]",
                             "[generale]\r\nlunghezza percorzo, 6000"));
  test::Result spoilt = test::run_compactor({"diff", fresh.str(), other.str()});
  EXPECT_EQ(spoilt.exit_status, 3);
  EXPECT_EQ(spoilt.out, "");
  EXPECT_NE(spoilt.err.find("cannot compare: the sources in " + other.str() + " hold an error"),
            std::string::npos)
      << spoilt.err;
  EXPECT_EQ(test::run_compactor({"diff", fresh.str()}).exit_status, 2);
  EXPECT_EQ(test::run_compactor({"diff", fresh.file("a.sim"), fresh.file("b.sim")}).exit_status, 3);
}

// diff reads a directory's outputs before its sources, so a source edited since the compile is
// not compared: diff says so, rather than let "no difference" stand for "the edit did nothing".
TEST(SourceToolsCommands, DiffSaysWhenTheOutputsAreNotWhatTheSourcesBesideCompileTo) {
  for (const char* plan : {"--no-wait", "--no-plan"}) {  // with the plan, and without
    SCOPED_TRACE(plan);
    test::ScratchDir before, after;
    for (const test::ScratchDir* d : {&before, &after}) {
      ASSERT_EQ(test::run_compactor({"new", d->str(), "--length", "5000", "-q"}).exit_status, 0);
    }
    ASSERT_EQ(test::run_compactor({"compile", after.str(), "-q", plan}).exit_status, 0);
    test::Result fresh = test::run_compactor({"diff", before.str(), after.str()});
    EXPECT_EQ(fresh.exit_status, 0);
    EXPECT_EQ(fresh.err, "");
    const std::string warning = "warning: the outputs in " + after.str() +
                                " are not what its sources compile to now; diff compares the "
                                "outputs";
    for (const char* edit : {"sabbia,    150", "sabbia,    x"}) {
      test::write_bytes(after.file(test::kTrainSource),
                        replaced(test::read_bytes(after.file(test::kTrainSource)),
                                 "sabbia,    200", edit));
      test::Result stale = test::run_compactor({"diff", before.str(), after.str()});
      EXPECT_EQ(stale.exit_status, 0) << edit;
      EXPECT_EQ(stale.out, "") << edit;
      EXPECT_NE(stale.err.find(warning), std::string::npos) << edit << ": " << stale.err;
      test::write_bytes(after.file(test::kTrainSource),
                        replaced(test::read_bytes(after.file(test::kTrainSource)), edit,
                                 "sabbia,    200"));
    }
  }
}

}  // namespace
}  // namespace compactor
#endif  // _WIN32
