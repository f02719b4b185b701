#include "tools/lsp_outline.h"

#include <algorithm>
#include <cctype>

#include "compiler/fields.h"

namespace compactor::lsp {

namespace {

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Splits a source into fields as the compile's field reader does: a field ends at a comma or a
// line end (CR LF or LF); a number also at a blank.
class FieldScanner {
 public:
  explicit FieldScanner(std::string_view text) : text_(text) {}

  bool at_end() const { return pos_ >= text_.size(); }

  Span read_text() {
    size_t start = start_field();
    while (pos_ < text_.size() && text_[pos_] != ',' && line_end_length() == 0) ++pos_;
    Span s = trimmed(start, pos_);
    consume_terminator();
    return s;
  }

  Span read_number() {
    size_t start = start_field();
    while (pos_ < text_.size() && text_[pos_] != ',' && !is_blank(text_[pos_]) &&
           line_end_length() == 0) {
      ++pos_;
    }
    Span s = trimmed(start, pos_);
    skip_blanks();
    consume_terminator();
    return s;
  }

 private:
  size_t start_field() {
    skip_blanks();
    return pos_;
  }
  void skip_blanks() {
    while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
  }
  size_t line_end_length() const {
    if (text_[pos_] == '\n') return 1;
    return text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n' ? 2 : 0;
  }
  void consume_terminator() {
    if (pos_ >= text_.size()) return;
    if (text_[pos_] == ',') {
      ++pos_;
    } else {
      pos_ += line_end_length();
    }
  }
  Span trimmed(size_t start, size_t end) const {
    while (end > start && is_blank(text_[end - 1])) --end;
    return Span{static_cast<int64_t>(start), static_cast<int64_t>(end)};
  }

  std::string_view text_;
  size_t pos_ = 0;
};

bool is_section_header(std::string_view f) {
  return f.find('[') != std::string_view::npos && f.find(']') != std::string_view::npos;
}

bool matches_any(std::string_view field, RecordSection section) {
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section == section && kind.matches(field)) return true;
  }
  return false;
}

// Whether the compile warns that a keyword field of `section` that no record took is not a
// keyword: not an empty field, a header, nor a record of the line source's other section.
bool is_unknown(std::string_view field, RecordSection section) {
  if (field.find_first_not_of(' ') == std::string_view::npos || is_section_header(field)) {
    return false;
  }
  if (section == RecordSection::kTrain) return true;
  return !matches_any(field, RecordSection::kLineGeneral) &&
         !matches_any(field, RecordSection::kLineFeatures);
}

// Reads the values of every kind of `section` that the keyword field holds, in table order, as
// the compile does. Whether any kind took it.
bool read_records(FieldScanner& scanner, Outline& o, Span keyword, std::string_view field,
                  RecordSection section) {
  bool taken = false;
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section != section || !kind.matches(field)) continue;
    taken = true;
    OutlineRecord r{&kind, keyword, {}, static_cast<int>(o.headers.size()) - 1};
    for (const FieldDescription& described : kind.fields) {
      if (scanner.at_end()) break;
      r.fields.push_back(described.type == FieldType::kText ? scanner.read_text()
                                                            : scanner.read_number());
    }
    o.records.push_back(std::move(r));
  }
  return taken;
}

// Everything up to and including the "[generale]" field; false when there is none.
bool skip_to_general(FieldScanner& scanner, std::string_view text, Outline& o) {
  while (!scanner.at_end()) {
    Span s = scanner.read_text();
    std::string_view field = span_text(text, s);
    if (!contains_any_case(field, "[generale]")) continue;
    o.headers.push_back(SectionHeader{std::string(field), s});
    if (o.kind == SourceKind::kLine) o.general_start = s.end;
    return true;
  }
  return false;
}

