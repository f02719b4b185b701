// The compactor program as a whole: run as a child process in a fresh directory, and what it
// leaves there.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/texts.h"
#include "tests/test_support.h"

namespace {

using compactor::line_source_table;
using compactor::text_from_table;

namespace fs = std::filesystem;
namespace test = compactor::test;

using test::default_run;
using test::f64_at;
using test::fingerprint;
using test::i16_at;
using test::i32_at;
using test::kCard;
using test::kForm;
using test::kGrid;
using test::kLineSource;
using test::kNotes;
using test::kPlan;
using test::kRecords;
using test::kTrainSource;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::u16_at;
using test::u8_at;
using test::write_bytes;

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

bool has_line(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (l == line) return true;
  }
  return false;
}

struct Cell {
  int kind, p1, p2, p3, p4, signal_time, approach, tunnel, speed, gradient, adhesion;
};

std::vector<Cell> decode_grid(const std::string& b) {
  std::vector<Cell> cells;
  for (size_t o = 0; o + 15 <= b.size(); o += 15) {
    cells.push_back(Cell{u8_at(b, o), i16_at(b, o + 1), i16_at(b, o + 3), i16_at(b, o + 5),
                         i16_at(b, o + 7), u8_at(b, o + 9), u8_at(b, o + 10), u8_at(b, o + 11),
                         u8_at(b, o + 12), u8_at(b, o + 13), u8_at(b, o + 14)});
  }
  return cells;
}

struct Record {
  int kind;
  int32_t value1, value2, value3;
  int mark;
  std::string text;
  int num1, num2, num3, num4, num5;
  int flag1, flag2, flag3, flag4;
  int32_t check_code;
};

// The 87 records; stops (with a failure) when the bytes do not hold them exactly.
std::vector<Record> decode_records(const std::string& b) {
  std::vector<Record> records;
  size_t o = 0;
  for (int k = 0; k < 87; ++k) {
    if (o + 34 > b.size()) break;
    Record r;
    r.kind = u8_at(b, o);
    r.value1 = i32_at(b, o + 1);
    r.value2 = i32_at(b, o + 5);
    r.value3 = i32_at(b, o + 9);
    r.mark = u8_at(b, o + 13);
    size_t n = u16_at(b, o + 14);
    if (o + 34 + n > b.size()) break;
    r.text = b.substr(o + 16, n);
    o += n;
    r.num1 = i16_at(b, o + 16);
    r.num2 = i16_at(b, o + 18);
    r.num3 = i16_at(b, o + 20);
    r.num4 = i16_at(b, o + 22);
    r.num5 = i16_at(b, o + 24);
    r.flag1 = u8_at(b, o + 26);
    r.flag2 = u8_at(b, o + 27);
    r.flag3 = u8_at(b, o + 28);
    r.flag4 = u8_at(b, o + 29);
    r.check_code = i32_at(b, o + 30);
    records.push_back(r);
    o += 34;
  }
  EXPECT_EQ(records.size(), 87u);
  EXPECT_EQ(o, b.size()) << "bytes after the 87 records";
  return records;
}

struct Tagged {
  int tag;
  double value;
};

std::vector<Tagged> decode_plan(const std::string& b) {
  std::vector<Tagged> values;
  size_t o = 0;
  while (o + 2 <= b.size()) {
    int tag = u16_at(b, o);
    o += 2;
    if (tag == 0) {
      values.push_back({0, 0.0});
    } else if (tag == 2 && o + 2 <= b.size()) {
      values.push_back({2, static_cast<double>(i16_at(b, o))});
      o += 2;
    } else if (tag == 5 && o + 8 <= b.size()) {
      values.push_back({5, f64_at(b, o)});
      o += 8;
    } else {
      ADD_FAILURE() << "bad tag " << tag << " at byte " << o - 2;
      break;
    }
  }
  EXPECT_EQ(o, b.size());
  return values;
}

