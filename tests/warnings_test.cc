// Warnings for what the readers pass over, and the format of every diagnostic.
#include <gtest/gtest.h>

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

// Each altered source gives exactly one warning on the expected line, and the outputs are the
// same as when warnings are not collected.
TEST(Warnings, OnePerMistakeOnItsLine) {
  struct Case {
    const char* name;
    bool in_line_source;
    std::string from, to;
    int32_t line, column;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"misspelt keyword", true, "pendenza,  1350,   -2", "pendnza,  1350,   -2", 107, 1,
       "\"pendnza\" is not a record keyword; the line is ignored"},
      {"extra field after a record", true, "pendenza,  1350,   -2", "pendenza,  1350,   -2, 7", 107,
       24, "\"7\" is not a record keyword; the field is ignored"},
      {"general record among features", true, "[pendenze]\r\n",
       "[pendenze]\r\nsfondo uno,    5\r\n", 106, 1,
       "a \"sfondo\" record is read only in the general section; it is ignored here"},
      {"feature record in the general section", true, "sfondo uno,    1\r\n",
       "sfondo uno,    1\r\npendenza,  100,   1\r\n", 7, 1,
       "a \"pendenza\" record is not read in the general section; it is ignored there"},
      {"gradient off the grid", true, "pendenza,  4000,   -1", "pendenza,  4010,   -1", 108, 1,
       "the gradient at 4010 m is not a multiple of 50 m; it is placed in the nearest 50 m cell"},
      {"signal off the grid", false, "segnale,    6150,", "segnale,    6160,", 74, 1,
       "the signal at 6160 m is not a multiple of 50 m; it is placed in the nearest 50 m cell"},
      {"misspelt train keyword", false, "sabbia,    200", "sabia,    200", 4, 1,
       "\"sabia\" is not a record keyword; the line is ignored"},
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
