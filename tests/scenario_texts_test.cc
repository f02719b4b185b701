// The five texts of the default scenario: their lines, layouts and names, and writing them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/build_run.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

// The lines of a written text, checked to end every line with CR LF and to hold no other line
// break.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "text does not end with CR LF";
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line break: " << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> written_lines(const std::vector<std::string>& table) {
  return split_lines(text_from_table(table));
}

// Splits a grid line at every "|"; the first piece is what stands before the first bar.
std::vector<std::string> cells_of(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, '|')) cells.push_back(cell);
  return cells;
}

// Columns of the bars of a grid line that starts with one blank and has cells of these widths.
std::vector<size_t> bar_columns(const std::vector<size_t>& widths) {
  std::vector<size_t> columns{1};
  for (size_t w : widths) columns.push_back(columns.back() + w + 1);
  return columns;
}

std::vector<size_t> bars_in(const std::string& line) {
  std::vector<size_t> columns;
  for (size_t i = 0; i < line.size(); ++i)
    if (line[i] == '|') columns.push_back(i);
  return columns;
}

bool is_blank(const std::string& s) {
  return s.find_first_not_of(' ') == std::string::npos;
}

// A number right-aligned in exactly `width` characters.
bool right_aligned_number(const std::string& field, size_t width) {
  static const std::regex number(" *-?[0-9]+");
  return field.size() == width && field.back() != ' ' && std::regex_match(field, number);
}

Model scenario_model() {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  return m;
}

struct FileCase {
  const char* name;
  std::vector<std::string> (*table)();
  size_t lines;
  size_t bytes;
  const char* first;
  const char* last;
};

const FileCase kFiles[] = {
    {"linea", line_source_table, 252, 7634, "[generale]", "[fine]"},
    {"treno", train_source_table, 212, 10231, "[generale]", "[fine]"},
    {"note", notes_table, 1, 65, "Treno Intercity 'VESUVIO' con fermate a LATINA, FORMIA e AVERSA",
     "Treno Intercity 'VESUVIO' con fermate a LATINA, FORMIA e AVERSA"},
    {"rallentamenti", slow_order_form_table, 47, 3359, "",
     "     i giorni esclusi i seguenti:........."},
    {"scheda", timetable_card_table, 66, 5210, "",
     " |_____|_____|__________|_____|____________________________|________________|_____|"},
};

