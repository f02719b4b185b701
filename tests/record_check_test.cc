// The pass that lists every record that cannot be read, and how check shows what it found.
#include "compiler/record_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "model/errors.h"
#include "scenario/texts.h"
#include "tools/check.h"
#include "tools/diagnostics.h"

namespace compactor {
namespace {

const std::string kLineName = "line.txt";
const std::string kTrainName = "train.txt";

std::string crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// A line source whose features start on line 4.
std::string line_with(const std::vector<std::string>& features) {
  return crlf({"[generale]", "lunghezza percorso,    20000", "[pendenze]"}) + crlf(features) +
         crlf({"[fine]"});
}

// A train source whose records start on line 2.
std::string train_with(const std::vector<std::string>& records) {
  return crlf({"[generale]"}) + crlf(records) + crlf({"[fine]"});
}

Sources sources(const std::string& line, const std::string& train) {
  Sources s;
  s.line = SourceFile{kLineName, line, false};
  s.train = SourceFile{kTrainName, train, false};
  return s;
}

struct Expected {
  std::string file;
  int32_t line, column, end_column;
  std::string message;
  int32_t stop_line, stop_column;  // where the field reader stops
};

struct Case {
  const char* name;
  std::string line;
  std::string train;
  std::vector<Expected> failures;
  bool with_plan = true;
};

const std::string kTrain = train_with({"velocita,   0,    30"});
const std::string kLine = line_with({"pendenza,  0,  1"});
const std::string kStation = "stazione, 0, 8, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 19,10, 0, PRIMA";

std::vector<Case> cases() {
  std::string long_text(70000, 'x');
  return {
      {"a missing tunnel type: at the end of its line",
       line_with({"montagna,   9500,  9550", "montagna,   9600,  9700,  2"}),
       kTrain,
       {{kLineName, 4, 24, 24,
         "montagna: the tunnel type (a whole number) is missing; the line ends here", 5, 1}}},
      {"letters in a number",
       line_with({"montagna,   95OO,  9550,  2"}),
       kTrain,
       {{kLineName, 4, 13, 17, "montagna: the start \"95OO\" is not a whole number", 4, 13}}},
      {"a unit after a number",
       line_with({"pendenza,  200m,  2"}),
       kTrain,
       {{kLineName, 4, 12, 16, "pendenza: the position \"200m\" is not a whole number", 4, 12}}},
      {"a decimal",
       kLine,
       train_with({"velocita,   0,  162.5"}),
       {{kTrainName, 2, 17, 22, "velocita: the speed \"162.5\" is not a whole number", 2, 17}}},
      {"a plus sign",
       kLine,
       train_with({"aderenza,   0,  +3"}),
       {{kTrainName, 2, 17, 19, "aderenza: the adhesion \"+3\" is not a whole number", 2, 17}}},
      {"too large for 32 bits",
       kLine,
       train_with({"velocita,   0,  99999999999"}),
       {{kTrainName, 2, 17, 28, "velocita: the speed 99999999999 is too large (at most 2147483647)",
         2, 17}}},
      {"too large for a byte",
       kLine,
       train_with({"stazione, 0, 256, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 19,10, 0, PRIMA"}),
       {{kTrainName, 2, 14, 17, "stazione: the station kind 256 is too large (at most 255)", 2,
         14}}},
      {"too small for 16 bits",
       kLine,
       train_with({"orologio,  19 -40000 30"}),
       {{kTrainName, 2, 15, 21, "orologio: the minutes -40000 is too small (at least -32768)", 2,
         15}}},
      {"an empty field",
       line_with({"montagna, 9500, , 2"}),
       kTrain,
       {{kLineName, 4, 17, 17, "montagna: the end (a whole number) is missing", 4, 17}}},
      {"the file ends inside a record",
       crlf({"[generale]", "lunghezza percorso,    20000", "[pendenze]", "montagna, 9500, 9550"}),
       kTrain,
       {{kLineName, 4, 21, 21,
         "montagna: the tunnel type (a whole number) is missing; the file ends here", 5, 1}}},
      {"a comment line that holds a keyword",
       line_with({"nota: qui la montagna", "pendenza,  100,  1"}),
       kTrain,
       {{kLineName, 4, 22, 22,
         "montagna: the start (a whole number) is missing; the line ends here", 5, 1}}},
      {"a curve, read only with the plan",
       line_with({"curvad3,  1OOO,  500"}),
       kTrain,
       {{kLineName, 4, 11, 15, "curva: the start \"1OOO\" is not a whole number", 4, 11}}},
      {"the general section",
       crlf({"[generale]", "lunghezza percorso,    228OOO", "sfondo uno,  x", "[fine]"}),
       kTrain,
       {{kLineName, 2, 24, 30,
         "lunghezza percorso: the line length \"228OOO\" is not a whole number", 2, 24},
        {kLineName, 3, 14, 15, "sfondo uno: the background \"x\" is not a whole number", 3, 14}}},
      {"a text too long to store",
       line_with({"cartello_indicatore,  100,  " + long_text}),
       kTrain,
       {{kLineName, 4, 29, 29,
         "cartello_indicatore: the text is too long (70000 bytes; at most 65535)", 4, 29}}},
      {"each of several, the line source first, the walk going on at the next line",
       line_with({"pendenza,  1OO,  1", "pendenza,  200,  x", "pendenza,  300,  3"}),
       train_with({"sabbia,  2OO", kStation, "velocita,   0"}),
       {{kLineName, 4, 12, 15, "pendenza: the position \"1OO\" is not a whole number", 4, 12},
        {kLineName, 5, 18, 19, "pendenza: the gradient \"x\" is not a whole number", 5, 18},
        {kTrainName, 2, 10, 13, "sabbia: the sand setting \"2OO\" is not a whole number", 2, 10},
        {kTrainName, 4, 14, 14,
         "velocita: the speed (a whole number) is missing; the line ends here", 5, 1}}},
      // What the readers take as it is.
      {"a curve without the plan", line_with({"curvad3,  1OOO,  500"}), kTrain, {}, false},
      {"tabs between fields", kLine, train_with({"velocita,\t0,\t30", "orologio,\t19\t7\t30"}), {}},
      {"a record over two lines",
       kLine,
       train_with({"segnale,    2100,   2, 3, 1", "   1, 0,    2,  2,1,1, 0"}),
       {}},
      {"a remark of hyphen fields",
       line_with({"-- qui la montagna --", "pendenza,  100,  1"}),
       kTrain,
       {}},
      {"records before [generale]",
       kLine,
       "velocita,  x,  y\r\n" + train_with({"velocita,   0,    30"}),
       {}},
      {"a station with an empty name",
       kLine,
       train_with({"stazione, 0, 8, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 19,10, 0,", "PRIMA"}),
       {}},
  };
}

TEST(RecordCheck, EachRecordThatCannotBeReadAtItsField) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    RecordCheck check = check_records(sources(c.line, c.train), c.with_plan);
    EXPECT_EQ(check.not_listed, 0);
    ASSERT_EQ(check.failures.size(), c.failures.size());
    for (size_t i = 0; i < c.failures.size(); ++i) {
      const Expected& e = c.failures[i];
      const RecordFailure& f = check.failures[i];
      EXPECT_EQ(f.diagnostic.file, e.file);
      EXPECT_EQ(f.diagnostic.line, e.line);
      EXPECT_EQ(f.diagnostic.column, e.column);
      EXPECT_EQ(f.diagnostic.end_column, e.end_column);
      EXPECT_EQ(f.diagnostic.message, e.message);
      EXPECT_EQ(f.diagnostic.severity, Diagnostic::Severity::kError);
      EXPECT_EQ(f.diagnostic.code, kErrReadFailure);
      EXPECT_EQ(f.stop_line, e.stop_line);
      EXPECT_EQ(f.stop_column, e.stop_column);
    }
  }
}

