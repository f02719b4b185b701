// compactor plot: the picture of a compiled scenario, and the pieces it is made from.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include "tools/plot.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <set>
#include <string>

#include "format/decode.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::default_model;
using test::default_run;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

// --- A small XML well-formedness check -------------------------------------------------------

// "" when the text is one well-formed XML element (after an optional declaration), else why not:
// tags nest and match, attribute values are quoted, names are not repeated within a tag, and
// every "&" starts a known entity or a character reference.
std::string xml_problem(const std::string& s) {
  size_t i = 0;
  auto at_offset = [&](const std::string& why) { return why + " at offset " + std::to_string(i); };
  auto name_char = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' ||
           c == '.';
  };
  auto entity_ok = [&](size_t amp) {
    size_t semi = s.find(';', amp);
    if (semi == std::string::npos || semi - amp > 10) return false;
    std::string e = s.substr(amp + 1, semi - amp - 1);
    if (e == "amp" || e == "lt" || e == "gt" || e == "quot" || e == "apos") return true;
    if (e.size() >= 2 && e[0] == '#') {
      bool hex = e[1] == 'x';
      std::string digits = e.substr(hex ? 2 : 1);
      if (digits.empty()) return false;
      for (char c : digits) {
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
                  : std::isdigit(static_cast<unsigned char>(c)))) {
          return false;
        }
      }
      return true;
    }
    return false;
  };
  if (s.compare(0, 5, "<?xml") == 0) {
    i = s.find("?>");
    if (i == std::string::npos) return "unterminated declaration";
    i += 2;
  }
  std::vector<std::string> open;
  int roots = 0;
  while (i < s.size()) {
    if (s[i] != '<') {
      if (s[i] == '&' && !entity_ok(i)) return at_offset("bad entity");
      if (open.empty() && !std::isspace(static_cast<unsigned char>(s[i]))) {
        return at_offset("text outside the root element");
      }
      ++i;
      continue;
    }
    if (s.compare(i, 4, "<!--") == 0) {
      size_t end = s.find("-->", i);
      if (end == std::string::npos) return at_offset("unterminated comment");
      i = end + 3;
      continue;
    }
    bool closing = i + 1 < s.size() && s[i + 1] == '/';
    i += closing ? 2 : 1;
    size_t name_start = i;
    while (i < s.size() && name_char(s[i])) ++i;
    std::string name = s.substr(name_start, i - name_start);
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) {
      return at_offset("bad tag name");
    }
    if (closing) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= s.size() || s[i] != '>') return at_offset("bad closing tag");
      if (open.empty() || open.back() != name) return at_offset("</" + name + "> does not match");
      open.pop_back();
      ++i;
      continue;
    }
    std::set<std::string> attributes;
    for (;;) {
      size_t before = i;
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= s.size()) return at_offset("unterminated tag");
      if (s[i] == '>' || s.compare(i, 2, "/>") == 0) break;
      if (i == before) return at_offset("no blank before an attribute");
      size_t a = i;
      while (i < s.size() && name_char(s[i])) ++i;
      std::string attr = s.substr(a, i - a);
      if (attr.empty()) return at_offset("bad attribute name");
      if (!attributes.insert(attr).second) return at_offset("repeated attribute " + attr);
      if (i >= s.size() || s[i] != '=') return at_offset("attribute without a value");
      ++i;
      if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return at_offset("unquoted value");
      char quote = s[i++];
      while (i < s.size() && s[i] != quote) {
        if (s[i] == '<') return at_offset("'<' in an attribute value");
        if (s[i] == '&' && !entity_ok(i)) return at_offset("bad entity in an attribute");
        ++i;
      }
      if (i >= s.size()) return at_offset("unterminated attribute value");
      ++i;
    }
    bool empty = s[i] == '/';
    i += empty ? 2 : 1;
    if (open.empty() && ++roots > 1) return at_offset("a second root element");
    if (!empty) open.push_back(name);
  }
  if (!open.empty()) return "<" + open.back() + "> is never closed";
  if (roots != 1) return "no root element";
  return "";
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(PlotTest, XmlCheckCanFail) {
  EXPECT_EQ(xml_problem("<?xml version=\"1.0\"?>\n<svg a=\"1\"><g/><text>x &amp; y</text></svg>\n"),
            "");
  for (const char* bad :
       {"<svg><g></svg>", "<svg a=1/>", "<svg a=\"1\" a=\"2\"/>", "<svg>x & y</svg>",
        "<svg/><svg/>", "<svg><text>a</g></svg>", "<svg a=\"<\"/>", "<svg"}) {
    EXPECT_NE(xml_problem(bad), "") << bad;
  }
}

