// compactor view: the data embedded in the page, the thinning of the plan, the diagnostics of the
// sources and the command.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include "tools/view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <string>

#include "bench/generate.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "tests/test_support.h"
#include "tools/check.h"
#include "tools/dump.h"

namespace compactor {
namespace {

using test::default_model;
using test::default_run;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

// The numbers of the JSON list that follows `key` (as "\"key\":[") after `from` in `json`.
std::vector<int64_t> json_list(const std::string& json, const std::string& key,
                               const std::string& from = "") {
  const size_t start = json.find(from);
  const size_t at = json.find("\"" + key + "\":[", start == std::string::npos ? 0 : start);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no list " << key;
    return {};
  }
  std::vector<int64_t> out;
  size_t i = json.find('[', at) + 1;
  while (i < json.size() && json[i] != ']') {
    size_t used = 0;
    out.push_back(std::stoll(json.substr(i, 24), &used));
    i += used;
    if (json[i] == ',') ++i;
  }
  return out;
}

std::vector<int64_t> expand(const std::vector<int64_t>& runs) {
  std::vector<int64_t> out;
  for (size_t i = 0; i + 1 < runs.size(); i += 2) out.insert(out.end(), runs[i + 1], runs[i]);
  return out;
}

ViewData default_view_data() {
  ViewData data;
  data.line_id = "QUELDRANO 2";
  data.train_number = "555";
  const Model& m = default_model();
  data.items = m.items;
  data.cells = m.track_grid;
  DecodeError error;
  data.plan = decode_line(encode_line_output(m), error);
  return data;
}

// --- Small pieces -----------------------------------------------------------------------------

TEST(ViewTest, RecordPositionReadsTheFirstValueAfterTheKeyword) {
  struct Case {
    const char* source;
    int64_t offset;
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {"montagan,   30000,  30600,  2\r\n", 0, 30000},
      {"x\r\nsegnale, 53500, 2\r\n", 3, 53500},
      {"orologio,    19   7   30\r\n", 0, 19},
      {"pendenza, 228000\r\n", 0, 228000},  // the limit itself
      {"pendenza, 228001\r\n", 0, std::nullopt},
      {"pendenza, -50, 3\r\n", 0, std::nullopt},
      {"pendenza, 12.5, 3\r\n", 0, std::nullopt},
      {"pendenza, abc\r\n", 0, std::nullopt},
      {"pendenza,\r\n", 0, std::nullopt},
      {"stray field\r\n50, 2\r\n", 0, std::nullopt},  // the line ends before any comma
      {"montagna, 100", 0, 100},                      // the end of the file ends the number
      {"montagna, 100", 40, std::nullopt},            // an offset past the end
      {"montagna, 100", -1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(record_position(c.source, c.offset, 228000), c.expected) << c.source;
  }
}

TEST(ViewTest, RunLengthsRoundTrip) {
  const std::vector<std::vector<int64_t>> cases = {
      {}, {7}, {1, 1, 1}, {0, 0, 5, 5, 5, 0, -3}, {1, 2, 3, 4}};
  for (const auto& values : cases) {
    const std::vector<int64_t> runs = run_lengths(values);
    EXPECT_EQ(expand(runs), values);
    for (size_t i = 2; i < runs.size(); i += 2) EXPECT_NE(runs[i], runs[i - 2]);
  }
  EXPECT_EQ(run_lengths({0, 0, 5, 5, 5, 0, -3}), (std::vector<int64_t>{0, 2, 5, 3, 0, 1, -3, 1}));
}

// --- Thinning the plan ------------------------------------------------------------------------

double point_to_segment(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

TEST(ViewTest, PlanLevelsStayWithinTheirToleranceOfEveryMetre) {
  const Model& m = default_model();
  DecodeError error;
  const std::optional<Plan> plan = decode_line(encode_line_output(m), error);
  ASSERT_TRUE(plan.has_value());
  const std::vector<double> tolerances = {0.005, 0.05, 0.5, 5, 50};
  const std::vector<PlanLevel> levels = plan_levels(*plan, tolerances);
  ASSERT_EQ(levels.size(), tolerances.size());
  // The last two metres of the plan are empty: the last point kept is the one before them.
  const int64_t last = static_cast<int64_t>(plan->x.size()) - 3;
  double bound = 0;
  size_t previous_count = plan->x.size();
  std::set<int64_t> finer(levels[0].metres.begin(), levels[0].metres.end());
  for (const PlanLevel& level : levels) {
    bound += level.tolerance;  // each level is thinned from the one before it
    ASSERT_GE(level.metres.size(), 2u);
    EXPECT_EQ(level.metres.front(), 0);
    EXPECT_EQ(level.metres.back(), last);
    EXPECT_LT(level.metres.size(), previous_count) << level.tolerance;
    previous_count = level.metres.size();
    for (int64_t kept : level.metres) EXPECT_TRUE(finer.count(kept)) << kept;
    finer = std::set<int64_t>(level.metres.begin(), level.metres.end());
    double worst = 0;
    for (size_t k = 0; k + 1 < level.metres.size(); ++k) {
      const size_t a = static_cast<size_t>(level.metres[k]);
      const size_t b = static_cast<size_t>(level.metres[k + 1]);
      for (size_t i = a; i <= b; ++i) {
        worst = std::max(worst, point_to_segment(plan->x[i].number(), plan->y[i].number(),
                                                 plan->x[a].number(), plan->y[a].number(),
                                                 plan->x[b].number(), plan->y[b].number()));
      }
    }
    EXPECT_LE(worst, bound + 1e-9) << level.tolerance;
  }
  // The default line has curves: the finest level keeps points inside them, but far fewer than
  // one a metre.
  EXPECT_GT(levels[0].metres.size(), 100u);
  EXPECT_LT(levels[0].metres.size(), plan->x.size() / 20);
}

TEST(ViewTest, PlanLevelsOfSmallPlans) {
  auto straight = [](int metres) {
    Plan p;
    for (int m = 0; m < metres; ++m) {
      p.x.push_back(TaggedValue::Double(0));
      p.y.push_back(TaggedValue::Double(m));
    }
    return p;
  };
  // A straight line keeps its ends only.
  std::vector<PlanLevel> levels = plan_levels(straight(1000), {0.01, 1});
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(levels[0].metres, (std::vector<int64_t>{0, 999}));
  // A right-angle corner at metre 500, 354 m from the line between the ends: kept by a fine
  // level and dropped by one coarse enough that a stroke from the start reaches the end (the
  // thinning looks ahead from each kept point, so it keeps the corner at 400 m).
  Plan corner = straight(1000);
  for (int m = 501; m < 1000; ++m) {
    corner.x[static_cast<size_t>(m)] = TaggedValue::Double(m - 500);
    corner.y[static_cast<size_t>(m)] = TaggedValue::Double(500);
  }
  levels = plan_levels(corner, {0.5, 600});
  EXPECT_EQ(levels[0].metres, (std::vector<int64_t>{0, 500, 999}));
  EXPECT_EQ(levels[1].metres, (std::vector<int64_t>{0, 999}));
  // Empty metres are left out; fewer than two points give no level.
  Plan gaps = straight(10);
  gaps.x[9] = TaggedValue{};
  gaps.y[3] = TaggedValue{};
  EXPECT_EQ(plan_levels(gaps, {0.01})[0].metres, (std::vector<int64_t>{0, 8}));
  EXPECT_TRUE(plan_levels(straight(1), {0.01}).empty());
}

// Values the page cannot draw (not finite, or further out than any line reaches) are gaps, and
// a few of them do not make the thinning slow: it takes one pass over the points whatever their
// values.
TEST(ViewTest, PlanValuesThePageCannotDrawAreGapsAndCostNoTime) {
  Plan plan;
  const size_t count = 1000000;
  for (size_t m = 0; m < count; ++m) {
    plan.x.push_back(TaggedValue::Double(std::sin(static_cast<double>(m) / 5000) * 3000));
    plan.y.push_back(TaggedValue::Double(static_cast<double>(m)));
  }
  const std::pair<size_t, double> wild[] = {
      {100, 1e308}, {200, -1e308}, {300, 1e300}, {400, -1e300}, {500, 2e9},
      {600, std::numeric_limits<double>::infinity()}, {700, std::nan("")},
      {500000, 1e308}, {900000, 1e308}};
  for (const auto& [m, value] : wild) plan.x[m] = TaggedValue::Double(value);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<PlanLevel> levels = plan_levels(plan, {0.005, 0.05, 0.5, 5, 50});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);  // a few tenths; minutes when each huge value cost a pass
  ASSERT_EQ(levels.size(), 5u);
  for (const PlanLevel& level : levels) {
    for (const auto& [m, value] : wild) {
      EXPECT_FALSE(std::binary_search(level.metres.begin(), level.metres.end(),
                                      static_cast<int64_t>(m)))
          << m << " at " << level.tolerance;
    }
  }
  // On the page, every coordinate is a whole number of millimetres that fits: the deltas add up
  // to values within the plan's span.
  ViewData data = default_view_data();
  data.plan = plan;
  const std::string json = view_json(data);
  for (const char* axis : {"x", "y"}) {
    int64_t at = 0;
    for (int64_t delta : json_list(json, axis, "\"levels\"")) {
      at += delta;
      EXPECT_LE(std::llabs(at), int64_t{1000001000}) << axis;
    }
  }
}

// A valid line of 1,000,000 m with a tight curve every kilometre: the page stays within the size
// of the large scenario's, its finest levels left out where they would hold too many points.
TEST(ViewTest, ACurvyLineGivesAPageNoLargerThanTheLargeScenario) {
  auto page_of = [](const bench::ScenarioShape& shape) {
    const bench::GeneratedSources sources = bench::generate_scenario(shape);
    test::Compiled r = test::compile_in_memory(sources.line, sources.train);
    ViewData data;
    data.items = r.m.items;
    data.cells = r.m.track_grid;
    DecodeError error;
    data.plan = decode_line(encode_line_output(r.m), error);
    return view_html(data);
  };
  bench::ScenarioShape curvy;
  curvy.curves = 1000;
  curvy.curve_class = 6;
  curvy.curve_length = 900;
  const std::string large_page = page_of(bench::ScenarioShape{});
  const std::string curvy_page = page_of(curvy);
  EXPECT_LE(curvy_page.size(), large_page.size());
  const size_t levels = curvy_page.find("\"levels\":[");
  ASSERT_NE(levels, std::string::npos);
  EXPECT_EQ(curvy_page.find("{\"tolerance\":0.005,", levels), std::string::npos);
}

// The page's plan keeps to its number of points whatever the line: the finest levels go, and
// coarser ones come when even the coarsest holds too many.
TEST(ViewTest, PlanLevelsKeepToTheirNumberOfPoints) {
  Plan zigzag;  // every point a corner 200 m from the line through its neighbours
  for (int m = 0; m < 20000; ++m) {
    zigzag.x.push_back(TaggedValue::Double(m % 2 == 0 ? 0 : 400));
    zigzag.y.push_back(TaggedValue::Double(m));
  }
  const std::vector<PlanLevel> all = plan_levels(zigzag, {0.5, 5, 50});
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all.back().metres.size(), 20000u);
  const std::vector<PlanLevel> kept = plan_levels(zigzag, {0.5, 5, 50}, 5000);
  size_t total = 0;
  for (const PlanLevel& level : kept) total += level.metres.size();
  EXPECT_LE(total, 5000u);
  ASSERT_FALSE(kept.empty());
  EXPECT_GT(kept.front().tolerance, 50);  // levels were added at 500 m, 5000 m, ...
  EXPECT_EQ(kept.front().metres.front(), 0);
  EXPECT_EQ(kept.front().metres.back(), 19999);
}

// --- The page -----------------------------------------------------------------------------------

TEST(ViewTest, PageEmbedsTheGridAndRecordsAsDumpNamesThem) {
  ViewData data = default_view_data();
  const std::string json = view_json(data);
  const std::vector<TrackCell>& cells = data.cells;
  // Every field of every cell, in the order and under the names of dump's JSON.
  const std::string dumped = dump_grid(cells, cells.size() * kCellBytes, true);
  const size_t first_cell = dumped.find("\"kind_name\"");
  size_t previous = 0;
  for (const char* field : {"param1", "param2", "param3", "param4", "signal_time", "approach_code",
                            "tunnel_type", "speed_limit", "gradient_code", "adhesion"}) {
    std::string key = "\"";
    key.append(field).append("\"");
    const size_t at = dumped.find(key, first_cell);
    EXPECT_GT(at, previous) << field;
    previous = at;
  }
  auto column = [&](auto field) {
    std::vector<int64_t> v;
    for (const TrackCell& c : cells) v.push_back(field(c));
    return v;
  };
  EXPECT_EQ(expand(json_list(json, "kind", "\"grid\"")),
            column([](const TrackCell& c) { return c.kind; }));
  EXPECT_EQ(expand(json_list(json, "param1", "\"grid\"")),
            column([](const TrackCell& c) { return c.param1; }));
  EXPECT_EQ(expand(json_list(json, "adhesion", "\"grid\"")),
            column([](const TrackCell& c) { return c.adhesion; }));
  // The limit in force is the cells' limit but under the slow orders.
  const std::vector<int64_t> in_force = expand(json_list(json, "limitInForce"));
  ASSERT_EQ(in_force.size(), cells.size());
  EXPECT_EQ(in_force[391], 40);  // inside the first slow order (cells 390 to 396, 40 km/h)
  EXPECT_EQ(in_force[389], cells[389].speed_limit * 5);
  // The stations, by record, and the thinned plan.
  const std::vector<int64_t> stations = json_list(json, "stations");
  EXPECT_EQ(stations.size(), 26u);
  EXPECT_EQ(stations.front(), 1);
  EXPECT_NE(json.find("[1,\"station\",8,-500,500,0,0,\"ROMA TERMINI"), std::string::npos);
  EXPECT_NE(json.find("\"tolerance\":0.005,\"metre\":[0,"), std::string::npos);
  EXPECT_NE(json.find("\"sources\":null"), std::string::npos);
}

TEST(ViewTest, TextsCannotEndTheScriptAndEveryPlaceHolderIsFilled) {
  ViewData data = default_view_data();
  data.items[1].text = "A</script><script>alert(1)</script> \xC8";
  data.line_id = "L<1>";
  const std::string page = view_html(data);
  const size_t data_start = page.find("<script type=\"application/json\" id=\"scenario-data\">");
  ASSERT_NE(data_start, std::string::npos);
  const size_t data_end = page.find("</script>", data_start);
  const std::string embedded = page.substr(data_start, data_end - data_start);
  EXPECT_EQ(embedded.find('<', 1), std::string::npos);
  EXPECT_NE(embedded.find("\"A\\u003C/script>\\u003Cscript>alert(1)\\u003C/script> \\u00C8\""),
            std::string::npos);
  EXPECT_NE(page.find("<title>L&lt;1&gt;, train 555</title>"), std::string::npos);
  EXPECT_NE(page.find("<h1 id=\"title\">L&lt;1&gt;, train 555</h1>"), std::string::npos);
  for (const char* mark :
       {"@TITLE@", "@HEADING@", "@FACTS@", "@DATA@", "/*@STYLE@*/", "/*@SCRIPT@*/"}) {
    EXPECT_EQ(page.find(mark), std::string::npos) << mark;
  }
  // The page needs nothing from outside.
  for (const char* outside : {"http://", "https://", "src=", "<link"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  // Only the page's own scripts: the format's facts, the data and the script.
  size_t scripts = 0;
  for (size_t at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1)) {
    ++scripts;
  }
  EXPECT_EQ(scripts, 3u);
}

// --- The sources' diagnostics and their code points --------------------------------------------

TEST(ViewTest, DiagnosticsArePlacedOnTheLine) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  Sources s;
  s.line.name = test::kLineSource;
  s.train.name = test::kTrainSource;
  std::string line = read_bytes(dir.file(test::kLineSource));
  std::string train = read_bytes(dir.file(test::kTrainSource));
  // A misspelt tunnel and a slow order that ends on a signal's cell, as in the README.
  line.insert(line.find("\r\n", line.find("montagna")) + 2, "montagan,   30000,  30600,  2\r\n");
  const size_t second = train.find("rallentamento", train.find("rallentamento") + 1);
  train.insert(train.find("\r\n", second) + 2, "rallentamento,   52000,    60, 1500, 0,  1,  0\r\n");
  s.line.bytes = line;
  s.train.bytes = train;
  Model names;
  names.line_id = "QUELDRANO 2";
  names.train_number = "555";
  const SourceReport report = report_sources(names, true, s);
  ASSERT_EQ(report.diagnostics.size(), 2u);
  // The misspelt keyword is an error of the program's own; the slow order's is the compile's.
  const SourceDiagnostic& warning = report.diagnostics[0];
  EXPECT_TRUE(warning.is_error);
  EXPECT_EQ(warning.message.rfind("error unknown-keyword: ", 0), 0u) << warning.message;
  EXPECT_EQ(warning.pos.file, test::kLineSource);
  EXPECT_EQ(warning.metre, 30000);
  EXPECT_NE(warning.shown.find("montagan,   30000"), std::string::npos);
  const SourceDiagnostic& error = report.diagnostics[1];
  EXPECT_TRUE(error.is_error);
  EXPECT_EQ(error.metre, 53500);
  EXPECT_EQ(error.message, "error 16: signal on an occupied cell (at 53500 m)");
  EXPECT_EQ(error.pos.line, 101);

  // A source without a line length: the error has neither a position nor a record to read it
  // from.
  Sources no_length = s;
  no_length.line.bytes = "[generale]\r\n[fine]\r\n";
  const SourceReport none = report_sources(names, true, no_length);
  ASSERT_FALSE(none.diagnostics.empty());
  EXPECT_TRUE(none.diagnostics.back().is_error);
  EXPECT_EQ(none.diagnostics.back().metre, std::nullopt);
}

// The page lists as many warnings as check shows and counts the rest, so that a source of
// millions of stray lines costs no memory for them.
TEST(ViewTest, WarningsPastThoseShownAreCounted) {
  std::string train = test::SourceText::default_train();
  std::string strays;
  // Adhesion changes off the 50 m grid: a warning each.
  for (int i = 0; i < 250; ++i)
    strays += "aderenza, " + std::to_string(200001 + 50 * i) + ", 80\r\n";
  train.insert(train.find("[fine]"), strays);
  Sources s;
  s.line = {test::kLineSource, test::SourceText::default_line().text(), false};
  s.train = {test::kTrainSource, train, false};
  Model names;
  names.line_id = "QUELDRANO 2";
  names.train_number = "555";
  const SourceReport report = report_sources(names, true, s);
  EXPECT_EQ(report.diagnostics.size(), kShownWarnings);
  EXPECT_EQ(report.warnings_not_shown, 250u - kShownWarnings);
  ViewData data;
  data.sources = report;
  EXPECT_NE(view_html(data).find("\"warningsNotShown\":50"), std::string::npos);
}

TEST(ViewTest, WrittenCodePointsAreTheTrainSourcesOwn) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  Sources s;
  s.line = {test::kLineSource, read_bytes(dir.file(test::kLineSource)), false};
  s.train = {test::kTrainSource, read_bytes(dir.file(test::kTrainSource)), false};
  Model names;
  names.line_id = "QUELDRANO 2";
  names.train_number = "555";
  const SourceReport report = report_sources(names, true, s);
  EXPECT_TRUE(report.diagnostics.empty());
  // One written point for each abbattimento record of the train source.
  size_t records = 0;
  for (size_t at = s.train.bytes->find("\nabbattimento"); at != std::string::npos;
       at = s.train.bytes->find("\nabbattimento", at + 1)) {
    ++records;
  }
  EXPECT_GT(records, 0u);
  EXPECT_EQ(report.written_code_cells.size(), records);
  // Every other code point of the compiled grid came from the cab-code pass, with its code.
  const std::vector<TrackCell>& cells = default_model().track_grid;
  const std::set<int> written(report.written_code_cells.begin(), report.written_code_cells.end());
  size_t inserted = 0;
  for (size_t c = 0; c < cells.size(); ++c) {
    if (cells[c].kind != kCodePoint || written.count(static_cast<int>(c))) continue;
    EXPECT_EQ(cells[c].param1, 180) << c;
    ++inserted;
  }
  EXPECT_GT(inserted, 0u);
}