TEST(TextFromTable, WritesUpToTheSentinelWithCrLf) {
  struct Case {
    std::vector<std::string> table;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{kTableSentinel}, ""},
      {{kTableSentinel, "after"}, ""},
      {{"a", "", "b c ", kTableSentinel, "after", kTableSentinel}, "a\r\n\r\nb c \r\n"},
      {{"no sentinel"}, "no sentinel\r\n"},
      // Only an exact match stops the walk.
      {{"Riferimento fine del file", "riferimento fine del file ", kTableSentinel},
       "Riferimento fine del file\r\nriferimento fine del file \r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(text_from_table(c.table), c.text);
}

TEST(ScenarioTexts, SizeLineCountFirstAndLastLine) {
  for (const FileCase& f : kFiles) {
    SCOPED_TRACE(f.name);
    const std::vector<std::string> table = f.table();
    ASSERT_EQ(table.size(), f.lines + 1);
    EXPECT_EQ(table.back(), kTableSentinel);

    const std::string text = text_from_table(table);
    EXPECT_EQ(text.size(), f.bytes);
    const std::vector<std::string> lines = split_lines(text);
    ASSERT_EQ(lines.size(), f.lines);
    EXPECT_EQ(lines.front(), f.first);
    EXPECT_EQ(lines.back(), f.last);
    for (const std::string& line : lines) {
      EXPECT_NE(line, kTableSentinel);
      for (char c : line) EXPECT_TRUE(c >= 0x20 && c <= 0x7e) << "in line: " << line;
    }
  }
}

TEST(ScenarioTexts, TellingLines) {
  struct Case {
    std::vector<std::string> (*table)();
    size_t line;  // 1-based
    const char* text;
  };
  const Case cases[] = {
      {line_source_table, 2, "lunghezza percorso,    228000"},
      {line_source_table, 9, "ripetizione segnali 9 codici,    650,    211050"},
      {line_source_table, 11, "curvad3,  1000,  500"},
      {line_source_table, 12, "curvas3,  2700,  500"},
      {line_source_table, 73, "curvas6,  127950,  350"},
      {line_source_table, 74, "curvad5,  129950,  50"},
      {line_source_table, 82, "curvad1,  146400,  400"},
      {line_source_table, 98, "curvas2,  196100,  1550"},
      {line_source_table, 104, "curvad4,  212450,  800"},
      {line_source_table, 106, "pendenza,   0,    0"},
      {line_source_table, 107, "pendenza,  1350,   -2"},
      {line_source_table, 204, "pendenza,  213700,   0"},
      {line_source_table, 206, "montagna,   9500,  9550,  2"},
      {line_source_table, 239, "indicatori_vmax,  208800,  80,  90,  95,  2,  80,  90,  95,  2"},
      {line_source_table, 244,
       "cartello_indicatore,  78850,   (GALLERIA   )(GRICILLI II)(M. 1400    )"},
      {line_source_table, 251, "cartello_indicatore,  210200,   (BIVIO PER)( SALERNO )"},
      {train_source_table, 5, "orologio,    19              7             30 "},
      {train_source_table, 13, "velocita,   0,    30"},
      {train_source_table, 41,
       "stazione,       0,  8,  500,  0, 0, 0,  1,1,0,  4,1,1,    1,  19,10, 0, ROMA TERMINI"},
      {train_source_table, 66,
       "stazione,  214050,  6,  600,  0, 1, 0,  1,1,0,  2,1,1,    2,  12,17, 0, NAPOLI CENTRALE"},
      {train_source_table, 68, "rallentamento,   19450,    40,  300, 0,  1,  0"},
      {train_source_table, 73, "segnale,    2100,   2, 3, 1,  1, 0,    2,  2,1,1, 0"},
      {train_source_table, 184, "segnale,  212800,   2, 3, 1,  1, 0,    2,  2,1,1, 0"},
      {train_source_table, 211, "abbattimento,  209950,   180"},
      {slow_order_form_table, 7,
       "  Si ordina al macchinista del treno 555 di effettura i seguenti rallentamenti"},
      {slow_order_form_table, 13,
       " | 1 | Torricola - Pomezia        |Km 19.450   |  40 Km/h |   300   |            |"},
      {slow_order_form_table, 16,
       " | 4 | Aversa                     |Km 194.800  |  80 Km/h |   750   |            |"},
      {slow_order_form_table, 45, " D - Rallentamneto N. ... e N. ...  sono contigui"},
      {timetable_card_table, 5,
       " |   TRENO n. 555     |            da: Roma              |    V200 C    |"},
      {timetable_card_table, 9, " |  CLASSIFICAZIONE  |              |  MASSA BLOCCATA   |       "},
      {timetable_card_table, 18,
       " |  30 | 30  |   0      |     | Roma Termini               | 19.10          |     |"},
      {timetable_card_table, 28,
       " |     | 160 |  61.000  |     | Latina                     | 19.43  19.44   | 1   |"},
      {timetable_card_table, 45,
       " |     |     | 128.420  |     | Formia                     | 20.20  20.21   | 2.5 |"},
      {timetable_card_table, 65,
       " |     |     | 213.500  |     | Napoli C.                  | 21.10          |     |"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> lines = written_lines(c.table());
    ASSERT_LE(c.line, lines.size());
    EXPECT_EQ(lines[c.line - 1], c.text) << "line " << c.line;
  }
  // The one signal that carries a last number other than 0.
  const std::vector<std::string> train_lines = written_lines(train_source_table());
  size_t found = 0;
  for (const std::string& line : train_lines)
    if (line.rfind("segnale,", 0) == 0 && line.substr(line.size() - 3) != ", 0") {
      EXPECT_EQ(line, "segnale,   37100,   2, 4, 0,  0, 0,    1,  2,0,0, 220");
      ++found;
    }
  EXPECT_EQ(found, 1u);
}

// Checks that the sections start at the given lines and that every other line of a section
// begins with that section's keyword (an empty keyword accepts any line).
void expect_sections(
    const std::vector<std::string>& lines,
    const std::vector<std::pair<size_t, std::pair<std::string, std::string>>>& sections) {
  std::string keyword;
  size_t next = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (next < sections.size() && sections[next].first == i + 1) {
      EXPECT_EQ(lines[i], sections[next].second.first);
      keyword = sections[next].second.second;
      ++next;
      continue;
    }
    EXPECT_NE(lines[i].rfind('[', 0), 0u) << "unexpected header at line " << i + 1;
    EXPECT_EQ(lines[i].rfind(keyword, 0), 0u) << "line " << i + 1 << ": " << lines[i];
  }
  EXPECT_EQ(next, sections.size());
}

TEST(LineSource, SectionsAndGeneralRecords) {
  const std::vector<std::string> lines = written_lines(line_source_table());
  expect_sections(lines, {{1, {"[generale]", ""}},
                          {10, {"[curve]", "curva"}},
                          {105, {"[pendenze]", "pendenza,"}},
                          {205, {"[montagne]", "montagna,"}},
                          {214, {"[cartelli]", "indicatori_vmax,"}},
                          {242, {"[indicazioni]", "cartello_indicatore,"}},
                          {252, {"[fine]", "-"}}});
  const std::vector<std::string> general(lines.begin() + 1, lines.begin() + 9);
  EXPECT_EQ(general, (std::vector<std::string>{
                         "lunghezza percorso,    228000",
                         "progressiva chilometrica uno,    0,    0,    0",
                         "progressiva chilometrica due,    0,    0,    0",
                         "progressiva chilometrica tre,    0,    0,    0",
                         "sfondo uno,    1",
                         "sfondo due,    62000",
                         "sfondo tre,    84000",
                         "ripetizione segnali 9 codici,    650,    211050",
                     }));
}

TEST(LineSource, CurvesRiseWithoutOverlap) {
  const std::vector<std::string> lines = written_lines(line_source_table());
  const std::regex curve("curva([ds][1-6]),  ([0-9]+),  ([0-9]+)");
  std::map<std::string, int> per_keyword;
  long previous_start = -1;
  long previous_end = 0;
  for (size_t i = 10; i < 104; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, curve)) << lines[i];
    const long start = std::stol(m[2]);
    const long length = std::stol(m[3]);
    EXPECT_GT(start, previous_start) << lines[i];
    EXPECT_LE(previous_end, start) << lines[i];
    EXPECT_EQ(start % 50, 0) << lines[i];
    EXPECT_EQ(length % 50, 0) << lines[i];
    EXPECT_GE(length, 50) << lines[i];
    EXPECT_LE(length, 1550) << lines[i];
    previous_start = start;
    previous_end = start + length;
    ++per_keyword[m[1]];
  }
  const std::map<std::string, int> expected{{"d1", 2}, {"d2", 10}, {"d3", 19}, {"d4", 18},
                                            {"d5", 3}, {"s2", 7},  {"s3", 18}, {"s4", 11},
                                            {"s5", 5}, {"s6", 1}};
  EXPECT_EQ(per_keyword, expected);
}