// --- Pieces ---------------------------------------------------------------------------------

TEST(PlotTest, TunnelsAndSlowOrdersOfTheDefaultGrid) {
  const std::vector<TrackCell>& cells = default_model().track_grid;
  std::vector<CellRun> tunnels = tunnel_runs(cells);
  ASSERT_EQ(tunnels.size(), 8u);
  // 9500 to 9550 covers cell 190 alone; 78000-78800 and 78900-80300 stay two tunnels.
  EXPECT_EQ(tunnels[0].first, 190);
  EXPECT_EQ(tunnels[0].last, 190);
  EXPECT_EQ(tunnels[1].first, 1560);
  EXPECT_EQ(tunnels[1].last, 1575);
  EXPECT_EQ(tunnels[2].first, 1578);
  EXPECT_EQ(tunnels[2].last, 1605);

  std::vector<SlowOrderSpan> orders = slow_orders(cells);
  ASSERT_EQ(orders.size(), 4u);
  const int expected[4][2] = {{390, 396}, {747, 751}, {2386, 2390}, {3897, 3912}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(orders[i].cells.first, expected[i][0]);
    EXPECT_EQ(orders[i].cells.last, expected[i][1]);
  }
  EXPECT_EQ(orders[0].speed, 40);
}

TEST(PlotTest, RunsOnASmallGrid) {
  std::vector<TrackCell> cells(10);
  cells[2].tunnel_type = 2;
  cells[3].tunnel_type = 3;  // another type right after: still one tunnel
  cells[5].tunnel_type = 1;
  cells[6].kind = kSlowOrderStart;
  cells[6].param1 = 30;
  cells[8].kind = kSlowOrderStart;  // no end after it: runs to the last cell
  std::vector<CellRun> t = tunnel_runs(cells);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].first, 2);
  EXPECT_EQ(t[0].last, 3);
  EXPECT_EQ(t[1].first, 5);
  EXPECT_EQ(t[1].last, 5);
  std::vector<SlowOrderSpan> o = slow_orders(cells);
  ASSERT_EQ(o.size(), 2u);
  EXPECT_EQ(o[0].cells.last, 9);  // the next start is not an end
  EXPECT_EQ(o[0].speed, 30);
  EXPECT_EQ(o[1].cells.first, 8);
  EXPECT_EQ(o[1].cells.last, 9);
}

TEST(PlotTest, SpreadLabelsKeepsThemApartAndInside) {
  struct Case {
    std::vector<double> anchors;
    double lo, hi;
  };
  const double w = 10;
  const Case cases[] = {
      {{0 + 50, 100, 200}, 0, 300},         // far apart: unchanged
      {{100, 101, 102, 103}, 0, 300},       // a cluster: spread around its mean
      {{5, 6, 7}, 0, 300},                  // at the low edge
      {{295, 296, 297, 298}, 0, 300},       // at the high edge
      {{10, 12, 100, 104, 106}, 0, 300},    // two clusters
      {{50, 50, 50, 50, 50, 50}, 30, 120},  // identical anchors
  };
  for (const Case& c : cases) {
    std::vector<double> got = spread_labels(c.anchors, w, c.lo, c.hi);
    ASSERT_EQ(got.size(), c.anchors.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_GE(got[i] - w / 2, c.lo - 1e-9);
      EXPECT_LE(got[i] + w / 2, c.hi + 1e-9);
      if (i > 0) {
        EXPECT_GE(got[i] - got[i - 1], w - 1e-9) << "labels " << i - 1 << ", " << i;
      }
      // Nobody is pushed further than the crowd around it requires.
      EXPECT_LE(std::abs(got[i] - c.anchors[i]), w * c.anchors.size());
    }
  }
  EXPECT_EQ(spread_labels({50, 100, 200}, w, 0, 300), (std::vector<double>{50, 100, 200}));
  std::vector<double> cluster = spread_labels({100, 101, 102, 103}, w, 0, 300);
  EXPECT_DOUBLE_EQ((cluster.front() + cluster.back()) / 2, 101.5);
}