// The plan of a line source: from (0, 0) and (0, 1), straight steps up to each curve's start and
// steps turning the direction by k up to its end, then straight to the last point but two.
std::vector<std::pair<double, double>> plan_of(const std::string& line_source, size_t points) {
  std::vector<std::pair<double, double>> p(points, {0.0, 0.0});
  p[1] = {0.0, 1.0};
  size_t m = 2;
  auto step = [&](double k) {
    double dx = p[m - 1].first - p[m - 2].first, dy = p[m - 1].second - p[m - 2].second;
    p[m] = {p[m - 1].first + (dx + k * dy), p[m - 1].second + (dy - k * dx)};
    ++m;
  };
  const double curvature[] = {0.0001, 0.0002, 0.0004, 0.001, 0.002, 0.003};
  std::istringstream in(line_source);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("curva", 0) != 0) continue;
    std::string keyword = l.substr(0, l.find(','));
    size_t digit = keyword.find_first_of("123456");
    double k = curvature[keyword[digit] - '1'];
    if (keyword.find_first_of("sS") != std::string::npos) k *= -1.0;
    long start = 0, length = 0;
    EXPECT_EQ(std::sscanf(l.c_str() + keyword.size(), ", %ld, %ld", &start, &length), 2) << l;
    while (m <= static_cast<size_t>(start)) step(0.0);
    while (m <= static_cast<size_t>(start + length)) step(k);
  }
  while (m + 2 < points) step(0.0);
  return p;
}

// What the default build run (made once, in tests/test_support.cc) leaves.
std::string output(const std::string& name) {
  return read_bytes(default_run().file(name));
}

TEST(DefaultRun, EndsSilentlyLeavingTheCardTheFormTheNotesAndTheThreeOutputs) {
  const Result& result = default_run().result;
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(names_in(default_run().dir.path()),
            (std::set<std::string>{kCard, kForm, kNotes, kRecords, kGrid, kPlan}));
}

