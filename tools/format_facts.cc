#include "tools/format_facts.h"

#include <utility>
#include <vector>

#include "compiler/compile.h"
#include "syntax/record_kinds.h"
#include "format/layouts.h"
#include "model/roles.h"
#include "tools/colours.h"
#include "tools/dump.h"

namespace compactor {

namespace {

// The cell kinds the page draws, by the names its script gives them.
constexpr std::pair<const char*, CellKind> kPageCellKinds[] = {
    {"signal", kSignal},
    {"slowEnd", kSlowOrderEnd},
    {"slowStart", kSlowOrderStart},
    {"warningBoard", kWarningBoard},
    {"approach", kSlowOrderApproach},
    {"speedBoard", kSpeedBoard},
    {"stopMark", kStopMark},
    {"tunnelMarker", kTunnelMarker},
    {"codePoint", kCodePoint},
    {"codePointNoCode", kCodePointNoCode},
    {"indicationBoard", kIndicationBoard},
};

template <class Layout>
std::string field_names(const Layout& layout) {
  std::string out = "[";
  for_each_field(layout, [&out](const auto& f) {
    if (out.size() > 1) out += ',';
    out += json_string(f.name);
  });
  return out + "]";
}

// The words a kind's keyword test looks for.
std::vector<std::string> test_words(const RecordKind& kind) {
  std::vector<std::string> words;
  for (std::string_view word : kind.test.words) {
    if (!word.empty()) words.emplace_back(word);
  }
  return words;
}

bool test_ignores_case(const RecordKind& kind) {
  return kind.test.any_case;
}

// Text without a character that a pattern gives a meaning.
std::string pattern_literal(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// One kind's test: every word somewhere in the field, in any order.
std::string kind_pattern(const RecordKind& kind) {
  std::string all;
  for (const std::string& word : test_words(kind)) {
    all += "(?=[^,\\r\\n]*" + pattern_literal(word) + ")";
  }
  return test_ignores_case(kind) ? "(?i:" + all + ")" : all;
}

constexpr std::pair<RecordSection, const char*> kSectionTitles[] = {
    {RecordSection::kLineGeneral, "line source: general section"},
    {RecordSection::kLineFeatures, "line source: features"},
    {RecordSection::kTrain, "train source"},
};

void add_dictionary_entry(std::string& out, std::vector<std::string>& seen, const std::string& s) {
  for (const std::string& old : seen) {
    if (old == s) return;
  }
  seen.push_back(s);
  out += json_string(s) + "\n";
}

}  // namespace

std::string page_facts_json() {
  std::string out = "{\"recordFields\":" + field_names(kRecordLayout) +
                    ",\"cellFields\":" + field_names(kCellLayout) + ",\"cellKinds\":{";
  for (const auto& [name, kind] : kPageCellKinds) {
    if (out.back() != '{') out += ',';
    out += json_string(name) + ":" + std::to_string(static_cast<int>(kind));
  }
  out += "},\"insertedCode\":" + std::to_string(kInsertedCode) + ",\"colours\":{";
  for (const NamedColour& c : page_colours()) {
    if (out.back() != '{') out += ',';
    out += json_string(c.name) + ":" + json_string(c.value);
  }
  return out + "}}";
}

std::string grammar_keyword_pattern() {
  std::vector<std::string> alternatives;
  for (const RecordKind& kind : record_kinds()) {
    std::string p = kind_pattern(kind);
    bool known = false;
    for (const std::string& a : alternatives) known = known || a == p;
    if (!known) alternatives.push_back(std::move(p));
  }
  std::string any;
  for (const std::string& a : alternatives) any += (any.empty() ? "" : "|") + a;
  return "^[ \\t]*((?:" + any + ")[^,\\r\\n]*)";
}

std::string keyword_dictionary_lines() {
  std::string out;
  std::vector<std::string> seen;
  for (const auto& [section, title] : kSectionTitles) {
    out += std::string(out.empty() ? "" : "\n") + "# " + title + "\n";
    for (const RecordKind& kind : record_kinds()) {
      if (kind.section != section) continue;
      add_dictionary_entry(out, seen, kind.keyword);
      for (const std::string& word : test_words(kind)) add_dictionary_entry(out, seen, word);
      for (std::string_view form : kind.written) add_dictionary_entry(out, seen, std::string(form));
    }
  }
  return out;
}

std::optional<std::string> replace_between(std::string_view text, std::string_view begin,
                                           std::string_view end, std::string_view lines) {
  const size_t begin_at = text.find(begin);
  if (begin_at == std::string_view::npos) return std::nullopt;
  const size_t region = text.find('\n', begin_at);
  if (region == std::string_view::npos) return std::nullopt;
  const size_t end_at = text.find(end, region + 1);
  if (end_at == std::string_view::npos) return std::nullopt;
  const size_t end_line = text.rfind('\n', end_at) + 1;
  return std::string(text.substr(0, region + 1)) + std::string(lines) +
         std::string(text.substr(end_line));
}

}  // namespace compactor