// No two labels overlap, none overlaps an obstacle, no leader line (anchor to leader_end) passes
// through another label, and every label is inside the area.
void expect_clear_labels(const std::vector<std::array<double, 2>>& anchors,
                         const std::vector<Box>& boxes, const std::vector<Box>& obstacles,
                         const Box& area) {
  ASSERT_EQ(boxes.size(), anchors.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_GE(boxes[i].x0, area.x0);
    EXPECT_LE(boxes[i].x1, area.x1);
    for (const Box& o : obstacles) EXPECT_FALSE(overlap(boxes[i], o)) << i;
    for (size_t j = 0; j < boxes.size(); ++j) {
      if (j == i) continue;
      EXPECT_FALSE(overlap(boxes[i], boxes[j])) << i << " " << j;
      EXPECT_FALSE(segment_crosses(anchors[j], leader_end(anchors[j], boxes[j]), boxes[i]))
          << "the leader of " << j << " crosses label " << i;
    }
  }
}

TEST(PlotTest, PlaceLabelsAvoidsLabelsLeadersAndObstacles) {
  const Box area{0, 0, 1000, 400};
  // Eight stations on top of each other, a wall right above them.
  std::vector<std::array<double, 2>> stacked(8, {500, 200});
  const std::vector<Box> wall = {{400, 150, 600, 194}};
  expect_clear_labels(stacked, place_labels(stacked, std::vector<double>(8, 80), 14, wall, 4, area),
                      wall, area);
  // A crowd along a rising track, with long names, as at the east end of the default line.
  std::vector<std::array<double, 2>> crowd;
  std::vector<Box> track;
  for (int k = 0; k < 8; ++k) crowd.push_back({800.0 + 22 * k, 200.0 - 4 * k});
  for (double x = 700; x < 1000; x += 4) track.push_back({x - 2, 200 - (x - 800) / 5.5 - 2, x + 2,
                                                         200 - (x - 800) / 5.5 + 2});
  const std::vector<double> widths = {130, 90, 150, 110, 70, 160, 120, 100};
  expect_clear_labels(crowd, place_labels(crowd, widths, 14, track, 4, area), track, area);
  // A label near the right edge stays inside the area.
  std::vector<Box> edge = place_labels({{{995, 200}}}, {120}, 14, {}, 3, area);
  EXPECT_LE(edge[0].x1, area.x1);
}

TEST(PlotTest, SegmentCrossesTheInsideOfABox) {
  const Box box{10, 10, 20, 20};
  struct Case {
    std::array<double, 2> a, b;
    bool crosses;
  };
  const Case cases[] = {
      {{0, 15}, {30, 15}, true},    // straight through
      {{15, 0}, {15, 15}, true},    // ends inside
      {{0, 0}, {30, 30}, true},     // through a corner's inside
      {{0, 5}, {30, 5}, false},     // above
      {{15, 0}, {15, 10}, false},   // ends on the edge: a leader reaching its own label
      {{0, 10}, {30, 10}, false},   // along the edge
      {{0, 30}, {30, 20.5}, false}, // passes below
      {{14, 14}, {14, 14}, true},   // a point inside
  };
  for (const Case& c : cases) {
    EXPECT_EQ(segment_crosses(c.a, c.b, box), c.crosses)
        << c.a[0] << "," << c.a[1] << " to " << c.b[0] << "," << c.b[1];
  }
}