TEST(RecordCheck, LineEndsInLfAloneEndLines) {
  std::string line =
      "[generale]\nlunghezza percorso, 20000\n[pendenze]\nmontagna, 9500, 9550\n"
      "montagna, 9600, 9700, 2\n[fine]\n";
  RecordCheck check = check_records(sources(line, kTrain), true);
  ASSERT_EQ(check.failures.size(), 1u);
  const Diagnostic& d = check.failures[0].diagnostic;
  EXPECT_EQ(d.line, 4);
  EXPECT_EQ(d.column, 21);
  EXPECT_EQ(d.message, "montagna: the tunnel type (a whole number) is missing; the line ends here");
}

TEST(RecordCheck, TheWritersSourcesHoldNone) {
  Sources s = sources(text_from_table(line_source_table()), text_from_table(train_source_table()));
  EXPECT_TRUE(check_records(s, true).failures.empty());
  EXPECT_TRUE(check_records(s, false).failures.empty());
}

TEST(RecordCheck, ListsTwoHundredAndCountsTheRest) {
  std::vector<std::string> bad;
  for (int i = 0; i < 250; ++i) bad.push_back("pendenza,  " + std::to_string(i) + "OO,  1");
  RecordCheck check = check_records(sources(line_with(bad), kTrain), true);
  ASSERT_EQ(check.failures.size(), kListedRecordFailures);
  EXPECT_EQ(check.not_listed, 50);
  EXPECT_EQ(check.failures.back().diagnostic.line, 4 + 199);
}

// --- The same stop as the compile -------------------------------------------------------------

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

uint32_t next(uint32_t& seed, uint32_t below) {
  seed = seed * 1664525u + 1013904223u;
  return (seed >> 8) % below;
}