TEST(LineSource, GradientsRiseAndChangeAtEveryRecord) {
  const std::vector<std::string> lines = written_lines(line_source_table());
  const std::regex gradient("pendenza,  ([0-9]+),   (-?[0-9]+)");
  long previous_position = 0;
  long previous_value = 0;
  std::set<long> values{0};
  for (size_t i = 106; i < 204; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, gradient)) << lines[i];
    const long position = std::stol(m[1]);
    const long value = std::stol(m[2]);
    EXPECT_GT(position, previous_position) << lines[i];
    EXPECT_EQ(position % 50, 0) << lines[i];
    EXPECT_NE(value, previous_value) << lines[i];
    previous_position = position;
    previous_value = value;
    values.insert(value);
  }
  EXPECT_EQ(values, (std::set<long>{-8, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 10}));
}

TEST(LineSource, TunnelsBoardsAndSpeedBoards) {
  const std::vector<std::string> lines = written_lines(line_source_table());
  const std::regex tunnel("montagna,   ([0-9]+),  ([0-9]+),  (2|11)");
  std::set<long> tunnel_starts;
  long previous_end = 0;
  for (size_t i = 205; i < 213; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, tunnel)) << lines[i];
    EXPECT_GT(std::stol(m[1]), previous_end) << lines[i];
    EXPECT_GT(std::stol(m[2]), std::stol(m[1])) << lines[i];
    previous_end = std::stol(m[2]);
    tunnel_starts.insert(std::stol(m[1]));
  }

  // Ten numbers after the keyword; the last four repeat the four before them.
  const std::regex speed_board("indicatori_vmax,  ([0-9]+)((?:,  [0-9]+){4})\\2");
  long previous_position = 0;
  for (size_t i = 214; i < 241; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, speed_board)) << lines[i];
    EXPECT_GT(std::stol(m[1]), previous_position) << lines[i];
    previous_position = std::stol(m[1]);
  }

  // Every tunnel board stands 50 before a tunnel; the short tunnel at 9500 has none.
  const std::regex board("cartello_indicatore,  ([0-9]+),   (\\(.*\\))");
  std::set<long> boarded;
  previous_position = 0;
  for (size_t i = 242; i < 251; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, board)) << lines[i];
    const long position = std::stol(m[1]);
    EXPECT_GT(position, previous_position) << lines[i];
    previous_position = position;
    if (lines[i].find("(GALLERIA") != std::string::npos) {
      EXPECT_EQ(tunnel_starts.count(position + 50), 1u) << lines[i];
      boarded.insert(position + 50);
    }
  }
  EXPECT_EQ(boarded.size(), 7u);
  EXPECT_EQ(boarded.count(9500), 0u);
}