TEST(PlotTest, LimitInForceUnderSlowOrders) {
  std::vector<TrackCell> cells(12);
  for (TrackCell& c : cells) c.speed_limit = 20;  // 100 km/h
  cells[2].kind = kSlowOrderStart;
  cells[2].param1 = 60;
  cells[5].kind = kSlowOrderEnd;
  cells[7].kind = kSlowOrderStart;  // faster than the limit: the limit stays
  cells[7].param1 = 150;
  cells[8].kind = kSlowOrderEnd;
  cells[9].speed_limit = 6;  // 30 km/h
  cells[9].kind = kSlowOrderStart;  // no end: runs to the last cell
  cells[9].param1 = 40;
  const std::vector<int> expected = {100, 100, 60, 60, 60, 100, 100, 100, 100, 30, 40, 40};
  EXPECT_EQ(limit_in_force(cells), expected);
}

// --- The command ----------------------------------------------------------------------------

TEST(PlotTest, PictureOfTheDefaultScenario) {
  ScratchDir dir;
  for (const std::string& name : {test::kRecords, test::kGrid, test::kPlan}) {
    write_bytes(dir.file(name), read_bytes(default_run().file(name)));
  }
  Result r = run_compactor({"plot", dir.str()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string path = dir.file("QUELDRANO 2_555.svg");
  EXPECT_EQ(r.out.rfind("wrote " + path + " (", 0), 0u) << r.out;
  const std::string svg = read_bytes(path);
  EXPECT_EQ(xml_problem(svg), "");
  EXPECT_EQ(svg.find("<svg "), svg.find('<', svg.find("?>")));

  const Model& m = default_model();
  const std::vector<int> stations = station_indexes(m.items);
  ASSERT_EQ(stations.size(), 26u);
  EXPECT_EQ(count_of(svg, "class=\"station\""), 26u);
  EXPECT_EQ(count_of(svg, "class=\"station-on-plan\""), 26u);
  for (int i : stations) {
    EXPECT_NE(svg.find(">" + m.items[static_cast<size_t>(i)].text + "</text>"), std::string::npos)
        << m.items[static_cast<size_t>(i)].text;
  }
  size_t signal_cells = 0;
  for (const TrackCell& c : m.track_grid) signal_cells += c.kind == kSignal ? 1 : 0;
  EXPECT_EQ(count_of(svg, "class=\"signal\""), signal_cells);
  EXPECT_EQ(count_of(svg, "class=\"tunnel\""), 8u);
  EXPECT_EQ(count_of(svg, "class=\"tunnel-on-plan\""), 8u);
  EXPECT_EQ(count_of(svg, "class=\"slow-order\""), 4u);
  // The limit in force under each slow order, and its speed on top of everything else.
  const size_t in_force = svg.find("<g class=\"limit-in-force\">");
  ASSERT_NE(in_force, std::string::npos);
  EXPECT_EQ(count_of(svg.substr(in_force, svg.find("</g>", in_force) - in_force), "<path "), 4u);
  EXPECT_EQ(count_of(svg, "class=\"slow-order-label\""), 4u);
  EXPECT_NE(svg.find(">40 km/h</text>"), std::string::npos);
  EXPECT_GT(svg.find("<g class=\"slow-order-labels\">"), svg.find("<g class=\"tunnels\">"));
  // Signals, boards and code points in their lanes; code 180 marks an inserted point.
  size_t speed_boards = 0, indication_boards = 0, inserted = 0, written = 0;
  for (const TrackCell& c : m.track_grid) {
    speed_boards += c.kind == kSpeedBoard ? 1 : 0;
    indication_boards += c.kind == kIndicationBoard ? 1 : 0;
    inserted += c.kind == kCodePoint && c.param1 == 180 ? 1 : 0;
    written += c.kind == kCodePoint && c.param1 != 180 ? 1 : 0;
  }
  EXPECT_EQ(count_of(svg, "class=\"signal-mark\""), signal_cells);
  EXPECT_EQ(count_of(svg, "class=\"speed-board\""), speed_boards);
  EXPECT_EQ(count_of(svg, "class=\"indication-board\""), indication_boards);
  EXPECT_EQ(count_of(svg, "class=\"code-point inserted\""), inserted);
  EXPECT_EQ(count_of(svg, "class=\"code-point written\""), written);
  EXPECT_GT(inserted, 0u);
  EXPECT_GT(written, 0u);
  EXPECT_NE(svg.find("gradient (&#8240;)"), std::string::npos);
  EXPECT_NE(svg.find("speed limit (km/h)"), std::string::npos);
  EXPECT_NE(svg.find("distance along the line (km)"), std::string::npos);

  // Without the line output, or with --no-plan: the profiles alone, every station still there.
  Result no_plan = run_compactor({"plot", dir.str(), "--no-plan", "-o", dir.file("p.svg")});
  ASSERT_EQ(no_plan.exit_status, 0) << no_plan.err;
  const std::string profiles = read_bytes(dir.file("p.svg"));
  EXPECT_EQ(xml_problem(profiles), "");
  EXPECT_EQ(count_of(profiles, "class=\"station\""), 26u);
  EXPECT_EQ(count_of(profiles, "class=\"station-on-plan\""), 0u);
  std::filesystem::remove(dir.file(test::kPlan));
  Result missing_line = run_compactor({"plot", dir.str(), "-o", dir.file("q.svg")});
  EXPECT_EQ(missing_line.exit_status, 0);
  EXPECT_NE(missing_line.err.find("drawing the profiles only"), std::string::npos);
  EXPECT_EQ(read_bytes(dir.file("q.svg")), profiles);
}

TEST(PlotTest, NamesAreEscapedAndBrokenOutputsRefused) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const std::string train = dir.file(test::kTrainSource);
  std::string text = read_bytes(train);
  const std::string name = ", LATINA\r\n";
  ASSERT_NE(text.find(name), std::string::npos);
  text.replace(text.find(name), name.size(), ", LATINA & <SUD> \"O'\" \xC8\r\n");
  write_bytes(train, text);
  ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
  Result r = run_compactor({"plot", dir.str(), "-q"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string svg = read_bytes(dir.file("QUELDRANO 2_555.svg"));
  EXPECT_EQ(xml_problem(svg), "");
  EXPECT_NE(svg.find(">LATINA &amp; &lt;SUD&gt; &quot;O&apos;&quot; &#200;</text>"),
            std::string::npos);

  // A grid cut short: exit 1 and no picture; no record output: exit 3.
  ScratchDir broken;
  write_bytes(broken.file(test::kRecords), read_bytes(dir.file(test::kRecords)));
  std::string grid = read_bytes(dir.file(test::kGrid));
  write_bytes(broken.file(test::kGrid), grid.substr(0, grid.size() - 3));
  Result cut = run_compactor({"plot", broken.str(), "--no-plan"});
  EXPECT_EQ(cut.exit_status, 1);
  EXPECT_NE(cut.err.find("at offset 70500"), std::string::npos) << cut.err;
  EXPECT_FALSE(std::filesystem::exists(broken.file("QUELDRANO 2_555.svg")));
  std::filesystem::remove(broken.file(test::kRecords));
  EXPECT_EQ(run_compactor({"plot", broken.str()}).exit_status, 3);
  EXPECT_EQ(run_compactor({"plot", broken.str(), "--line-id", "a/b"}).exit_status, 2);
}

TEST(PlotTest, ReadsTheOutputsNamedAfterTheLineAndTrain) {
  ScratchDir dir;
  write_bytes(dir.file("VALLE_7.sim"), read_bytes(default_run().file(test::kRecords)));
  write_bytes(dir.file("VALLE_7.dat"), read_bytes(default_run().file(test::kGrid)));
  const std::string line = read_bytes(default_run().file(test::kPlan));
  write_bytes(dir.file("VALLE_linea.dat"), line);
  Result r = run_compactor({"plot", dir.str(), "--line-id", "VALLE", "--train", "7"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string svg = read_bytes(dir.file("VALLE_7.svg"));
  EXPECT_NE(svg.find("<title>VALLE, train 7</title>"), std::string::npos);
  EXPECT_EQ(count_of(svg, "class=\"station\""), 26u);
  EXPECT_EQ(count_of(svg, "class=\"station-on-plan\""), 26u);

  // A line output with a tag that is none of 0, 2 and 5 after its last value: exit 1, no picture.
  write_bytes(dir.file("VALLE_linea.dat"), line + std::string("\x07\x00", 2));
  Result bad = run_compactor(
      {"plot", dir.str(), "--line-id", "VALLE", "--train", "7", "-o", dir.file("bad.svg")});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find(dir.file("VALLE_linea.dat") + ": at offset " +
                         std::to_string(line.size()) + ": "),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("bad.svg")));
}

TEST(PlotTest, WarnsWhenTheOutputsAreOlderThanTheSources) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
  Result fresh = run_compactor({"plot", dir.str()});
  ASSERT_EQ(fresh.exit_status, 0);
  EXPECT_EQ(fresh.err, "");
  // The train source edited after the compile.
  const auto later = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
  std::filesystem::last_write_time(dir.file(test::kTrainSource), later);
  Result stale = run_compactor({"plot", dir.str()});
  EXPECT_EQ(stale.exit_status, 0);
  EXPECT_EQ(stale.err, "compactor: the outputs in " + dir.str() +
                           " are older than the sources beside them: they do not show the "
                           "sources' last changes; compile again\n");
  EXPECT_EQ(run_compactor({"plot", dir.str(), "-q"}).err, "");
  // Outputs without their sources: nothing to compare.
  std::filesystem::remove(dir.file(test::kTrainSource));
  std::filesystem::remove(dir.file(test::kLineSource));
  EXPECT_EQ(run_compactor({"plot", dir.str()}).err, "");
}

// -o never replaces what is not a picture: a pipe, a link, or one of the scenario's own files
// stays as it was, and the command fails.
TEST(PlotTest, OutputThatIsNotAPictureIsRefused) {
  ScratchDir dir;
  ScratchDir elsewhere;  // the pipe and the link, where snapshots do not open them
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  ASSERT_EQ(run_compactor({"compile", dir.str()}).exit_status, 0);
  ASSERT_EQ(mkfifo(elsewhere.file("pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.file(test::kNotes), elsewhere.file("link.svg"));
  // A second name of a source: another path, the same file.
  std::filesystem::create_hard_link(dir.file(test::kTrainSource), elsewhere.file("hard.svg"));
  const auto before = snapshot(dir.path(), test::Contents::kDigest);
  for (const std::string& target : {elsewhere.file("pipe"), elsewhere.file("link.svg"),
                                    elsewhere.file("hard.svg"), dir.file(test::kLineSource),
                                    dir.file(test::kRecords)}) {
    SCOPED_TRACE(target);
    for (const char* command : {"plot", "view"}) {
      Result r = run_compactor({command, dir.str(), "-o", target});
      EXPECT_EQ(r.exit_status, 3) << r.err;
      EXPECT_NE(r.err.find("cannot write " + target), std::string::npos) << r.err;
    }
  }
  EXPECT_TRUE(std::filesystem::is_fifo(elsewhere.file("pipe")));
  EXPECT_TRUE(std::filesystem::is_symlink(elsewhere.file("link.svg")));
  EXPECT_EQ(snapshot(dir.path(), test::Contents::kDigest), before);
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
