// Warnings for what the readers pass over, and the format of every diagnostic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "format/outputs.h"
#include "model/errors.h"
#include "tests/test_support.h"
#include "tools/diagnostics.h"

namespace compactor {
namespace {

using test::Compiled;
using test::SourceText;

TEST(Warnings, DefaultSourcesGiveNone) {
  Compiled c = test::compile_in_memory(SourceText::default_line(), SourceText::default_train(),
                                       {.collect_warnings = true});
  EXPECT_EQ(c.m.error_code, 0);
  EXPECT_TRUE(c.warnings.empty()) << c.warnings.front().text;
}

// Each altered source gives exactly one warning, or one error of the program's own, on the
// expected line, and the outputs and the outcome are the same as when they are not collected
// (also where the alteration ends in a recorded error).
TEST(Warnings, OnePerMistakeOnItsLine) {
  struct Case {
    const char* name;
    bool in_line_source;
    std::string from, to;
    int32_t line, column;
    std::string text;
    bool error = false;  // an error of the program's own rather than a warning
  };
  const std::vector<Case> cases = {
      {"misspelt keyword", true, "pendenza,  1350,   -2", "pendnza,  1350,   -2", 107, 1,
       "\"pendnza\" is not a record keyword, and the line is not read; did you mean \"pendenza\"?",
       true},
      {"extra field after a record", true, "pendenza,  1350,   -2", "pendenza,  1350,   -2, 7", 107,
       24, "\"7\" is not read: the pendenza record ends before it (2 values: position, gradient)",
       true},
      {"general record among features", true, "[pendenze]\r\n",
       "[pendenze]\r\nsfondo uno,    5\r\n", 106, 1,
       "a \"sfondo\" record is read only in the general section; it is ignored here", true},
      {"feature record in the general section", true, "sfondo uno,    1\r\n",
       "sfondo uno,    1\r\npendenza,  100,   1\r\n", 7, 1,
       "a \"pendenza\" record is not read in the general section; it is ignored there", true},
      {"gradient off the grid", true, "pendenza,  4000,   -1", "pendenza,  4010,   -1", 108, 1,
       "the gradient at 4010 m is not a multiple of 50 m; it is placed in the nearest 50 m cell"},
      {"signal off the grid", false, "segnale,    6150,", "segnale,    6160,", 74, 1,
       "the signal at 6160 m is not a multiple of 50 m; it is placed in the nearest 50 m cell"},
      {"misspelt train keyword", false, "sabbia,    200", "sabia,    200", 4, 1,
       "\"sabia\" is not a record keyword, and the line is not read; did you mean \"sabbia\"?",
       true},
      {"letters swapped in a keyword", true, "montagna,   9500", "montagan,   9500", 206, 1,
       "\"montagan\" is not a record keyword, and the line is not read; did you mean \"montagna\"?",
       true},
      {"letter case where it matters", true, "sfondo uno,    1", "Sfondo uno,    1", 6, 1,
       "\"Sfondo uno\" is not a record keyword, and the line is not read; did you mean \"sfondo "
       "uno\"?",
       true},
      {"a word near no keyword", true, "pendenza,  1350,   -2", "galleria,  1350,   -2", 107, 1,
       "\"galleria\" is not a record keyword, and the line is not read", true},
      {"a comment written with a hash", false, "sabbia,    200",
       "# nota del macchinista\r\nsabbia,    200", 4, 1,
       "\"# nota del macchinista\" is not a record keyword, and the line is not read; a remark is "
       "written with a hyphen (\"- ...\")",
       true},
      {"a record written with tabs, read as a remark", true, "pendenza,  1350,   -2",
       "pendenza\t1350\t-2", 107, 1,
       "this field holds the keyword \"pendenza\" and values, but its hyphen makes it a remark, "
       "which is not read; only a comma ends a field"},
      // A decimal or thousands comma splits a number in two fields.
      {"a decimal comma", true, "pendenza,  1350,   -2", "pendenza,  1350,   12,5", 107, 23,
       "\"5\" is not read: the pendenza record ends before it (2 values: position, gradient); a "
       "number holds no comma: \"12,5\" is read as 12 and a field 5",
       true},
      {"a thousands comma", true, "sfondo due,    62000", "sfondo due,    62,000", 7, 19,
       "\"000\" is not read: the sfondo due record ends before it (1 value: background); a number "
       "holds no comma: \"62,000\" is read as 62 and a field 000",
       true},
      {"a field before [generale]", false, "[generale]", "treno 555\r\n[generale]", 1, 1,
       "\"treno 555\" stands before the \"[generale]\" field, and nothing before that field is "
       "read (1 field)",
       true},
      {"a misspelt [generale] in the train source", false, "[generale]", "[general]", 1, 1,
       "no \"[generale]\" field: nothing of the train source is read; did you mean \"[generale]\"?",
       true},
      {"a lone CR after a station", false, "ROMA CASILINA\r\n", "ROMA CASILINA\r", 42, 86,
       "a line ends with CR alone; only CR LF or LF ends a line, so the text after it is read as "
       "part of this field",
       true},
      {"the last field after a record", false, "abbattimento,  209950,   180\r\n[fine]\r\n",
       "abbattimento,  209950,   180, 7\r\n", 211, 31,
       "\"7\" is not read: the abbattimento record ends before it (2 values: position, code)",
       true},
      // Characters a text field holds otherwise than the author sees them.
      {"a UTF-8 letter in a station name", false, "ROMA CASILINA", "CITT\xc3\x80", 42, 77,
       "the name holds \"\xc3\x80\", a UTF-8 character of 2 bytes; the field holds one byte per "
       "character, and the 2 bytes C3 80 are stored as they are"},
      {"a tab in a station name", false, "ROMA CASILINA", "ROMA\tCASILINA", 42, 77,
       "the name holds a tab, stored as the byte 09"},
      // Values the compiled form does not hold as written.
      {"a gradient past the byte", true, "pendenza,  1350,   -2", "pendenza,  1350,   300", 107, 1,
       "the gradient 300 per mille is not a value the grid holds (from -100 to 155 per mille); it "
       "is stored as 44 per mille"},
      {"a speed between steps", false, "velocita,     750,   155", "velocita,     750,   163", 15,
       1,
       "the speed 163 km/h is not a value the grid holds (multiples of 5 from 0 to 1275 km/h); it "
       "is stored as 165 km/h"},
      {"a speed past the byte", false, "velocita,     750,   155", "velocita,     750,   1650", 15,
       1,
       "the speed 1650 km/h is not a value the grid holds (multiples of 5 from 0 to 1275 km/h); "
       "the read stops with error 25 where this speed is filled in"},
      {"an adhesion past the byte", false, "aderenza,   89000,    70", "aderenza,   89000,    300",
       8, 1, "the adhesion 300 is not a value the grid holds (from 0 to 255); it is stored as 44"},
      {"a speed board between steps", true, "indicatori_vmax,  800,  140",
       "indicatori_vmax,  800,  163", 215, 1,
       "the speed vas 163 km/h is not a value the grid holds (multiples of 5 from 0 to 495 km/h); "
       "the board does not show it as written"},
      {"a station time past 59 minutes", false, "19,10, 0, ROMA TERMINI", "19,79,99, ROMA TERMINI",
       41, 1,
       "the scheduled time 19:79:99 has minutes or seconds outside 0 to 59; it is stored as "
       "20:20:39"},
      {"a clock past 59 minutes", false, "19              7", "19              79", 5, 1,
       "the clock 19:79:30 has minutes or seconds outside 0 to 59"},
      // Places that cannot be meant.
      {"a tunnel that ends before it starts", true, "montagna,   9500,  9550",
       "montagna,   9550,  9500", 206, 1,
       "the tunnel ends at 9500 m, before it starts at 9550 m; it covers no cell"},
      {"a tunnel past the end of the line", true, "montagna,   155850,  157650",
       "montagna,   229000,  229500", 213, 1,
       "the tunnel at 229000 m is past the end of the line (228000 m)"},
      {"a signal past the end of the line", false, "segnale,    2100,", "segnale,    229000,", 73,
       1, "the signal at 229000 m is past the end of the line (228000 m)"},
      {"a gradient behind the one before it", true, "pendenza,  4000,   -1",
       "pendenza,  1000,   -1", 108, 1,
       "the gradient at 1000 m comes before 1350 m, where the gradient before it starts; the grid "
       "is filled forward, so this one starts at 1400 m"},
      {"a speed behind the one before it", false, "velocita,    7500,   175",
       "velocita,    400,   175", 16, 1,
       "the speed at 400 m comes before 750 m, where the speed before it starts; the grid is "
       "filled forward, so this one starts at 800 m"},
      {"a curve that starts inside the one before it", true, "curvas3,  2700,  500",
       "curvas3,  1200,  500", 12, 1,
       "the curve at 1200 m starts before 1500 m, where the curve before it ends; only its part "
       "after 1500 m is bent"},
      {"a curve that lies inside the one before it", true, "curvas3,  2700,  500",
       "curvas3,  1100,  300", 12, 1,
       "the curve at 1100 m starts before 1500 m, where the curve before it ends; it bends "
       "nothing"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SourceText line = SourceText::default_line();
    SourceText train = SourceText::default_train();
    (k.in_line_source ? line : train).replace(k.from, k.to);
    Compiled with = test::compile_in_memory(line, train, {.collect_warnings = true});
    Compiled without = test::compile_in_memory(line, train, {.collect_warnings = false});
    ASSERT_EQ(with.outcome, PassOutcome::kReady);
    ASSERT_EQ(with.warnings.size(), 1u);
    EXPECT_EQ(with.warnings[0].pos.file, k.in_line_source ? test::kLineSource : test::kTrainSource);
    EXPECT_EQ(with.warnings[0].pos.line, k.line);
    EXPECT_EQ(with.warnings[0].pos.column, k.column);
    EXPECT_EQ(with.warnings[0].text, k.text);
    EXPECT_EQ(with.warnings[0].error, k.error);
    EXPECT_EQ(encode_grid_output(with.m), encode_grid_output(without.m));
    EXPECT_EQ(encode_record_output(with.m), encode_record_output(without.m));
    EXPECT_EQ(with.m.error_code, without.m.error_code);
  }
}

TEST(Warnings, CurvesWithoutPlanAreQuiet) {
  Compiled c = test::compile_in_memory(SourceText::default_line(), SourceText::default_train(),
                                       {.with_plan = 0, .collect_warnings = true});
  ASSERT_EQ(c.outcome, PassOutcome::kReady);
  EXPECT_TRUE(c.warnings.empty());
}

// Thousands of stray lines: the warnings come one per line in source order, also across the
// batches the reader settles them in and for a warning found ahead of the reader (a lone CR, found
// before the train source is read). Past max_kept_warnings they are only counted.
TEST(Warnings, ManyAreKeptUpToTheLimitAndCountedBeyond) {
  auto insert_strays = [](std::string text, const std::string& after, const char* prefix, int n,
                          int32_t& first_line) {
    size_t at = text.find(after);
    EXPECT_NE(at, std::string::npos);
    at += after.size();
    first_line = static_cast<int32_t>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
    std::string strays;
    for (int i = 0; i < n; ++i) {
      strays += prefix;
      strays += std::to_string(i);
      strays += "\r\n";
    }
    return text.insert(at, strays);
  };
  int32_t line_first = 0, train_first = 0;
  const std::string line =
      insert_strays(SourceText::default_line(), "[pendenze]\r\n", "s", 3000, line_first);
  const std::string train =
      SourceText(insert_strays(SourceText::default_train(), "[generale]\r\n", "t", 1500,
                               train_first))
          .replace("t1200\r\n", "t1200\rmore\r\n");  // a lone CR on that line
  auto compile_keeping = [&](size_t kept, size_t& not_kept) {
    Sources s;
    s.line = SourceFile{"line.txt", line, false};
    s.train = SourceFile{"train.txt", train, false};
    std::vector<Warning> warnings;
    s.warnings = &warnings;
    s.max_kept_warnings = kept;
    Model m;
    m.line_id = "QUELDRANO 2";
    m.train_number = "555";
    EXPECT_EQ(compile_model(m, 1, s), PassOutcome::kReady);
    // Stray lines are errors of the program's own: kept and counted apart from the warnings.
    EXPECT_EQ(s.warnings_not_kept, 0u);
    not_kept = s.errors_not_kept;
    return warnings;
  };
  size_t not_kept = 0;
  const std::vector<Warning> all = compile_keeping(SIZE_MAX, not_kept);
  EXPECT_EQ(not_kept, 0u);
  ASSERT_EQ(all.size(), 4500u);
  for (size_t i = 0; i < all.size(); ++i) {
    const bool in_line = i < 3000;
    const int n = static_cast<int>(in_line ? i : i - 3000);
    EXPECT_EQ(all[i].pos.file, in_line ? "line.txt" : "train.txt");
    EXPECT_EQ(all[i].pos.line, (in_line ? line_first : train_first) + n);
    std::string stray = in_line ? "\"s" : "\"t";
    stray += std::to_string(n);
    stray += "\" is not a record keyword, and the line is not read";
    if (!in_line && n == 1200) {
      EXPECT_EQ(all[i].text.rfind("a line ends with CR alone", 0), 0u) << all[i].text;
    } else {
      EXPECT_EQ(all[i].text, stray);
    }
  }

  const std::vector<Warning> first = compile_keeping(200, not_kept);
  EXPECT_EQ(not_kept, 4300u);
  ASSERT_EQ(first.size(), 200u);
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].pos.line, all[i].pos.line);
    EXPECT_EQ(first[i].text, all[i].text);
  }
}

