// The syntax layer: the tree of a source holds every byte once, reads as the compile does and
// goes on after a record that cannot be read; the keyword tests and their descriptions agree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/errors.h"
#include "syntax/encoding.h"
#include "syntax/tree.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::SourceText;

// The nodes follow one another from the first byte to the last, and print the source again.
void expect_whole(const std::string& bytes, SourceRole role, bool with_plan) {
  SourceSyntax tree = parse_source(bytes, role, with_plan);
  int64_t at = 0;
  for (const SyntaxNode& n : tree.nodes) {
    ASSERT_EQ(n.start, at) << "a gap or an overlap before a node";
    ASSERT_LT(n.start, n.end) << "an empty node";
    at = n.end;
  }
  EXPECT_EQ(at, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(print_tree(tree), bytes);
}

TEST(SyntaxTree, PrintsEverySourceBackByteForByte) {
  std::string utf16;
  for (char c : std::string("[generale]\r\nlunghezza percorso, 20000\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  const std::string inputs[] = {
      SourceText::default_line().text(),
      SourceText::default_train().text(),
      "",
      "\r",
      "[generale]\rpendenza, 100, 5\r[fine]",  // lone CRs: one long field
      "pendenza, 100, 5\r\nsabbia, 3\r\n",     // no [generale]
      "\xff\xfe" + utf16,                      // UTF-16
      "[generale]\r\n[fine]\r\npendenza, 100, 5\r\nafter, the, end, marker",
      "[generale]\nlunghezza percorso, abc, 7\npendenza, 1\n  montagna, 1,\n2, x\n",
      "[generale]\r\n- a\r\n- b\r\n- c\r\n",  // the file ends after remarks
      "[generale]\r\nstazione, 100, 1, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0",
      ",,,\t, \r\n\r\n[generale],\t\r\n  ,curvad3,1 2 3,\r\n",
  };
  for (const std::string& bytes : inputs) {
    for (SourceRole role : {SourceRole::kLine, SourceRole::kTrain}) {
      for (bool with_plan : {true, false}) {
        SCOPED_TRACE(testing::Message() << "role " << static_cast<int>(role) << ", plan "
                                        << with_plan << ", source \"" << bytes << "\"");
        expect_whole(bytes, role, with_plan);
      }
    }
  }
}

// What a node holds, for a short look at a tree.
std::vector<std::string> node_texts(const SourceSyntax& tree, NodeKind kind) {
  std::vector<std::string> out;
  for (const SyntaxNode& n : tree.nodes) {
    if (n.kind == kind) out.emplace_back(tree.bytes.substr(n.start, n.end - n.start));
  }
  return out;
}

TEST(SyntaxTree, KeepsAFailedRecordAndGoesOnAtTheNextLine) {
  const std::string line =
      "intro\r\n[generale]\r\nlunghezza percorso, 20000\r\n- a remark\r\n[curve]\r\n"
      "curvad3, 100, 200\r\nmontagna, 100, x, 3\r\npendenza, 100, 5\r\n[fine]\r\n";
  SourceSyntax tree = parse_source(line, SourceRole::kLine, true);
  ASSERT_EQ(tree.records.size(), 4u);
  EXPECT_EQ(tree.records[0].kind->id, KindId::kLineLength);
  EXPECT_EQ(tree.fields[tree.records[0].first_value].value, 20000);
  EXPECT_EQ(tree.records[1].kind->id, KindId::kCurve);
  EXPECT_EQ(tree.records[1].value_count, 2u);
  const SyntaxRecord& tunnel = tree.records[2];
  EXPECT_EQ(tunnel.kind->id, KindId::kTunnel);
  EXPECT_EQ(tunnel.value_count, 1u);
  EXPECT_EQ(tunnel.failure.kind, FieldFailure::kNotANumber);
  EXPECT_EQ(tunnel.failure.field, 1u);
  EXPECT_EQ(field_text(tree, tunnel.failure.at), "x");
  EXPECT_EQ(tree.records[3].kind->id, KindId::kGradient);
  EXPECT_EQ(tree.records[3].failure.kind, FieldFailure::kNone);
  EXPECT_EQ(node_texts(tree, NodeKind::kUnread), std::vector<std::string>{", 3"});
  EXPECT_EQ(node_texts(tree, NodeKind::kRemark), std::vector<std::string>{"- a remark"});
  EXPECT_EQ(node_texts(tree, NodeKind::kBeforeGeneral),
            (std::vector<std::string>{"intro", "[generale]"}));
  EXPECT_EQ(node_texts(tree, NodeKind::kLast), std::vector<std::string>{"[fine]"});
  EXPECT_EQ(tree.end, SourceEnd::kEndOfFile);

  // Without the plan the curve's keyword alone is passed over: its values become keyword fields.
  SourceSyntax no_plan = parse_source(line, SourceRole::kLine, false);
  ASSERT_EQ(no_plan.records.size(), 4u);
  EXPECT_TRUE(no_plan.records[1].passed_over);
  EXPECT_EQ(no_plan.records[1].value_count, 0u);
  std::vector<std::string> keywords = node_texts(no_plan, NodeKind::kKeyword);
  EXPECT_NE(std::find(keywords.begin(), keywords.end(), "200"), keywords.end());
}

// A number that is not one at the start of a line after the record's field before: the field is
// missing above, and the line is read again as a record of its own.
TEST(SyntaxTree, ReadsTheLineAgainAfterAFieldMissingAbove) {
  SourceSyntax tree = parse_source("[generale]\r\nsabbia,\r\naderenza, 100, 7\r\n[fine]\r\n",
                                   SourceRole::kTrain, true);
  ASSERT_EQ(tree.records.size(), 2u);
  EXPECT_EQ(tree.records[0].kind->id, KindId::kSand);
  // "sabbia," ends its line with an empty field: read as a number, it is missing on that line.
  EXPECT_EQ(tree.records[0].failure.kind, FieldFailure::kNotANumber);
  EXPECT_FALSE(tree.records[0].failure.missing_above);
  SourceSyntax above = parse_source("[generale]\r\nsabbia\r\naderenza, 100, 7\r\n[fine]\r\n",
                                    SourceRole::kTrain, true);
  ASSERT_EQ(above.records.size(), 2u);
  EXPECT_TRUE(above.records[0].failure.missing_above);
  EXPECT_EQ(above.records[1].kind->id, KindId::kAdhesion);
  EXPECT_EQ(above.records[1].value_count, 2u);
}

// The description of each keyword test, as the documentation shows it, says what the test does:
// a field with the described words matches, without any one of them it does not, and letter
// case counts unless the description says "any case".
TEST(KeywordTests, DoWhatTheirDescriptionSays) {
  for (const RecordKind& kind : record_kinds()) {
    const std::string description = keyword_test_text(kind);
    SCOPED_TRACE(description);
    std::vector<std::string> words;
    for (size_t open = description.find('"'); open != std::string::npos;) {
      size_t close = description.find('"', open + 1);
      words.push_back(description.substr(open + 1, close - open - 1));
      open = description.find('"', close + 1);
    }
    ASSERT_FALSE(words.empty());
    const bool any_case = description.ends_with(", any case");
    std::string all;
    for (const std::string& w : words) all += w + " ";
    EXPECT_TRUE(matches(kind, all));
    EXPECT_TRUE(matches(kind, kind.keyword)) << "the kind's own keyword";
    std::string upper = all;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(matches(kind, upper), any_case);
    for (size_t left_out = 0; left_out < words.size(); ++left_out) {
      std::string some;
      for (size_t i = 0; i < words.size(); ++i) {
        if (i != left_out) some += words[i] + " ";
      }
      EXPECT_FALSE(matches(kind, some)) << "without \"" << words[left_out] << "\"";
    }
  }
}

// The compile's error 25 stands over the field that cannot be read, from its first byte to one
// past its last; a missing field is a place.
TEST(ReadFailures, CoverTheFieldThatCannotBeRead) {
  struct Case {
    const char* sand;  // the sand line
    int32_t column, end_column;
  };
  const Case cases[] = {
      {"sabbia, abc", 9, 12},
      {"sabbia,    99999", 12, 17},  // above the 16 bits of the sand setting
      {"sabbia,    -", 12, 13},
  };
  for (const Case& c : cases) {
    test::Compiled r = test::compile_in_memory(
        SourceText::default_line(), SourceText::default_train().replace("sabbia,    200", c.sand));
    ASSERT_EQ(r.m.error_code, kErrReadFailure) << c.sand;
    EXPECT_EQ(r.m.error_source.column, c.column) << c.sand;
    EXPECT_EQ(r.m.error_source.end_column, c.end_column) << c.sand;
  }
}

// A source in a wider encoding is told by its byte order mark or, without one, by where its NUL
// bytes stand; a NUL in no such pattern is no text; UTF-8, with or without its mark, and Latin-1
// are 8-bit text.
TEST(SourceEncodings, AreToldByTheMarkOrTheirNulBytes) {
  const std::string text = "[generale]\r\nsabbia, 1\r\n[fine]\r\n";
  auto wide = [&text](size_t width, bool little) {
    std::string out;
    for (char c : text) {
      std::string unit(width, '\0');
      unit[little ? 0 : width - 1] = c;
      out += unit;
    }
    return out;
  };
  struct Case {
    const char* what;
    std::string bytes;
    SourceEncoding encoding;
    bool mark;
  };
  const Case cases[] = {
      {"ASCII", text, SourceEncoding::kEightBit, false},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + text + "CITT\xC3\x80", SourceEncoding::kEightBit,
       false},
      {"Latin-1", text + "CITT\xC0", SourceEncoding::kEightBit, false},
      {"UTF-16 LE with its mark", "\xFF\xFE" + wide(2, true), SourceEncoding::kUtf16Le, true},
      {"UTF-16 BE with its mark", "\xFE\xFF" + wide(2, false), SourceEncoding::kUtf16Be, true},
      {"UTF-16 LE without a mark", wide(2, true), SourceEncoding::kUtf16Le, false},
      {"UTF-16 BE without a mark", wide(2, false), SourceEncoding::kUtf16Be, false},
      {"UTF-32 LE with its mark", std::string("\xFF\xFE\0\0", 4) + wide(4, true),
       SourceEncoding::kUtf32Le, true},
      {"UTF-32 BE without a mark", wide(4, false), SourceEncoding::kUtf32Be, false},
      {"UTF-32 LE without a mark", wide(4, true), SourceEncoding::kUtf32Le, false},
      {"a NUL in text", text + std::string(1, '\0') + text, SourceEncoding::kNotText, false},
      {"NUL bytes alone", std::string(4096, '\0'), SourceEncoding::kNotText, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const EncodingFound found = detect_encoding(c.bytes);
    EXPECT_EQ(found.encoding, c.encoding);
    EXPECT_EQ(found.byte_order_mark, c.mark);
  }
}

}  // namespace
}  // namespace compactor