// The position of a train source record: the 8 characters after the keyword's comma.
long position_field(const std::string& line, const std::string& keyword) {
  const std::string field = line.substr(keyword.size() + 1, 8);
  EXPECT_TRUE(right_aligned_number(field, 8)) << line;
  EXPECT_EQ(line[keyword.size() + 9], ',') << line;
  return std::stol(field);
}

// Splits the fields of a record after its keyword's comma and checks their widths.
std::vector<std::string> fixed_fields(const std::string& line, const std::string& keyword,
                                      const std::vector<size_t>& widths) {
  std::vector<std::string> fields;
  size_t at = keyword.size() + 1;
  for (size_t w : widths) {
    const std::string field = line.substr(at, w);
    EXPECT_TRUE(right_aligned_number(field, w)) << "field at " << at << " of: " << line;
    fields.push_back(field);
    at += w;
    if (at < line.size()) {
      EXPECT_EQ(line[at], ',') << line;
    }
    ++at;
  }
  fields.push_back(at <= line.size() ? line.substr(at) : "");
  return fields;
}

TEST(TrainSource, SectionsAndPositions) {
  const std::vector<std::string> lines = written_lines(train_source_table());
  expect_sections(lines, {{1, {"[generale]", ""}},
                          {6, {"[aderenze]", "aderenza,"}},
                          {12, {"[vel_limite]", "velocita,"}},
                          {40, {"[stazioni]", "stazione,"}},
                          {67, {"[rallentamenti]", "rallentamento,"}},
                          {72, {"[segnali]", "segnale,"}},
                          {185, {"[codici]", "abbattimento,"}},
                          {212, {"[fine]", "-"}}});
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 4),
            (std::vector<std::string>{"numero vetture,    12", "percentuale massa frenata,    135",
                                      "sabbia,    200"}));

  struct Section {
    size_t first, last;  // 1-based lines
    const char* keyword;
    std::vector<size_t> widths;
  };
  const Section sections[] = {
      {7, 11, "aderenza", {8, 6}},
      {14, 39, "velocita", {8, 6}},
      {41, 66, "stazione", {8, 3, 5, 3, 2, 2, 3, 1, 1, 3, 1, 1, 5, 4, 2, 2}},
      {68, 71, "rallentamento", {8, 6, 5, 2, 3, 3}},
      {186, 211, "abbattimento", {8, 6}},
  };
  for (const Section& s : sections) {
    long previous = -1;
    for (size_t n = s.first; n <= s.last; ++n) {
      const std::string& line = lines[n - 1];
      std::vector<std::string> fields = fixed_fields(line, s.keyword, s.widths);
      const long position = std::stol(fields[0]);
      EXPECT_GT(position, previous) << line;
      previous = position;
      // Only the stations carry text after their numbers: one blank, then the name.
      if (std::string(s.keyword) == "stazione") {
        EXPECT_TRUE(std::regex_match(fields.back(), std::regex(" [A-Z][A-Z. -]*[A-Z]"))) << line;
      } else {
        EXPECT_EQ(fields.back(), "") << line;
      }
    }
  }
  // The speed profile starts at a bare 0 and then continues at 500.
  EXPECT_EQ(lines[12], "velocita,   0,    30");
  EXPECT_EQ(fixed_fields(lines[13], "velocita", {8, 6})[0], "     500");
}