// One mistake an author makes in one line, from a seeded sequence: a field dropped, a letter in
// a number, a decimal, a unit, a sign, an empty field, or two lines joined.
std::string mutate(const std::string& text, uint32_t& seed) {
  std::vector<std::string> lines = split_lines(text);
  size_t n = next(seed, static_cast<uint32_t>(lines.size()));
  std::string& l = lines[n];
  std::vector<size_t> digits;
  for (size_t i = 0; i < l.size(); ++i) {
    if (l[i] >= '0' && l[i] <= '9') digits.push_back(i);
  }
  size_t d = digits.empty() ? l.size() : digits[next(seed, static_cast<uint32_t>(digits.size()))];
  switch (next(seed, 7)) {
    case 0:
      if (size_t comma = l.rfind(','); comma != std::string::npos) l.erase(comma);
      break;
    case 1:
      if (d < l.size()) l[d] = 'O';
      break;
    case 2:
      l.insert(d, ".5");
      break;
    case 3:
      l.insert(d, "m");
      break;
    case 4:
      l.insert(d, "+");
      break;
    case 5:
      if (size_t comma = l.find(','); comma != std::string::npos) l.insert(comma, ",");
      break;
    default:
      if (n + 1 < lines.size()) {
        l += lines[n + 1];
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(n) + 1);
      }
      break;
  }
  return crlf(lines);
}

// Where the compile stops with error 25 on a field, the pass lists that record first, at the same
// place and in the same words; where the pass lists a record, the compile records an error (there
// or before). Sources in CR LF with
// spaces, which the compile and the pass read alike.
TEST(RecordCheck, FirstFailureIsWhereTheCompileStops) {
  const std::string line = text_from_table(line_source_table());
  const std::string train = text_from_table(train_source_table());
  uint32_t seed = 14;
  int read_failures = 0;
  for (int i = 0; i < 240; ++i) {
    Sources s =
        i % 2 == 0 ? sources(mutate(line, seed), train) : sources(line, mutate(train, seed));
    SCOPED_TRACE("case " + std::to_string(i));
    Model m;
    m.line_id = "QUELDRANO 2";
    m.train_number = "555";
    compile_model(m, false, s);
    RecordCheck check = check_records(s, false);
    if (!check.failures.empty()) {
      EXPECT_NE(m.error_code, 0) << check.failures.front().diagnostic.message;
    }
    if (m.error_code != kErrReadFailure) continue;
    ++read_failures;
    ASSERT_FALSE(check.failures.empty()) << m.error_source.file << ":" << m.error_source.line;
    const RecordFailure& f = check.failures.front();
    EXPECT_EQ(f.diagnostic.file, m.error_source.file);
    // The compile's own error stands where the pass lists the record, and says the same.
    EXPECT_EQ(f.diagnostic.line, m.error_source.line) << f.diagnostic.message;
    EXPECT_EQ(f.diagnostic.column, m.error_source.column) << f.diagnostic.message;
    EXPECT_EQ(f.diagnostic.message, m.error_detail);
  }
  EXPECT_GT(read_failures, 0);
}

// --- As check shows them ----------------------------------------------------------------------

TEST(RecordCheck, ShownWithTheirLineButNotTwiceWithTheCompilesError) {
  std::string line =
      line_with({"montagna,   9500,  9550", "montagna,   9600,  9700,  2", "pendenza,  2OO,  1"});
  Sources s = sources(line, kTrain);
  RecordCheck check = check_records(s, true);
  ASSERT_EQ(check.failures.size(), 2u);
  check.not_listed = 3;

  Model m;  // the compile's own error: where the reader stopped on the first record
  m.error_code = kErrReadFailure;
  m.error_source = SourcePos{kLineName, 5, 1, 0};
  auto shown_by = [&](const Model& model, int& errors) {
    CheckReport report;
    add_record_failures(report, check, model);
    errors = report.errors;
    return format_report(report, s);
  };
  int errors = 0;
  std::vector<std::string> shown = shown_by(m, errors);
  EXPECT_EQ(errors, 4);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0],
            "line.txt:6:12: error 25: pendenza: the position \"2OO\" is not a whole number\n"
            "  pendenza,  2OO,  1\n"
            "             ^\n");
  EXPECT_EQ(shown[1], "compactor: 3 more records that cannot be read not listed\n");

  m.error_code = kErrBeyondGrid;  // another error: every record is shown
  shown = shown_by(m, errors);
  EXPECT_EQ(errors, 5);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0],
            "line.txt:4:24: error 25: montagna: the tunnel type (a whole number) is missing; the "
            "line ends here\n"
            "  montagna,   9500,  9550\n"
            "                         ^\n");
}

TEST(RecordCheck, DiagnosticFormats) {
  std::string source = "[generale]\nsfondo uno,  x\r\n";
  Diagnostic d{kLineName, 2, 14, 15, -1, Diagnostic::Severity::kWarning, 0, "", "a warning", {}};
  Diagnostic note{kLineName, 1, 1, 1, -1, Diagnostic::Severity::kNote, 0, "", "a note", {}};
  EXPECT_EQ(format_diagnostic(d, source) + format_diagnostic(note, source),
            "line.txt:2:14: warning: a warning\n"
            "  sfondo uno,  x\n"
            "               ^\n"
            "line.txt:1:1: note: a note\n"
            "  [generale]\n"
            "  ^\n");
  Diagnostic whole{kTrainName, 0, 0, 0, -1, Diagnostic::Severity::kError, 25, "", "it is gone", {}};
  EXPECT_EQ(format_diagnostic(whole, ""), "train.txt: error 25: it is gone\n");
}

}  // namespace
}  // namespace compactor