TEST(DefaultRun, GridOutputHoldsTheScenario) {
  const std::string b = output(kGrid);
  ASSERT_EQ(b.size(), 70515u);
  EXPECT_EQ(i16_at(b, 16), 5121);
  EXPECT_EQ(i16_at(b, 18), 2470);  // plain code of "555queldrano 2mmoorrttvvz"
  const std::vector<Cell> g = decode_grid(b);
  ASSERT_EQ(g.size(), 4701u);

  int kinds[256] = {};
  for (const Cell& c : g) ++kinds[c.kind];
  EXPECT_EQ(kinds[1], 112);
  EXPECT_EQ(kinds[2], 4);
  EXPECT_EQ(kinds[3], 4);
  EXPECT_EQ(kinds[4], 4);
  EXPECT_EQ(kinds[5], 16);
  EXPECT_EQ(kinds[10], 25);
  // 26 code points from the train source and 18 inserted by the pass.
  EXPECT_EQ(kinds[12], 44);
  std::set<int> inserted;
  for (size_t i = 0; i < g.size(); ++i) {
    if (g[i].kind == 12 && g[i].p1 == 180 && i != 4199) inserted.insert(static_cast<int>(i));
  }
  EXPECT_EQ(inserted, (std::set<int>{358, 372, 379, 385, 395, 707, 729, 736, 742, 2356, 2368, 2375,
                                     2381, 3860, 3879, 3886, 3892, 3905}));

  // Signals.
  EXPECT_EQ(g[43].kind, 1);
  EXPECT_EQ(g[43].p1, 32);
  EXPECT_EQ(g[43].p2, 11);
  EXPECT_EQ(g[43].p3, 11);
  EXPECT_EQ(g[43].p4, 8);
  EXPECT_EQ(g[43].signal_time, 0);
  EXPECT_EQ(g[743].kind, 1);
  EXPECT_EQ(g[743].p1, 42);
  EXPECT_EQ(g[743].p4, 7);
  EXPECT_EQ(g[743].signal_time, 220);
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(g[43 - 2 * k].approach, 80 + k);
    EXPECT_EQ(g[743 - 2 * k].approach, 70 + k);
  }
  // Code points.
  EXPECT_EQ(g[263].kind, 12);
  EXPECT_EQ(g[263].p1, 270);
  EXPECT_EQ(g[4199].kind, 12);
  EXPECT_EQ(g[4199].p1, 180);
  // Slow orders: start, end and warning board with the speed, then the approach cells.
  const int slow[4][4] = {
      {390, 396, 366, 40}, {747, 751, 723, 50}, {2386, 2390, 2362, 40}, {3897, 3912, 3873, 80}};
  for (const auto& s : slow) {
    EXPECT_EQ(g[s[0]].kind, 3);
    EXPECT_EQ(g[s[1]].kind, 2);
    EXPECT_EQ(g[s[2]].kind, 4);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(g[s[k]].p1, s[3]) << "cell " << s[k];
    for (int j = 1; j <= 4; ++j) {
      EXPECT_EQ(g[s[2] - j].kind, 5) << "cell " << s[2] - j;
      EXPECT_EQ(g[s[2] - j].p1, j) << "cell " << s[2] - j;
    }
  }
  // Stop marks of stations 1, 4 and 26.
  for (auto [cell, n] : {std::pair{9, 1}, std::pair{249, 4}, std::pair{4283, 26}}) {
    EXPECT_EQ(g[cell].kind, 10) << "cell " << cell;
    EXPECT_EQ(g[cell].p1, n) << "cell " << cell;
  }
  // Speed and adhesion profiles.
  auto check_range = [&](int first, int last, int speed, int adhesion) {
    for (int i = first; i <= last; ++i) {
      if (speed >= 0) {
        ASSERT_EQ(g[i].speed, speed) << "speed_limit of cell " << i;
      }
      if (adhesion >= 0) {
        ASSERT_EQ(g[i].adhesion, adhesion) << "adhesion of cell " << i;
      }
    }
  };
  check_range(0, 9, 6, -1);
  check_range(10, 14, 12, -1);
  check_range(15, 149, 31, -1);
  check_range(150, 249, 35, -1);
  check_range(3983, 4223, 32, -1);
  check_range(4224, 4697, 19, -1);
  check_range(0, 1779, -1, 80);
  check_range(1780, 1927, -1, 70);
  check_range(1928, 2298, -1, 80);
  check_range(2299, 2363, -1, 75);
  check_range(2364, 4697, -1, 80);
  check_range(4698, 4700, 0, 0);
  // From the line: the first gradients, and the tunnel that starts 100 m after the one before.
  for (int i = 0; i <= 26; ++i) EXPECT_EQ(g[i].gradient, 100) << "cell " << i;
  EXPECT_EQ(g[27].gradient, 98);
  for (int i = 1578; i <= 1605; ++i) EXPECT_EQ(g[i].tunnel, 3) << "cell " << i;
  EXPECT_EQ(g[1577].tunnel, 0);
  EXPECT_EQ(g[1606].tunnel, 0);
}