TEST(TrainSource, SignalsRiseWithSpacingAndTails) {
  const std::vector<std::string> lines = written_lines(train_source_table());
  std::map<std::string, int> per_tail;
  long previous = 0;
  for (size_t i = 72; i < 184; ++i) {
    const long position = position_field(lines[i], "segnale");
    EXPECT_EQ(position % 50, 0) << lines[i];
    if (i > 72) {
      EXPECT_GE(position - previous, 800) << lines[i];
      EXPECT_LE(position - previous, 4200) << lines[i];
    }
    previous = position;
    ++per_tail[lines[i].substr(16)];
  }
  const std::map<std::string, int> expected{
      {",   2, 4, 0,  0, 0,    2,  2,0,0, 0", 55}, {",   2, 4, 1,  1, 0,    2,  2,1,1, 0", 34},
      {",   2, 4, 0,  0, 0,    1,  2,0,0, 0", 10}, {",   2, 3, 1,  1, 0,    2,  2,1,1, 0", 4},
      {",   2, 5, 1,  1, 0,    2,  2,1,1, 0", 4},  {",   2, 4, 1,  1, 0,    1,  2,1,1, 0", 2},
      {",   2, 3, 0,  0, 0,    2,  2,0,0, 0", 1},  {",   2, 4, 0,  0, 0,    1,  2,0,0, 220", 1},
      {",   2, 3, 1,  1, 0,    1,  2,1,1, 0", 1},
  };
  EXPECT_EQ(per_tail, expected);
}

TEST(TimetableCard, GridColumnsAndRows) {
  const std::vector<std::string> lines = written_lines(timetable_card_table());
  const std::vector<size_t> bars = bar_columns({5, 5, 10, 5, 28, 16, 5});
  for (size_t n = 15; n <= 66; ++n) {
    EXPECT_EQ(lines[n - 1].size(), 83u) << "line " << n;
    EXPECT_EQ(bars_in(lines[n - 1]), bars) << "line " << n;
  }
  EXPECT_EQ(lines[65], lines[16]);
  for (size_t n : {1, 2, 12}) EXPECT_EQ(lines[n - 1], "") << "line " << n;

  const std::regex limit(" *[0-9]+ ");
  const std::regex left_value(" [0-9.]+ *");
  const std::regex place(" [A-Z][A-Za-z. ]*[A-Za-z.] *");
  const std::regex time(" [0-9]{2}\\.[0-9]{2}(  [0-9]{2}\\.[0-9]{2})? *");
  const std::regex km(" *[0-9]+\\.[0-9]{3}  ");
  double previous_km = -1;
  std::vector<size_t> timed;
  for (size_t n = 18; n <= 65; ++n) {
    const std::vector<std::string> c = cells_of(lines[n - 1]);
    ASSERT_EQ(c.size(), 8u) << "line " << n;
    EXPECT_TRUE(is_blank(c[1]) || std::regex_match(c[1], limit)) << "line " << n;
    EXPECT_TRUE(is_blank(c[2]) || std::regex_match(c[2], left_value)) << "line " << n;
    EXPECT_TRUE(is_blank(c[4])) << "line " << n;
    EXPECT_TRUE(is_blank(c[5]) || std::regex_match(c[5], place)) << "line " << n;
    EXPECT_TRUE(is_blank(c[7]) || std::regex_match(c[7], left_value)) << "line " << n;
    if (!is_blank(c[6])) {
      EXPECT_TRUE(std::regex_match(c[6], time)) << "line " << n;
      timed.push_back(n);
    }
    if (n == 18) {
      EXPECT_EQ(c[3], "   0      ");
      previous_km = 0;
    } else {
      EXPECT_TRUE(std::regex_match(c[3], km)) << "line " << n;
      const double value = std::stod(c[3]);
      EXPECT_GT(value, previous_km) << "line " << n;
      previous_km = value;
    }
  }
  EXPECT_EQ(timed, (std::vector<size_t>{18, 28, 45, 59, 65}));
}