TEST(Diagnostics, ErrorWithSourceLineAndCaret) {
  Model m;
  m.error_code = 21;
  m.error_position = 7500;
  m.error_source = SourcePos{"QUELDRANO 2_linea.txt", 2, 3, 0};
  std::string source = "[generale]\r\n  indicatori_vmax,  7500\r\n[fine]\r\n";
  m.error_source.offset = static_cast<int64_t>(source.find("indicatori"));
  EXPECT_EQ(format_error(m, source),
            "QUELDRANO 2_linea.txt:2:3: error 21: speed board on an occupied cell (at 7500 m)\n"
            "    indicatori_vmax,  7500\n"
            "    ^\n");
}

TEST(Diagnostics, ErrorWithoutSourceOrPosition) {
  Model m;
  m.error_code = 101;
  m.error_position = 4000;  // left from nothing: error 101 carries no position
  EXPECT_EQ(format_error(m, ""), "compactor: error 101: the line source file does not exist\n");
  m.error_code = 12;
  m.error_position = 19000;
  EXPECT_EQ(format_error(m, ""),
            "compactor: error 12: no room for a code point in one of the three windows before a "
            "slow-order start (at 19000 m)\n");
}

// Every error the program records, and two numbers it never does: the message says where, as
// " (at P m)" after the meaning, exactly for the errors that carry a position, whatever
// error_position holds for the others.
TEST(Diagnostics, PositionSuffixExactlyForTheErrorsWithAPosition) {
  const std::set<int32_t> positional = {6,  7,  8,  9,  11, 12, 13,  15, 16,
                                        17, 18, 19, 20, 21, 22, 106, 107};
  const int32_t codes[] = {1,  2,   3,   4,   5,   6,   7,   8,   9,    10,  11, 12,
                           13, 14,  15,  16,  17,  18,  19,  20,  21,   22,  23, 24,
                           25, 101, 102, 103, 104, 105, 106, 107, 1250, 1251};
  for (int32_t code : codes) {
    Model m;
    m.error_code = code;
    m.error_position = -7550;
    const std::string suffix = positional.count(code) != 0 ? " (at -7550 m)" : "";
    EXPECT_EQ(format_error(m, ""), "compactor: error " + std::to_string(code) + ": " +
                                       error_meaning(code) + suffix + "\n");
  }
}

}  // namespace
}  // namespace compactor