TEST(DefaultRun, RecordOutputHoldsTheRecords) {
  const std::string b = output(kRecords);
  const std::vector<Record> r = decode_records(b);
  ASSERT_EQ(r.size(), 87u);
  size_t texts = 0;
  for (const Record& x : r) texts += x.text.size();
  EXPECT_EQ(b.size(), 87 * 34 + texts);

  EXPECT_EQ(r[0].text, "");
  EXPECT_EQ(r[0].kind, 0);
  EXPECT_EQ(r[0].check_code, 0);
  EXPECT_EQ(r[1].text, "ROMA TERMINI");
  EXPECT_EQ(r[1].kind, 8);
  EXPECT_EQ(r[1].value1, -500);
  EXPECT_EQ(r[1].value2, 500);
  EXPECT_EQ(r[1].value3, 0);
  EXPECT_EQ(r[1].num1, 1);
  EXPECT_EQ(r[1].num3, 4);
  EXPECT_EQ(r[1].flag2, 1);
  EXPECT_EQ(r[1].check_code, 69000);
  EXPECT_EQ(r[4].text, "TORRICOLA");
  EXPECT_EQ(r[4].value1, 11950);
  EXPECT_EQ(r[4].value2, 12500);
  EXPECT_EQ(r[4].flag3, 1);
  EXPECT_EQ(r[4].flag4, 0);
  EXPECT_EQ(r[26].text, "NAPOLI CENTRALE");
  EXPECT_EQ(r[26].value1, 213450);
  EXPECT_EQ(r[26].value2, 214200);
  EXPECT_EQ(r[26].flag4, 1);
  // Stations fill 1 to 26; the nine board texts take 80 down to 72; between them nothing.
  for (int n = 1; n <= 26; ++n) EXPECT_NE(r[n].text, "") << "record " << n;
  for (int n = 27; n <= 71; ++n) {
    EXPECT_EQ(r[n].text, "") << "record " << n;
    EXPECT_EQ(r[n].value3, 0) << "record " << n;
  }
  for (int n = 72; n <= 80; ++n) EXPECT_NE(r[n].text, "") << "record " << n;

  EXPECT_EQ(r[84].value1, 135);
  EXPECT_EQ(r[84].value2, 228000);
  EXPECT_EQ(r[84].value3, 12);
  EXPECT_EQ(r[85].text, "QUELDRANO 2");
  EXPECT_EQ(r[85].value1, 1);
  EXPECT_EQ(r[85].value3, 62000);
  EXPECT_EQ(r[85].value2, 84000);
  EXPECT_EQ(r[85].num1, 610);
  EXPECT_EQ(r[85].check_code, 34465);  // weighted code of "555queldrano 2mmoorrttvvz"
  EXPECT_EQ(r[86].text, "555");
  EXPECT_EQ(r[86].value1, 650);
  EXPECT_EQ(r[86].value2, 211050);
  EXPECT_EQ(r[86].value3, 9);
  EXPECT_EQ(r[86].num1, 200);
  EXPECT_EQ(r[86].num3, 19);
  EXPECT_EQ(r[86].num4, 7);
  EXPECT_EQ(r[86].num5, 30);
}

TEST(DefaultRun, LineOutputHoldsThePlan) {
  const std::vector<Tagged> v = decode_plan(output(kPlan));
  const size_t points = 235001;
  ASSERT_EQ(v.size(), 2 * points);
  auto x = [&](size_t m) { return v[m]; };
  auto y = [&](size_t m) { return v[points + m]; };
  EXPECT_EQ(x(0).tag, 2);
  EXPECT_EQ(x(0).value, 0);
  EXPECT_EQ(x(1).tag, 2);
  EXPECT_EQ(x(1).value, 0);
  EXPECT_EQ(y(0).tag, 2);
  EXPECT_EQ(y(0).value, 0);
  EXPECT_EQ(y(1).tag, 2);
  EXPECT_EQ(y(1).value, 1);
  for (size_t m = 2; m + 2 < points; ++m) {
    ASSERT_EQ(x(m).tag, 5) << "x of point " << m;
    ASSERT_EQ(y(m).tag, 5) << "y of point " << m;
  }
  for (size_t m = points - 2; m < points; ++m) {
    EXPECT_EQ(x(m).tag, 0) << "x of point " << m;
    EXPECT_EQ(y(m).tag, 0) << "y of point " << m;
  }
  // Straight up to the first curve ("curvad3, 1000, 500"), then turning towards +x.
  for (size_t m = 2; m <= 1000; ++m) {
    ASSERT_EQ(x(m).value, 0.0) << m;
    ASSERT_EQ(y(m).value, static_cast<double>(m)) << m;
  }
  EXPECT_DOUBLE_EQ(x(1001).value, 0.0004);
  EXPECT_DOUBLE_EQ(y(1001).value, 1001.0);
  EXPECT_DOUBLE_EQ(x(1002).value, 0.0012);
  EXPECT_DOUBLE_EQ(y(1002).value, 1001.99999984);
  // Every computed point as the curve records of the written line source make it.
  const std::vector<std::pair<double, double>> plan =
      plan_of(text_from_table(line_source_table()), points);
  for (size_t m = 2; m + 2 < points; ++m) {
    ASSERT_EQ(x(m).value, plan[m].first) << "x of point " << m;
    ASSERT_EQ(y(m).value, plan[m].second) << "y of point " << m;
  }
}

