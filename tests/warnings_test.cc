// Warnings for what the readers pass over, and the format of every diagnostic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "format/outputs.h"
#include "scenario/texts.h"
#include "tools/diagnostics.h"

namespace compactor {
namespace {

struct Compiled {
  Model model;
  std::vector<Warning> warnings;
  std::string grid;
  std::string records;
};

Compiled compile(const std::string& line, const std::string& train, bool collect = true) {
  Compiled c;
  c.model.line_id = "QUELDRANO 2";
  c.model.train_number = "555";
  Sources s;
  s.line = SourceFile{"line.txt", line, false};
  s.train = SourceFile{"train.txt", train, false};
  if (collect) s.warnings = &c.warnings;
  EXPECT_EQ(compile_model(c.model, 1, s), PassOutcome::kReady);
  c.grid = encode_grid_output(c.model);
  c.records = encode_record_output(c.model);
  return c;
}

std::string replace_once(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

const std::string& line_source() {
  static const std::string text = text_from_table(line_source_table());
  return text;
}
const std::string& train_source() {
  static const std::string text = text_from_table(train_source_table());
  return text;
}

TEST(Warnings, WritersSourcesGiveNone) {
  Compiled c = compile(line_source(), train_source());
  EXPECT_EQ(c.model.error_code, 0);
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
    std::string line = k.in_line_source ? replace_once(line_source(), k.from, k.to) : line_source();
    std::string train =
        k.in_line_source ? train_source() : replace_once(train_source(), k.from, k.to);
    Compiled with = compile(line, train);
    Compiled without = compile(line, train, false);
    ASSERT_EQ(with.warnings.size(), 1u);
    EXPECT_EQ(with.warnings[0].pos.file, k.in_line_source ? "line.txt" : "train.txt");
    EXPECT_EQ(with.warnings[0].pos.line, k.line);
    EXPECT_EQ(with.warnings[0].pos.column, k.column);
    EXPECT_EQ(with.warnings[0].text, k.text);
    EXPECT_EQ(with.grid, without.grid);
    EXPECT_EQ(with.records, without.records);
    EXPECT_EQ(with.model.error_code, without.model.error_code);
  }
}

TEST(Warnings, CurvesWithoutPlanAreQuiet) {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  std::vector<Warning> warnings;
  Sources s;
  s.line = SourceFile{"line.txt", line_source(), false};
  s.train = SourceFile{"train.txt", train_source(), false};
  s.warnings = &warnings;
  ASSERT_EQ(compile_model(m, 0, s), PassOutcome::kReady);
  EXPECT_TRUE(warnings.empty());
}

// Thousands of stray lines: the warnings come one per line in source order, also across the
// batches the reader settles them in and for a warning found ahead of the reader (a lone LF, found
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
  const std::string line = insert_strays(line_source(), "[pendenze]\r\n", "s", 3000, line_first);
  std::string train = insert_strays(train_source(), "[generale]\r\n", "t", 1500, train_first);
  train = replace_once(train, "t1200\r\n", "t1200\nmore\r\n");  // a lone LF on that line
  auto compile_keeping = [&](size_t kept, size_t& not_kept) {
    Model m;
    m.line_id = "QUELDRANO 2";
    m.train_number = "555";
    std::vector<Warning> warnings;
    Sources s;
    s.line = SourceFile{"line.txt", line, false};
    s.train = SourceFile{"train.txt", train, false};
    s.warnings = &warnings;
    s.max_kept_warnings = kept;
    EXPECT_EQ(compile_model(m, 1, s), PassOutcome::kReady);
    not_kept = s.warnings_not_kept;
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
    stray += "\" is not a record keyword; the line is ignored";
    if (!in_line && n == 1200) {
      EXPECT_EQ(all[i].text.rfind("a line ends with LF alone", 0), 0u) << all[i].text;
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

}  // namespace
}  // namespace compactor