TEST(SlowOrderForm, GridColumnsAndRowsMatchTrainSlowOrders) {
  const std::vector<std::string> lines = written_lines(slow_order_form_table());
  const std::vector<size_t> bars = bar_columns({3, 28, 12, 10, 9, 12});
  for (size_t n = 9; n <= 40; ++n) {
    EXPECT_EQ(lines[n - 1].size(), 82u) << "line " << n;
    EXPECT_EQ(bars_in(lines[n - 1]), bars) << "line " << n;
  }
  for (size_t n = 17; n <= 39; ++n)
    EXPECT_EQ(lines[n - 1],
              " |   |                            |            |          |         |            |")
        << "line " << n;
  EXPECT_EQ(lines[39], lines[11]);
  for (size_t n : {1, 6, 41}) EXPECT_EQ(lines[n - 1], "") << "line " << n;
  EXPECT_EQ(lines[3], " " + std::string(80, '_'));
  EXPECT_EQ(lines[7], "  " + std::string(79, '_'));

  // Rows 13 to 16 restate the slow orders of the train source file.
  const std::vector<std::string> train_lines = written_lines(train_source_table());
  for (size_t k = 0; k < 4; ++k) {
    const std::vector<std::string> order =
        fixed_fields(train_lines[67 + k], "rallentamento", {8, 6, 5, 2, 3, 3});
    const long position = std::stol(order[0]);
    const std::vector<std::string> c = cells_of(lines[12 + k]);
    ASSERT_EQ(c.size(), 7u);
    EXPECT_EQ(c[1], " " + std::to_string(k + 1) + " ");
    EXPECT_TRUE(std::regex_match(c[2], std::regex(" [A-Z][A-Za-z -]*[a-z] *"))) << c[2];
    std::string km = "Km " + std::to_string(position / 1000) + "." +
                     std::to_string(position % 1000 + 1000).substr(1);
    km.resize(12, ' ');
    EXPECT_EQ(c[3], km);
    EXPECT_EQ(c[4], order[1].substr(2) + " Km/h ");
    EXPECT_EQ(c[5], " " + order[2] + "   ");
    EXPECT_TRUE(is_blank(c[6]));
  }
}

TEST(TextFileNames, FollowTheModelIdentity) {
  struct Case {
    std::string (*name)(const Model&);
    const char* scenario;
    const char* other;
  };
  const Case cases[] = {
      {line_source_name, "QUELDRANO 2_linea.txt", "L_linea.txt"},
      {train_source_name, "QUELDRANO 2_555-.txt", "L_77-.txt"},
      {notes_name, "QUELDRANO 2_555_note.txt", "L_77_note.txt"},
      {slow_order_form_name, "QUELDRANO 2_555_rallentamenti.txt", "L_77_rallentamenti.txt"},
      {timetable_card_name, "QUELDRANO 2_555_scheda_treno.txt", "L_77_scheda_treno.txt"},
  };
  Model other;
  other.line_id = "L";
  other.train_number = "77";
  for (const Case& c : cases) {
    EXPECT_EQ(c.name(scenario_model()), c.scenario);
    EXPECT_EQ(c.name(other), c.other);
  }
}

class WriteSources : public ::testing::Test {
 protected:
  test::ScratchDir scratch_;
  const std::string dir_ = scratch_.str();
};

TEST_F(WriteSources, ReplacesLongerFilesWhole) {
  const Model m = scenario_model();
  struct Text {
    std::string name;
    std::vector<std::string> (*table)();
  };
  const Text texts[] = {
      {line_source_name(m), line_source_table},
      {train_source_name(m), train_source_table},
      {notes_name(m), notes_table},
      {slow_order_form_name(m), slow_order_form_table},
      {timetable_card_name(m), timetable_card_table},
  };
  for (const Text& w : texts) {
    test::write_bytes(dir_ + "/" + w.name, std::string(20000, 'x'));
  }
  RunOptions opts;
  opts.dir = dir_;
  opts.force = true;
  ASSERT_EQ(write_sources(opts), 0);
  std::map<std::string, std::string> expected;
  for (const Text& w : texts) expected[w.name] = text_from_table(w.table());
  EXPECT_EQ(test::snapshot(dir_), expected);
}

TEST_F(WriteSources, FailureEndsTheRunWithStatus3) {
  RunOptions opts;
  opts.dir = dir_ + "/missing";
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_sources(opts), 3);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot write"), std::string::npos);
}

// A last guard over the whole content, taken once every line had passed the checks above.
TEST(ScenarioTexts, Fingerprints) {
  const std::pair<std::vector<std::string> (*)(), uint64_t> cases[] = {
      {line_source_table, 5163821537413001658ull},
      {train_source_table, 1358549643020081185ull},
      {notes_table, 15948759471610767077ull},
      {slow_order_form_table, 4289233512664789761ull},
      {timetable_card_table, 3936750276578489249ull},
  };
  for (const auto& [table, sum] : cases)
    EXPECT_EQ(test::fingerprint(text_from_table(table())), sum);
}

}  // namespace
}  // namespace compactor