// --- The command --------------------------------------------------------------------------------

TEST(ViewTest, CommandWritesThePageAndSaysWhenTheOutputsAreOld) {
  ScratchDir dir;
  for (const std::string& name : {test::kRecords, test::kGrid, test::kPlan}) {
    write_bytes(dir.file(name), read_bytes(default_run().file(name)));
  }
  Result r = run_compactor({"view", dir.str()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string path = dir.file("QUELDRANO 2_555.html");
  EXPECT_EQ(r.out.rfind("wrote " + path + " (", 0), 0u) << r.out;
  const std::string page = read_bytes(path);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("\"sources\":null"), std::string::npos);
  EXPECT_NE(page.find("\"stale\":false"), std::string::npos);

  // Sources written after the outputs: a warning, the page says so, and it holds their report.
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (const std::string& name : {test::kRecords, test::kGrid, test::kPlan}) {
    std::filesystem::last_write_time(dir.file(name), old);
  }
  Result stale = run_compactor({"view", dir.str(), "-o", dir.file("v.html")});
  ASSERT_EQ(stale.exit_status, 0) << stale.err;
  EXPECT_NE(stale.err.find("older than the sources"), std::string::npos) << stale.err;
  const std::string stale_page = read_bytes(dir.file("v.html"));
  EXPECT_NE(stale_page.find("\"stale\":true"), std::string::npos);
  EXPECT_NE(stale_page.find("\"sources\":{\"diagnostics\":[],\"writtenCodeCells\":["),
            std::string::npos);
  Result quiet = run_compactor({"view", dir.str(), "-q", "--no-plan", "-o", dir.file("q.html")});
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  EXPECT_NE(read_bytes(dir.file("q.html")).find("\"plan\":null"), std::string::npos);

  // Usage errors, and outputs that are not there.
  EXPECT_EQ(run_compactor({"view"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"view", dir.str(), "--bogus"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"view", dir.str(), "--train", "a/b"}).exit_status, 2);
  ScratchDir empty;
  EXPECT_EQ(run_compactor({"view", empty.str()}).exit_status, 3);
  EXPECT_FALSE(std::filesystem::exists(empty.file("QUELDRANO 2_555.html")));
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
