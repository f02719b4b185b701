// The driver's documents: the slow-order form and the timetable card laid out from the sources in
// the default scenario's page layout, check's warnings about documents that do not follow the
// sources, and the documents command, which leaves an author's document alone without --force.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "compiler/document_facts.h"
#include "scenario/driver_documents.h"
#include "scenario/texts.h"
#include "tests/test_support.h"
#include "tools/document_check.h"

namespace compactor {
namespace {

using test::read_bytes;
using test::ScratchDir;
using test::SourceText;
using test::write_bytes;

std::vector<std::string> text_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Where the bars of a line stand: the columns of the page's boxes.
std::vector<size_t> bars(const std::string& line) {
  std::vector<size_t> at;
  for (size_t i = line.find('|'); i != std::string::npos; i = line.find('|', i + 1)) {
    at.push_back(i);
  }
  return at;
}

// Every line of the grid of `made` (the lines with more than four bars) has its bars where the
// default document's grid lines have theirs.
void expect_default_columns(const std::string& made, const std::string& fixed) {
  std::vector<size_t> columns;
  for (const std::string& line : text_lines(fixed)) {
    if (bars(line).size() > 4) columns = bars(line);
  }
  ASSERT_FALSE(columns.empty());
  int rows = 0;
  for (const std::string& line : text_lines(made)) {
    if (bars(line).size() <= 4) continue;
    EXPECT_EQ(bars(line), columns) << line;
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

struct RowValues {
  std::optional<int32_t> start, speed, length;
  bool operator==(const RowValues&) const = default;
};

std::vector<RowValues> row_values(const std::string& form) {
  std::vector<RowValues> values;
  for (const FormRow& r : form_rows(form)) values.push_back({r.start, r.speed, r.length});
  return values;
}

DocumentFacts default_facts() {
  return document_facts(test::default_model(), text_from_table(train_source_table()));
}

TEST(DriverDocuments, DefaultSourcesGiveTheFixedFormsRowsInItsLayout) {
  const std::string fixed = text_from_table(slow_order_form_table());
  const LaidOutDocument form = slow_order_form_document(default_facts());
  EXPECT_EQ(row_values(form.bytes), row_values(fixed));
  EXPECT_EQ(row_values(form.bytes).size(), 4u);
  expect_default_columns(form.bytes, fixed);
  // Only the line's name and the rows' stretches differ from the fixed form.
  const std::vector<std::string> made = text_lines(form.bytes), want = text_lines(fixed);
  ASSERT_EQ(made.size(), want.size());
  for (size_t i = 0; i < made.size(); ++i) {
    if (i == 4 || (i >= 12 && i < 16)) continue;
    EXPECT_EQ(made[i], want[i]) << "line " << i + 1;
  }
  EXPECT_EQ(made[4], "  Linea  QUELDRANO 2");
}

TEST(DriverDocuments, CardShowsTheCompiledStationsTimesAndSpeedLimits) {
  const std::string fixed = text_from_table(timetable_card_table());
  const LaidOutDocument card = timetable_card_document(default_facts());
  expect_default_columns(card.bytes, fixed);
  const std::vector<std::string> lines = text_lines(card.bytes);
  EXPECT_EQ(lines[4], " |   TRENO n. 555     |            da: ROMA TERMINI      |              |");
  EXPECT_EQ(lines[5], " |____________________|             a: NAPOLI CENTRALE   |    135 %     |");
  EXPECT_EQ(lines[17],
            " |  30 |     |   0.000  |     | ROMA TERMINI               | 19.10          |     |");
  EXPECT_EQ(lines[18],
            " |  60 |     |   0.500  |     |                            |                |     |");
  // Every station of the records, one row each; the speed limit's last change before the end.
  for (const DocumentStation& s : default_facts().stations) {
    EXPECT_NE(card.bytes.find("| " + s.name + " "), std::string::npos) << s.name;
  }
  EXPECT_NE(card.bytes.find(" |  95 |     | 211.200  |"), std::string::npos);
  EXPECT_EQ(card.bytes.find("234.900"), std::string::npos);  // past the line's end
  ASSERT_EQ(card.notices.size(), 1u);                        // 52 rows: the grid runs on
  EXPECT_NE(card.notices[0].find("52 rows, more than the 48"), std::string::npos);
}

TEST(DriverDocuments, RowsBeyondTheGridAndLongNamesAreLaidOutAndSaid) {
  DocumentFacts facts;
  facts.train_number = "12345678901234";
  facts.stations = {{0, 0, 400, "A", std::nullopt},
                    {90000, 89600, 90400, "UNA STAZIONE DAL NOME MOLTO LUNGO", 3600}};
  facts.slow_orders.push_back({200, 30, 100});  // inside A's extent
  for (int32_t i = 1; i < 30; ++i) facts.slow_orders.push_back({i * 1000, 30, 100});
  const LaidOutDocument form = slow_order_form_document(facts);
  EXPECT_EQ(form_rows(form.bytes).size(), 30u);
  EXPECT_NE(form.bytes.find(" | 1 | A                          |Km 0.200    |"), std::string::npos);
  expect_default_columns(form.bytes, text_from_table(slow_order_form_table()));
  EXPECT_NE(form.bytes.find("| A - UNA STAZIONE DAL NOME. |"), std::string::npos);
  bool ran_on = false;
  for (const std::string& n : form.notices) {
    ran_on = ran_on || n.find("has 30 rows, more than the 27") != std::string::npos;
  }
  EXPECT_TRUE(ran_on);
  const LaidOutDocument card = timetable_card_document(facts);
  ASSERT_TRUE(card_train(card.bytes).has_value());
  EXPECT_EQ(card_train(card.bytes)->number, facts.train_number);  // the box widens
  EXPECT_NE(card.bytes.find("| UNA STAZIONE DAL NOME MOLT.| 01.00 "), std::string::npos);
  EXPECT_EQ(card.notices.size(), 3u);  // the box, the name on its row, the name as last station
}

TEST(DriverDocuments, ACutNameKeepsItsUtf8CharactersWhole) {
  DocumentFacts facts;
  facts.train_number = "555";
  // The cut at 26 bytes falls inside the two bytes of the À.
  facts.stations = {{0, 0, 400, "A", std::nullopt},
                    {9000, 8600, 9400, std::string(25, 'B') + "\xC3\x80" "CD", std::nullopt},
                    {18000, 17600, 18400, "Z", std::nullopt}};
  const LaidOutDocument card = timetable_card_document(facts);
  EXPECT_NE(card.bytes.find("| " + std::string(25, 'B') + ". |"), std::string::npos);
  EXPECT_EQ(card.bytes.find('\xC3'), std::string::npos);
  expect_default_columns(card.bytes, text_from_table(timetable_card_table()));
}

TEST(DocumentCheck, FormCellsAreReadWithTheirSignAndNothingThatIsNoNumberMatches) {
  const struct {
    const char* cells;  // the kilometre, speed and length cells of a row
    RowValues values;
  } cases[] = {
      {"Km 19.450   |  40 Km/h |   300   ", {19450, 40, 300}},
      {"Km -0.500   | -40 Km/h |  -300   ", {-500, -40, -300}},
      {"Km abc      |  xx Km/h |   ?     ", {std::nullopt, std::nullopt, std::nullopt}},
      // Past what a whole number holds: no value, rather than one that wrapped round.
      {"Km 9999999.999|  40 Km/h | 1234567890", {std::nullopt, 40, std::nullopt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cells);
    const std::string form =
        " | 1 | A - B                      |" + std::string(c.cells) + "|            |\r\n";
    EXPECT_EQ(row_values(form), std::vector<RowValues>{c.values});
  }
}

#ifndef _WIN32
using test::run_compactor;

constexpr const char* kAuthorTrain = "MIA_777-.txt";
constexpr const char* kAuthorForm = "MIA_777_rallentamenti.txt";
constexpr const char* kAuthorCard = "MIA_777_scheda_treno.txt";

// An author's scenario: another identity, two stations taken out and one added, a slow order
// moved to 66 km at 60 km/h and the first one moved to 150 km, after the others.
void write_author_scenario(const ScratchDir& dir) {
  write_bytes(dir.file("MIA_linea.txt"), text_from_table(line_source_table()));
  SourceText train = SourceText::default_train();
  train.erase_line("stazione,  122500").erase_line("stazione,  128700");
  train.insert_before("stazione,   70200",
                      {"stazione,   65500, 12,  500,  0, 0, 1,  1,1,0,  4,1,1,    0,  19,30, 0, "
                       "BORGO NUOVO"});
  train.replace("rallentamento,  119250,    40,  200", "rallentamento,   66000,    60,  200");
  train.replace("rallentamento,   19450,    40,  300", "rallentamento,  150000,    40,  300");
  write_bytes(dir.file(kAuthorTrain), train);
}

// The warnings about the slow-order form and the timetable card in a report, leaving out the
// others (a control character in a station name has its own).
std::vector<std::string> stale_warnings(const std::string& err) {
  std::vector<std::string> found;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    const bool about_a_document = line.find("slow-order form") != std::string::npos ||
                                  line.find("timetable card") != std::string::npos;
    if (line.find(": warning: ") != std::string::npos && about_a_document) found.push_back(line);
    start = end + 1;
  }
  return found;
}

TEST(DocumentsCommand, AuthorsScenarioGetsItsOwnDocumentsAndCheckIsSilentAboutThem) {
  ScratchDir dir;
  write_author_scenario(dir);
  test::Result made = run_compactor({"documents", dir.str()});
  ASSERT_EQ(made.exit_status, 0) << made.err;
  const std::string form = read_bytes(dir.file(kAuthorForm));
  const std::string card = read_bytes(dir.file(kAuthorCard));
  EXPECT_EQ(row_values(form),
            (std::vector<RowValues>{
                {37300, 50, 200}, {66000, 60, 200}, {150000, 40, 300}, {194800, 80, 750}}));
  EXPECT_NE(form.find("| BORGO NUOVO - SEZZE ROMANO |Km 66.000   |"), std::string::npos);
  EXPECT_EQ(card_train(card)->number, "777");
  EXPECT_EQ(form_train(form)->number, "777");
  EXPECT_NE(card.find("| BORGO NUOVO                | 19.30 "), std::string::npos);
  EXPECT_EQ(card.find("ITRI"), std::string::npos);
  EXPECT_EQ(card.find("FORMIA"), std::string::npos);
  EXPECT_EQ(read_bytes(dir.file("MIA_777_note.txt")),
            "Treno 777 da ROMA TERMINI a NAPOLI CENTRALE\r\n");
  test::Result checked = run_compactor({"check", dir.str()});
  EXPECT_EQ(checked.exit_status, 0);
  EXPECT_EQ(checked.err, "compactor: 0 warnings, 0 errors\n");
}

TEST(DocumentsCommand, CheckWarnsForEachDisagreementOfAStaleFormAndCard) {
  ScratchDir dir;
  write_author_scenario(dir);
  write_bytes(dir.file(kAuthorForm), text_from_table(slow_order_form_table()));
  write_bytes(dir.file(kAuthorCard), text_from_table(timetable_card_table()));
  test::Result checked = run_compactor({"check", dir.str(), "--werror"});
  EXPECT_EQ(checked.exit_status, 1);
  const std::vector<std::string> warnings = stale_warnings(checked.err);
  ASSERT_EQ(warnings.size(), 6u) << checked.err;
  EXPECT_NE(warnings[0].find(std::string(kAuthorForm) + ":7:1: warning: the slow-order form "
                                                        "names train 555, not the scenario's 777"),
            std::string::npos);
  const std::string train = read_bytes(dir.file(kAuthorTrain));
  const size_t moved = train.find("rallentamento,   66000");
  ASSERT_NE(moved, std::string::npos);
  const std::string moved_line = std::to_string(text_lines(train.substr(0, moved)).size() + 1);
  // In the order of the train source: the slow order moved to 150 km stands first there.
  EXPECT_NE(warnings[1].find("does not list this slow order (150.000 km, 40 km/h, 300 m)"),
            std::string::npos);
  EXPECT_NE(warnings[2].find(std::string(kAuthorTrain) + ":" + moved_line +
                             ":1: warning: the slow-order form"),
            std::string::npos)
      << warnings[2];
  EXPECT_NE(warnings[2].find("does not list this slow order (66.000 km, 60 km/h, 200 m)"),
            std::string::npos);
  EXPECT_NE(warnings[3].find(std::string(kAuthorForm) +
                             ":13:1: warning: this row of the "
                             "slow-order form (19.450 km, 40 km/h, 300 m) matches no slow order"),
            std::string::npos);
  EXPECT_NE(warnings[4].find(std::string(kAuthorForm) +
                             ":15:1: warning: this row of the "
                             "slow-order form (119.250 km, 40 km/h, 200 m) matches no slow order"),
            std::string::npos);
  EXPECT_NE(warnings[5].find(std::string(kAuthorCard) +
                             ":5:1: warning: the timetable card names train 555, not the "
                             "scenario's 777"),
            std::string::npos);
}

TEST(DocumentsCommand, CheckWarnsWhenARowDiffersFromItsSlowOrderInOneValue) {
  ScratchDir dir;
  write_author_scenario(dir);
  ASSERT_EQ(run_compactor({"documents", dir.str()}).exit_status, 0);
  const std::string form = read_bytes(dir.file(kAuthorForm));
  // The speed, the length and the kilometre of one row each changed.
  const std::pair<std::string, std::string> edits[] = {
      {"|  60 Km/h |   200   |", "|  65 Km/h |   200   |"},
      {"|  50 Km/h |   200   |", "|  50 Km/h |   250   |"},
      {"|Km 66.000   |", "|Km 66.050   |"}};
  for (const auto& [from, to] : edits) {
    SCOPED_TRACE(to);
    std::string stale = form;
    ASSERT_NE(stale.find(from), std::string::npos);
    stale.replace(stale.find(from), from.size(), to);
    write_bytes(dir.file(kAuthorForm), stale);
    const test::Result checked = run_compactor({"check", dir.str()});
    const std::vector<std::string> warnings = stale_warnings(checked.err);
    ASSERT_EQ(warnings.size(), 2u) << checked.err;
    EXPECT_NE(warnings[0].find("does not list this slow order"), std::string::npos);
    EXPECT_NE(warnings[1].find("matches no slow order"), std::string::npos);
  }
}

TEST(DocumentsCommand, CheckIsSilentAboutWhatDocumentsWroteForOddValuesAndTrainNumbers) {
  const struct {
    const char* train_number;
    const char* slow_order;
  } cases[] = {
      {"777", "rallentamento,   66000,    -5, -300"},     // read as the source gives them
      {"7 di 7", "rallentamento,   66000,    60,  200"},  // " di " ends the number in the form
      {"7|7", "rallentamento,   66000,    60,  200"},     // the bar ends it in the card
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.train_number);
    ScratchDir dir;
    write_bytes(dir.file("MIA_linea.txt"), text_from_table(line_source_table()));
    SourceText train = SourceText::default_train();
    train.replace("rallentamento,  119250,    40,  200", c.slow_order);
    write_bytes(dir.file("MIA_" + std::string(c.train_number) + "-.txt"), train);
    const test::Result made = run_compactor({"documents", dir.str()});
    ASSERT_EQ(made.exit_status, 0) << made.err;
    const test::Result checked = run_compactor({"check", dir.str()});
    EXPECT_EQ(checked.err, "compactor: 0 warnings, 0 errors\n");
  }
}

TEST(DocumentsCommand, AFormRowWithoutNumbersIsNamedAsSuchAndAQuotedNameCannotDriveATerminal) {
  ScratchDir dir;
  write_author_scenario(dir);
  SourceText train(read_bytes(dir.file(kAuthorTrain)));
  train.replace("BORGO NUOVO", "BORGO \x1b[2J NUOVO CON UN NOME LUNGO");
  write_bytes(dir.file(kAuthorTrain), train);
  const test::Result made = run_compactor({"documents", dir.str()});
  ASSERT_EQ(made.exit_status, 0) << made.err;
  EXPECT_EQ(made.err.find('\x1b'), std::string::npos) << made.err;
  EXPECT_NE(made.err.find("the station name \"BORGO \\x1b[2J NUOVO"), std::string::npos);
  std::string form = read_bytes(dir.file(kAuthorForm));
  const std::string blank =
      " |   |                            |            |          |         |            |";
  ASSERT_NE(form.find(blank), std::string::npos);
  form.replace(
      form.find(blank), blank.size(),
      " | 9 | X                          |Km abc      |  xx Km/h |   ?     |            |");
  write_bytes(dir.file(kAuthorForm), form);
  const std::vector<std::string> warnings = stale_warnings(run_compactor({"check", dir.str()}).err);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("this row of the slow-order form (? km, ? km/h, ? m) matches no"),
            std::string::npos)
      << warnings[0];
}

TEST(DocumentsCommand, LeavesAnAuthorsDocumentAloneWithoutForce) {
  ScratchDir dir;
  write_author_scenario(dir);
  write_bytes(dir.file(kAuthorCard), "my own card\r\n");
  write_bytes(dir.file("MIA_777_note.txt"), "my notes\r\n");
  const auto before = test::snapshot(dir.path());
  test::Result refused = run_compactor({"documents", dir.str()});
  EXPECT_EQ(refused.exit_status, 3);
  EXPECT_NE(refused.err.find(dir.file(kAuthorCard) + " exists and differs from the document made "
                                                     "from the sources; --force overwrites it"),
            std::string::npos);
  EXPECT_EQ(test::snapshot(dir.path()), before);  // not even the form, which was not there
  test::Result forced = run_compactor({"documents", dir.str(), "--force"});
  EXPECT_EQ(forced.exit_status, 0);
  EXPECT_EQ(card_train(read_bytes(dir.file(kAuthorCard)))->number, "777");
  EXPECT_EQ(read_bytes(dir.file("MIA_777_note.txt")), "my notes\r\n");  // notes: never replaced
  // What it wrote it may write again.
  EXPECT_EQ(run_compactor({"documents", dir.str()}).exit_status, 0);
}

TEST(DocumentsCommand, SourcesThatHoldAnErrorWriteNothing) {
  ScratchDir dir;
  write_author_scenario(dir);
  SourceText train(read_bytes(dir.file(kAuthorTrain)));
  train.replace("stazione,   12200", "stazione,   12210");  // off the 50 m grid: error 8
  write_bytes(dir.file(kAuthorTrain), train);
  const auto before = test::snapshot(dir.path());
  test::Result r = run_compactor({"documents", dir.str()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(test::snapshot(dir.path()), before);
}

TEST(DocumentsCommand, TheDefaultScenarioKeepsItsFixedTextsAndCheckIsSilent) {
  ScratchDir dir;
  ASSERT_EQ(run_compactor({"sources", dir.str()}).exit_status, 0);
  const test::Result checked = run_compactor({"check", dir.str()});
  EXPECT_EQ(checked.err, "compactor: 0 warnings, 0 errors\n");
  // The build run still writes the fixed texts, not the generated ones.
  EXPECT_EQ(read_bytes(test::default_run().file(test::kForm)),
            text_from_table(slow_order_form_table()));
  EXPECT_EQ(read_bytes(test::default_run().file(test::kCard)),
            text_from_table(timetable_card_table()));
}
#endif  // _WIN32

}  // namespace
}  // namespace compactor
