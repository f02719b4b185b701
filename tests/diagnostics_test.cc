// What the compile's diagnostics say and where: read failures by record and field, every error
// in order, the note of a line error that stopped the train half, cab-code errors by slow order,
// and the JSON report.
#include "tools/diagnostics.h"

#include <gtest/gtest.h>

#include <map>

#include <nlohmann/json.hpp>

#include "model/errors.h"
#include "tests/test_support.h"
#include "tools/check.h"

namespace compactor {
namespace {

using test::SourceText;

// The report of a compile in memory, each diagnostic formatted as check prints it.
std::string report_of(const test::Compiled& c) {
  std::string out;
  for (const std::string& text : format_report(make_report(c.m, c.warnings), c.s)) out += text;
  return out;
}

TEST(ReadFailureMessages, NameTheRecordTheFieldAndWhatWasFound) {
  struct Case {
    const char* name;
    std::optional<std::string> line;
    std::optional<std::string> train;
    const char* first_line;  // the first line of the report
  };
  const std::string tunnel = "montagna,   9500,  9550,  2";
  const std::string line = SourceText::default_line();
  const std::string train = SourceText::default_train();
  const Case cases[] = {
      {"missing field at the line end",
       SourceText::default_line().replace(tunnel, "montagna,   9500,  9550"), train,
       "QUELDRANO 2_linea.txt:206:24: error 25: montagna: the tunnel type (a whole number) is "
       "missing; the line ends here"},
      {"letters in a number",
       SourceText::default_line().replace(tunnel, "montagna,   95OO,  9550,  2"), train,
       "QUELDRANO 2_linea.txt:206:13: error 25: montagna: the start \"95OO\" is not a whole "
       "number"},
      {"a unit after the number",
       SourceText::default_line().replace(tunnel, "montagna,   9500m,  9550,  2"), train,
       "QUELDRANO 2_linea.txt:206:13: error 25: montagna: the start \"9500m\" is not a whole "
       "number"},
      {"a number too large for its field", line,
       SourceText::default_train().replace("sabbia,    200", "sabbia,    40000"),
       "QUELDRANO 2_555-.txt:4:12: error 25: sabbia: the sand setting 40000 is too large (at most 32767)"},
      {"no train source", line, std::nullopt,
       "QUELDRANO 2_555-.txt: error 25: the train source does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Compiled r = test::compile_in_memory(c.line, c.train);
    EXPECT_EQ(r.m.error_code, kErrReadFailure);
    std::string report = report_of(r);
    EXPECT_EQ(report.substr(0, report.find('\n')), c.first_line) << report;
  }
}

TEST(ReadFailureMessages, ASpeedACellCannotHoldIsReportedAtItsOwnField) {
  std::string train = SourceText::default_train().text();
  size_t at = train.find("velocita,");
  ASSERT_NE(at, std::string::npos);
  size_t end = train.find("\r\n", at);
  const std::string first = train.substr(at, end - at);
  // The first speed record's speed becomes 1650 km/h: its fill fails at the next speed record.
  const std::string changed = first.substr(0, first.rfind(',') + 1) + " 1650";
  train.replace(at, first.size(), changed);
  test::Compiled r = test::compile_in_memory(SourceText::default_line().text(), train);
  ASSERT_EQ(r.m.error_code, kErrReadFailure);
  const int32_t line =
      1 + static_cast<int32_t>(std::count(train.begin(), train.begin() + at, '\n'));
  EXPECT_EQ(r.m.error_source.line, line);
  EXPECT_EQ(r.m.error_source.column, static_cast<int32_t>(changed.rfind(' ') + 2));
  EXPECT_NE(r.m.error_detail.find("velocita: the speed 1650 km/h"), std::string::npos)
      << r.m.error_detail;
}

// A tunnel past the end of the grid is an error of the line source, at its own line; the train
// half then stops at its first slow order, which a note shows. The outcome stays the same.
TEST(ErrorsWhereTheyArise, ALineErrorComesFirstWithANoteWhereTheTrainHalfStopped) {
  test::Compiled r =
      test::compile_in_memory(SourceText::default_line()
                                  .insert_before("montagna", {"montagna,   240000,  240550,  2"})
                                  .text(),
                              SourceText::default_train().text());
  EXPECT_EQ(r.m.error_code, kErrBeyondGrid);
  EXPECT_EQ(r.m.error_position, 19450);  // the outcome: where the train half stopped
  ASSERT_EQ(r.m.error_log.size(), 1u);
  const RecordedError& e = r.m.error_log[0];
  EXPECT_EQ(e.source.file, test::kLineSource);
  EXPECT_EQ(e.position, 240000);
  ASSERT_EQ(e.notes.size(), 1u);
  EXPECT_EQ(e.notes[0].pos.file, test::kTrainSource);
  EXPECT_EQ(e.notes[0].pos.line, 68);
  CheckReport report = make_report(r.m, r.warnings);
  EXPECT_EQ(summary_line(report), "0 warnings, 1 error; outcome: error 15 (at 19450 m)");
}

// Two slow orders whose start windows hold no free cell: both errors are reported, each at the
// slow-order record whose cells it concerns, in the order of the pass.
TEST(ErrorsWhereTheyArise, EveryCabCodeErrorNamesItsSlowOrder) {
  std::vector<std::string> blockers;
  for (int start : {5000, 9000}) {
    for (int back = 5; back <= 20; ++back) {
      blockers.push_back("abbattimento, " + std::to_string((start / 50 + 1 - back) * 50) + ", 0");
    }
  }
  std::vector<std::string> records = {"velocita, 0, 100"};
  records.insert(records.end(), blockers.begin(), blockers.end());
  records.push_back("rallentamento, 5000, 60, 200, 0, 0, 0");
  records.push_back("rallentamento, 9000, 60, 200, 0, 0, 0");
  test::Compiled r =
      test::compile_in_memory(SourceText::line(20000).text(), SourceText::train(records).text());
  ASSERT_GE(r.m.error_log.size(), 2u);
  int first_line = 0;
  for (const RecordedError& e : r.m.error_log) {
    EXPECT_EQ(e.code, kErrNoRoomBeforeStart);
    EXPECT_EQ(e.source.file, test::kTrainSource);
    EXPECT_GT(e.source.line, 0);
    EXPECT_GE(e.source.line, first_line);  // in the order of the pass
    first_line = e.source.line;
  }
  EXPECT_NE(r.m.error_log.front().source.line, r.m.error_log.back().source.line);
}

TEST(CheckJson, HoldsEveryDiagnosticWithItsFieldsAndTheOutcome) {
  test::Compiled r = test::compile_in_memory(
      SourceText::default_line()
          .replace("montagna,   9500,  9550,  2", "montagan,   9500,  9550,  2")
          .text(),
      SourceText::default_train().replace("stazione,   12200", "stazione,   12210").text());
  nlohmann::json j = nlohmann::json::parse(report_json(make_report(r.m, r.warnings), &r.s));
  EXPECT_EQ(j["columns"], "characters");
  EXPECT_EQ(j["warnings"], 0);
  EXPECT_EQ(j["errors"], 2);
  EXPECT_EQ(j["outcome"]["code"], 8);
  EXPECT_EQ(j["outcome"]["position"], 12210);
  ASSERT_EQ(j["diagnostics"].size(), 2u);
  // The misspelt keyword: an error of the program's own, with its name as its code.
  const auto& w = j["diagnostics"][0];
  EXPECT_EQ(w["severity"], "error");
  EXPECT_EQ(w["code"], "unknown-keyword");
  EXPECT_EQ(w["file"], test::kLineSource);
  EXPECT_EQ(w["line"], 206);
  EXPECT_EQ(w["column"], 1);
  const auto& e = j["diagnostics"][1];
  EXPECT_EQ(e["severity"], "error");
  EXPECT_EQ(e["code"], "8");
  EXPECT_EQ(e["number"], 8);
  EXPECT_FALSE(w.contains("number"));
  EXPECT_EQ(e["file"], test::kTrainSource);
  EXPECT_GT(e["end_column"].get<int>(), e["column"].get<int>());
  EXPECT_TRUE(e["notes"].is_array());
}

// The edits of check --json are the language server's quick fixes: the closest keyword over a
// misspelt one, CR LF over every lone CR of its file; a diagnostic with nothing to mend has none.
TEST(CheckJson, ListsTheEditsThatMendADiagnostic) {
  Sources s;
  std::vector<Warning> warnings;
  s.line = {test::kLineSource, SourceText::default_line()
                                   .replace("montagna,   9500,  9550,  2", "montagan,   9500,  9550,  2")
                                   .replace("[pendenze]\r\n", "[pendenze]\r")
                                   .text()};
  s.train = {test::kTrainSource, SourceText::default_train().text()};
  s.warnings = &warnings;
  Model m;
  compile_model(m, 1, s);
  nlohmann::json j = nlohmann::json::parse(report_json(make_report(m, warnings), &s));
  std::map<std::string, nlohmann::json> fixes;
  for (const auto& d : j["diagnostics"]) fixes[d["code"]] = d["fixes"];
  ASSERT_EQ(fixes["unknown-keyword"].size(), 1u);
  EXPECT_EQ(fixes["unknown-keyword"][0],
            (nlohmann::json{{"line", 205}, {"column", 1}, {"end_column", 9}, {"new_text", "montagna"}}));
  ASSERT_EQ(fixes["lone-cr"].size(), 1u);
  EXPECT_EQ(fixes["lone-cr"][0]["new_text"], "\r\n");
  EXPECT_EQ(fixes["lone-cr"][0]["end_column"].get<int>(),
            fixes["lone-cr"][0]["column"].get<int>() + 1);
  for (const auto& d : j["diagnostics"]) {
    if (d.contains("number")) {  // an error the compile records: no edit is known to mend it
      EXPECT_TRUE(d["fixes"].empty());
    }
  }
  // Without the sources the report names no edit.
  const nlohmann::json without_sources =
      nlohmann::json::parse(report_json(make_report(m, warnings)));
  for (const auto& d : without_sources["diagnostics"]) EXPECT_TRUE(d["fixes"].empty());
}

// A train source whose "[generale]" field is misspelt: the edit writes it over that field, blanks
// around it left as they are. A "[generale]" that is the file's last field is not read, and no
// edit mends it: the error says where the records go.
TEST(CheckJson, WritesTheGeneralFieldOverAMisspeltOne) {
  for (const char* written : {"[general]", "  [Generali]  ", "generale"}) {
    Sources s;
    std::vector<Warning> warnings;
    s.line = {test::kLineSource, SourceText::default_line().text()};
    s.train = {test::kTrainSource,
               SourceText::default_train().replace("[generale]", written).text()};
    s.warnings = &warnings;
    Model m;
    compile_model(m, 1, s);
    nlohmann::json j = nlohmann::json::parse(report_json(make_report(m, warnings), &s));
    ASSERT_EQ(j["diagnostics"].size(), 1u) << written;
    const auto& d = j["diagnostics"][0];
    EXPECT_EQ(d["code"], "no-general-section") << written;
    const std::string_view field =
        std::string_view(written).substr(std::string_view(written).find_first_not_of(' '));
    const int column = 1 + static_cast<int>(std::string_view(written).size() - field.size());
    const int end_column = column + static_cast<int>(field.find_last_not_of(' ') + 1);
    EXPECT_EQ(d["fixes"], (nlohmann::json::array({{{"line", 1},
                                                   {"column", column},
                                                   {"end_column", end_column},
                                                   {"new_text", "[generale]"}}})))
        << written;
  }
  Sources s;
  std::vector<Warning> warnings;
  s.line = {test::kLineSource, SourceText::default_line().text()};
  s.train = {test::kTrainSource, "velocita, 0, 100\r\n[generale]\r\n"};
  s.warnings = &warnings;
  Model m;
  compile_model(m, 1, s);
  nlohmann::json j = nlohmann::json::parse(report_json(make_report(m, warnings), &s));
  ASSERT_EQ(j["diagnostics"].size(), 1u);
  EXPECT_EQ(j["diagnostics"][0]["message"],
            "no \"[generale]\" field: nothing of the train source is read; the \"[generale]\" "
            "field is the file's last field, and the last field is never read: the records come "
            "after it");
  EXPECT_EQ(j["diagnostics"][0]["line"], 2);
  EXPECT_TRUE(j["diagnostics"][0]["fixes"].empty());
}

// An echoed source line and a quoted field cannot drive the terminal: every control byte (C0,
// DEL, C1 raw as in a Latin-1 source or written in UTF-8) is blanked in the line and escaped in
// the text; valid UTF-8 text stays as it is, continuation bytes 0x80 to 0x9F included.
TEST(EchoedSourceLines, BlankEveryControlByteAndKeepValidUtf8) {
  struct Case {
    const char* what;
    std::string line;   // the source line, 4 bytes of "abc," then the field
    std::string shown;  // what the echo shows
    std::string text;   // the message text, escaped in the headline
  };
  const Case cases[] = {
      {"C0 and DEL", "abc,\x1b[2J\x7f", "abc, [2J ", "\\x1b[2J\\x7f"},
      {"a raw C1 byte",
       "abc,\x9b"
       "31m\x85",
       "abc, 31m ",
       "\\x9b"
       "31m\\x85"},
      {"C1 in UTF-8, one character",
       "abc,\xc2\x9b"
       "31m",
       "abc, 31m",
       "\\xc2\\x9b"
       "31m"},
      {"a tab, shown as one", "abc,\tx", "abc,\tx", "\\tx"},
      {"UTF-8 letters with continuation bytes 0x80 to 0x9F", "abc,\xc3\x9b\xe2\x82\xac\xc2\xa0",
       "abc,\xc3\x9b\xe2\x82\xac\xc2\xa0", "\xc3\x9b\xe2\x82\xac\xc2\xa0"},
      {"Latin-1 letters", "abc,\xe8\xe0\xa0", "abc,\xe8\xe0\xa0", "\xe8\xe0\xa0"},
      {"a UTF-8 sequence cut short", "abc,\xe2\x82", "abc,\xe2 ", "\xe2\\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SourcePos pos{"L_linea.txt", 1, 5, 0, 0};
    const std::string source = c.line + "\r\nnext\r\n";
    const std::string shown = format_warning(pos, source, c.line.substr(4));
    EXPECT_EQ(shown, "L_linea.txt:1:5: warning: " + c.text + "\n  " + c.shown + "\n      ^\n");
  }
}

// Columns count characters: a UTF-8 sequence is one, a tab one. The caret line repeats the tabs
// before the caret, so that it stands under its character whatever a tab's width, and a field
// after a UTF-8 letter is placed in characters in the headline and in check --json alike.
TEST(EchoedSourceLines, ColumnsCountCharactersAndTheCaretFollowsTabs) {
  const std::string line = "\t\xc3\x80,x";  // tab, "À" in two bytes, comma, x at byte column 5
  SourcePos pos{"L_linea.txt", 1, 5, 4, 0};
  EXPECT_EQ(format_warning(pos, line + "\r\n", "x"),
            "L_linea.txt:1:4: warning: x\n  " + line + "\n  \t  ^\n");

  test::Compiled r =
      test::compile_in_memory(SourceText::default_line()
                                  .replace("(BIVIO PER)( SALERNO )", "(CITT\xc3\x80)( SALERNO ), 7")
                                  .text(),
                              SourceText::default_train().text());
  nlohmann::json j = nlohmann::json::parse(report_json(make_report(r.m, r.warnings), &r.s));
  ASSERT_EQ(j["diagnostics"].size(), 2u);
  const auto& letter = j["diagnostics"][0];  // the warning on the letter, then the stray "7"
  const auto& stray = j["diagnostics"][1];
  EXPECT_EQ(letter["code"], "text-character");
  EXPECT_EQ(letter["column"], 38);
  EXPECT_EQ(letter["end_column"], 38);
  EXPECT_EQ(stray["code"], "stray-value");
  EXPECT_EQ(stray["column"], 53);
  EXPECT_EQ(stray["end_column"], 54);
  ASSERT_EQ(r.warnings[0].name, "stray-value");
  EXPECT_EQ(r.warnings[0].pos.column, 54);  // in bytes, as the compile keeps it
}

}  // namespace
}  // namespace compactor