TEST(DefaultRun, OutputFingerprints) {
  // FNV-1a 64 of each output, frozen once the content checks above held for these bytes.
  EXPECT_EQ(fingerprint(output(kGrid)), 0xafaec6bb34f782d3ull);
  EXPECT_EQ(fingerprint(output(kRecords)), 0x5447346ad1b621abull);
  EXPECT_EQ(fingerprint(output(kPlan)), 0xa7e98af084a4dc22ull);
}

TEST(BuildRun, WithoutArgumentsWorksInTheProgramsOwnDirectory) {
  ScratchDir dir;
  const fs::path program = dir.path() / "compactor";
  fs::copy_file(COMPACTOR_BINARY, program);
  Result r = test::run_program(program.string(), {});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(names_in(dir.path()),
            (std::set<std::string>{"compactor", kCard, kForm, kNotes, kRecords, kGrid, kPlan}));
  EXPECT_EQ(read_bytes(dir.path() / kGrid).size(), 70515u);
}

// --- compile and sources ---------------------------------------------------------------------

// A 20 km line with nothing on it.
const std::string kSmallLine = test::SourceText::line(20000);

TEST(Compile, StampAlreadySetEndsTheRunWithoutOutputs) {
  struct Case {
    std::string record;
    std::string message;
  };
  const Case cases[] = {
      {"abbattimento, 50, 270", " Errore n. 1250"},                 // a code point in cell 1
      {"segnale, 0, 2, 0,1,0, 0, 2, 0,1,0, 0", " Errore n. 1251"},  // param2 of cell 1 set
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ScratchDir dir;
    write_bytes(dir.path() / kLineSource, kSmallLine);
    write_bytes(dir.path() / kTrainSource, test::SourceText::train({c.record}));
    Result r = run_compactor({"compile", dir.str()});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_TRUE(has_line(r.err, c.message)) << r.err;
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{kLineSource, kTrainSource}));
  }
}

TEST(Compile, KeepsTheSourcesUnlessAskedAndMatchesTheBuildRun) {
  const std::string grid = output(kGrid);
  const std::string records = output(kRecords);
  const std::string plan = output(kPlan);

  ScratchDir dir;
  Result sources = run_compactor({"sources", dir.str()});
  EXPECT_EQ(sources.exit_status, 0);
  const std::set<std::string> texts = {kLineSource, kTrainSource, kCard, kForm, kNotes};
  EXPECT_EQ(names_in(dir.path()), texts);
  // A longer file of an output's name is replaced whole.
  write_bytes(dir.path() / kGrid, std::string(100000, 'x'));

  Result kept = run_compactor({"compile", dir.str()});
  EXPECT_EQ(kept.exit_status, 0) << kept.err;
  std::set<std::string> all = texts;
  all.insert({kRecords, kGrid, kPlan});
  EXPECT_EQ(names_in(dir.path()), all);
  EXPECT_EQ(read_bytes(dir.path() / kGrid), grid);
  EXPECT_EQ(read_bytes(dir.path() / kRecords), records);
  EXPECT_EQ(read_bytes(dir.path() / kPlan), plan);

  Result deleted = run_compactor({"compile", dir.str(), "--delete-sources"});
  EXPECT_EQ(deleted.exit_status, 0) << deleted.err;
  all.erase(kLineSource);
  all.erase(kTrainSource);
  EXPECT_EQ(names_in(dir.path()), all);
  EXPECT_EQ(read_bytes(dir.path() / kGrid), grid);
}