// The edit distance of a and b: insertions, deletions, substitutions and swaps of two neighbours,
// letters compared without case.
size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  auto low = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = low(a[i - 1]) == low(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && low(a[i - 1]) == low(b[j - 2]) && low(a[i - 2]) == low(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The keywords an author writes for a kind: a curve's and a signal repetition's keyword holds
// what makes it complete ("curvad3", "ripetizione segnali 9 codici").
std::vector<std::string> written_keywords(const RecordKind& kind) {
  std::string keyword = kind.keyword;
  if (keyword == "curva") {
    std::vector<std::string> curves;
    for (char side : {'d', 's'}) {
      for (char k = '1'; k <= '6'; ++k) curves.push_back(keyword + side + k);
    }
    return curves;
  }
  if (keyword == "ripetizione segnali") return {keyword + " 9 codici", keyword + " 4 codici"};
  return {keyword};
}

}  // namespace

SourceKind source_kind_of(std::string_view file_name) {
  if (ends_with(file_name, "_linea.txt") && file_name.size() > 10) return SourceKind::kLine;
  size_t underscore = file_name.rfind('_');
  if (ends_with(file_name, "-.txt") && underscore != std::string_view::npos && underscore > 0 &&
      underscore + 5 < file_name.size()) {
    return SourceKind::kTrain;
  }
  return SourceKind::kOther;
}

Outline scan_outline(std::string_view text, SourceKind kind) {
  Outline o;
  o.kind = kind;
  FieldScanner scanner(text);
  if (kind == SourceKind::kOther || !skip_to_general(scanner, text, o)) return o;
  RecordSection section =
      kind == SourceKind::kLine ? RecordSection::kLineGeneral : RecordSection::kTrain;
  while (!scanner.at_end()) {
    Span s = scanner.read_text();
    std::string_view field = span_text(text, s);
    if (field.find('-') != std::string_view::npos) continue;  // a remark
    bool header = is_section_header(field);
    if (header) o.headers.push_back(SectionHeader{std::string(field), s});
    bool taken = read_records(scanner, o, s, field, section);
    if (!taken && is_unknown(field, section)) o.unknown.push_back(UnknownKeyword{s, section});
    if (header && section == RecordSection::kLineGeneral) {
      section = RecordSection::kLineFeatures;
      o.general_end = s.start;
    }
  }
  return o;
}

RecordSection section_at(const Outline& outline, int64_t offset) {
  if (outline.kind != SourceKind::kLine) return RecordSection::kTrain;
  if (outline.general_end >= 0 && offset > outline.general_end) return RecordSection::kLineFeatures;
  return RecordSection::kLineGeneral;
}

RecordAt record_at(const Outline& outline, int64_t offset) {
  const std::vector<OutlineRecord>& rs = outline.records;
  auto after =
      std::upper_bound(rs.begin(), rs.end(), offset,
                       [](int64_t at, const OutlineRecord& r) { return at < r.keyword.start; });
  if (after == rs.begin()) return {};
  int64_t keyword_start = std::prev(after)->keyword.start;
  // Several kinds may read one keyword field, one after the other.
  for (auto it = std::prev(after);; --it) {
    if (it->keyword.contains(offset)) return RecordAt{&*it, -1};
    for (size_t i = 0; i < it->fields.size(); ++i) {
      if (it->fields[i].contains(offset)) return RecordAt{&*it, static_cast<int>(i)};
    }
    if (it == rs.begin() || std::prev(it)->keyword.start != keyword_start) break;
  }
  return {};
}

std::string closest_keyword(std::string_view field, RecordSection section) {
  size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  field = field.substr(first, field.find_last_not_of(' ') + 1 - first);
  constexpr size_t kLongestKeyword = 40;  // a longer field is no misspelt keyword
  if (field.size() > kLongestKeyword) return "";
  std::string best;
  size_t best_distance = std::min<size_t>(2, field.size() / 3) + 1;
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section != section) continue;
    for (const std::string& keyword : written_keywords(kind)) {
      size_t d = edit_distance(field, keyword);
      if (d < best_distance) {
        best_distance = d;
        best = keyword;
      }
    }
  }
  return best;
}

}  // namespace compactor::lsp
