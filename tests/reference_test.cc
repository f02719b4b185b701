// The authors' reference, docs/formats.md, against the program: its record tables against the
// table of record kinds, its table of errors against the program's error numbers.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "syntax/record_kinds.h"
#include "model/errors.h"

namespace compactor {
namespace {

using Row = std::vector<std::string>;  // the cells of a table row, trimmed
using Table = std::vector<Row>;        // the rows under the header, in order

std::string trim(const std::string& s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

Row cells_of(const std::string& line) {
  Row cells;
  std::string inner = line.substr(1, line.rfind('|') - 1);
  std::stringstream in(inner);
  for (std::string cell; std::getline(in, cell, '|');) cells.push_back(trim(cell));
  return cells;
}

// Every Markdown table of `text` whose header row is `header`, in document order.
std::vector<Table> tables_with_header(const std::string& text, const std::string& header) {
  std::vector<Table> tables;
  std::stringstream in(text);
  bool in_table = false;
  for (std::string line; std::getline(in, line);) {
    bool row = !line.empty() && line[0] == '|';
    if (!row) {
      in_table = false;
    } else if (line == header) {
      tables.emplace_back();
      in_table = true;
    } else if (in_table && line.rfind("|---", 0) != 0) {
      tables.back().push_back(cells_of(line));
    }
  }
  return tables;
}

std::string formats_md() {
  std::ifstream in(COMPACTOR_SOURCE_DIR "/docs/formats.md", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << "cannot read " COMPACTOR_SOURCE_DIR "/docs/formats.md";
  return text.str();
}

// The first `...` span of a cell.
std::string first_code_span(const std::string& cell) {
  size_t open = cell.find('`');
  size_t close = open == std::string::npos ? open : cell.find('`', open + 1);
  return close == std::string::npos ? "" : cell.substr(open + 1, close - open - 1);
}

const char* type_word(FieldType type) {
  switch (type) {
    case FieldType::kInt16:
      return "16-bit";
    case FieldType::kUint8:
      return "byte";
    case FieldType::kText:
      return "text";
    case FieldType::kInt32:
      break;
  }
  return "";
}

// A record's values as the reference lists them: `name` (unit, type), ... with a 32-bit number's
// type and an empty unit left out.
std::string values_cell(const RecordKind& kind) {
  std::string out;
  for (const FieldDescription& f : kind.fields) {
    if (!out.empty()) out += ", ";
    out += std::string("`") + f.name + "`";
    std::string unit = f.unit;
    std::string type = type_word(f.type);
    std::string note = unit.empty() || type.empty() ? unit + type : unit + ", " + type;
    if (!note.empty()) out += " (" + note + ")";
  }
  return out;
}

// The three record tables (general section, feature part, train source) list every record kind
// of their section in the order its keyword is tested, with its keyword test and its values.
TEST(ReferenceTest, RecordTablesListEveryKindWithItsTestAndValues) {
  const std::vector<Table> tables =
      tables_with_header(formats_md(), "| Record | Keyword test | Values | What it does |");
  const RecordSection sections[] = {RecordSection::kLineGeneral, RecordSection::kLineFeatures,
                                    RecordSection::kTrain};
  ASSERT_EQ(tables.size(), std::size(sections))
      << "docs/formats.md: one record table for each section";
  for (size_t t = 0; t < tables.size(); ++t) {
    std::vector<const RecordKind*> kinds;
    for (const RecordKind& k : record_kinds()) {
      if (k.section == sections[t]) kinds.push_back(&k);
    }
    ASSERT_EQ(tables[t].size(), kinds.size()) << "docs/formats.md: record table " << t + 1;
    for (size_t r = 0; r < kinds.size(); ++r) {
      const RecordKind& kind = *kinds[r];
      const Row& row = tables[t][r];
      ASSERT_EQ(row.size(), 4u) << "docs/formats.md: the row of " << kind.keyword;
      EXPECT_EQ(first_code_span(row[0]), kind.keyword)
          << "docs/formats.md: record table " << t + 1 << ", row " << r + 1;
      EXPECT_EQ(row[1], keyword_test_text(kind)) << "docs/formats.md: the keyword test of " << kind.keyword;
      EXPECT_EQ(row[2], values_cell(kind)) << "docs/formats.md: the values of " << kind.keyword;
    }
  }
}

// The table of errors lists every error number the program knows, in increasing order, each
// with the meaning its report prints.
TEST(ReferenceTest, ErrorTableListsEveryErrorWithItsMeaning) {
  const std::vector<Table> tables =
      tables_with_header(formats_md(), "| Error | Meaning | What to do |");
  ASSERT_EQ(tables.size(), 1u) << "docs/formats.md: one table of errors";
  std::vector<int32_t> codes;
  for (int32_t code = 1; code < 10000; ++code) {
    if (*error_meaning(code) != '\0') codes.push_back(code);
  }
  const Table& table = tables[0];
  ASSERT_EQ(table.size(), codes.size()) << "docs/formats.md: rows of the table of errors";
  for (size_t r = 0; r < codes.size(); ++r) {
    const int32_t code = codes[r];
    std::string meaning = error_meaning(code);
    if (error_has_position(code)) meaning += " (at P m)";
    ASSERT_EQ(table[r].size(), 3u) << "docs/formats.md: the row of error " << code;
    EXPECT_EQ(table[r][0], std::to_string(code)) << "docs/formats.md: row " << r + 1;
    EXPECT_EQ(table[r][1], meaning) << "docs/formats.md: the meaning of error " << code;
    EXPECT_FALSE(table[r][2].empty()) << "docs/formats.md: what to do about error " << code;
  }
}

// The error numbers are the simulator's and the authors' own: a report, an exit status or a
// script may key on them, so each constant holds its number and no other.
TEST(ReferenceTest, ErrorConstantsHoldTheirNumbers) {
  struct Case {
    const char* name;
    ErrorCode constant;
    int32_t number;
  };
  const Case cases[] = {
      {"kErrLineTooLong", kErrLineTooLong, 1},
      {"kErrChainage", kErrChainage, 2},
      {"kErrRepetitionStart", kErrRepetitionStart, 3},
      {"kErrRepetitionEnd", kErrRepetitionEnd, 4},
      {"kErrRepetitionDigit", kErrRepetitionDigit, 5},
      {"kErrBoardOccupied", kErrBoardOccupied, 6},
      {"kErrCodePointOccupied", kErrCodePointOccupied, 7},
      {"kErrStationPosition", kErrStationPosition, 8},
      {"kErrStationLength", kErrStationLength, 9},
      {"kErrStationSlot", kErrStationSlot, 10},
      {"kErrNoRoomBeforeSignal", kErrNoRoomBeforeSignal, 11},
      {"kErrNoRoomBeforeStart", kErrNoRoomBeforeStart, 12},
      {"kErrNoRoomInSlowOrder", kErrNoRoomInSlowOrder, 13},
      {"kErrBeyondGrid", kErrBeyondGrid, 15},
      {"kErrSignalOccupied", kErrSignalOccupied, 16},
      {"kErrWarningBoardOccupied", kErrWarningBoardOccupied, 17},
      {"kErrStartOccupied", kErrStartOccupied, 18},
      {"kErrEndOccupied", kErrEndOccupied, 19},
      {"kErrApproachOccupied", kErrApproachOccupied, 20},
      {"kErrSpeedBoardOccupied", kErrSpeedBoardOccupied, 21},
      {"kErrStationSpacing", kErrStationSpacing, 22},
      {"kErrStopMark", kErrStopMark, 24},
      {"kErrReadFailure", kErrReadFailure, 25},
      {"kErrNoLineSource", kErrNoLineSource, 101},
      {"kErrNoGeneralSection", kErrNoGeneralSection, 102},
      {"kErrCurve", kErrCurve, 103},
      {"kErrNoLineLength", kErrNoLineLength, 104},
      {"kErrLineLengthNotPositive", kErrLineLengthNotPositive, 105},
      {"kErrTooManyTunnels", kErrTooManyTunnels, 106},
      {"kErrNoBoardSlot", kErrNoBoardSlot, 107},
      {"kErrStampsSet", kErrStampsSet, 1250},
      {"kErrCodesSet", kErrCodesSet, 1251},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int32_t>(c.constant), c.number) << c.name;
    EXPECT_STRNE(error_meaning(c.number), "") << c.name;
  }
}

}  // namespace
}  // namespace compactor