TEST(Compile, NoPlanWritesNoLineOutput) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  Result r = run_compactor({"compile", dir.str(), "--no-plan"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  const std::set<std::string> names = names_in(dir.path());
  EXPECT_EQ(names.count(kPlan), 0u);
  EXPECT_EQ(names.count(kGrid), 1u);
  EXPECT_EQ(names.count(kRecords), 1u);
  // An earlier line output is left as it is.
  write_bytes(dir.path() / kPlan, "earlier");
  EXPECT_EQ(run_compactor({"compile", dir.str(), "--no-plan"}).exit_status, 0);
  EXPECT_EQ(read_bytes(dir.path() / kPlan), "earlier");
}

TEST(Compile, RecordedErrorWritesTheOutputsWhenAsked) {
  ScratchDir dir;
  write_bytes(dir.path() / kLineSource, kSmallLine);
  // The code point falls on the signal's cell 43: error 7.
  write_bytes(dir.path() / kTrainSource,
              test::SourceText::train(
                  {"segnale, 2100, 2, 4,0,0, 0, 2, 2,0,0, 0", "abbattimento, 2150, 270"}));
  Result r = run_compactor({"compile", dir.str(), "--write-on-error"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("error 7"), std::string::npos) << r.err;
  const std::set<std::string> names = names_in(dir.path());
  EXPECT_EQ(names.count(kGrid), 1u);
  EXPECT_EQ(names.count(kRecords), 1u);
  EXPECT_EQ(read_bytes(dir.path() / kGrid).size(), 541u * 15);
  // No station and no board text: 87 records of 34 bytes and the two identity texts.
  EXPECT_EQ(read_bytes(dir.path() / kRecords).size(), 2972u);
}

TEST(Compile, DeletesOnlyTheSourcesThatWereRead) {
  // A line reader stopping on error 21 leaves the train source unread; one ending on error 15
  // goes on to the train source. The line source holds the error and stays either way.
  struct Case {
    std::vector<std::string> features;
    std::string error;
    std::set<std::string> sources_left;
  };
  const std::string board = "indicatori_vmax, 1000, 0,0,0, 0, 100,100,100, 0";
  const Case cases[] = {
      {{board, board}, "error 21", {kLineSource, kTrainSource}},
      {{"pendenza, 999999, 0"}, "error 15", {kLineSource}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScratchDir dir;
    write_bytes(dir.path() / kLineSource, test::SourceText::line(20000, c.features));
    write_bytes(dir.path() / kTrainSource, test::SourceText::train({"sabbia, 1"}));
    Result r = run_compactor(
        {"compile", dir.str(), "--delete-sources", "--no-plan", "--write-on-error"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    std::set<std::string> expected = c.sources_left;
    expected.insert({kRecords, kGrid});
    EXPECT_EQ(names_in(dir.path()), expected);
  }
}

TEST(Compile, LineIdOfSixtyFourBytesIsAccepted) {
  ScratchDir dir;
  const std::string id(64, 'L');
  write_bytes(dir.path() / (id + "_linea.txt"), kSmallLine);
  write_bytes(dir.path() / (id + "_7-.txt"), test::SourceText::train({"sabbia, 1"}));
  Result r = run_compactor({"compile", dir.str(), "--line-id", id, "--train", "7"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.path() / (id + "_7.dat")));
  EXPECT_TRUE(fs::exists(dir.path() / (id + "_7.sim")));
}

TEST(CommandLine, UsageErrorsExitTwoAndWriteNothing) {
  ScratchDir dir;
  const std::string d = dir.str();
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"-x"},
      {"frobnicate", d},
      {"compile"},
      {"sources"},
      {"--dir"},
      {"compile", d, "extra"},
      {"compile", d, "--line-id"},
      {"compile", d, "--train"},
      {"compile", d, "--line-id", ""},
      {"compile", d, "--line-id", std::string(65, 'L')},
      {"compile", d, "--line-id", "a/b"},
      {"compile", d, "--line-id", "."},
      {"compile", d, "--line-id", ".."},
      {"compile", d, "--train", ""},
      {"compile", d, "--train", "x/y"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const std::string& a : args) shown += "[" + a + "] ";
    SCOPED_TRACE(shown);
    Result r = run_compactor(args);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
    EXPECT_TRUE(names_in(dir.path()).empty());
  }
}

}  // namespace

#endif  // _WIN32
