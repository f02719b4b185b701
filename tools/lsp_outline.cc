#include "tools/lsp_outline.h"

#include <algorithm>

#include "syntax/tree.h"

namespace compactor::lsp {

namespace {

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// A field's bytes without its trailing blanks.
Span span_of(const SourceSyntax& tree, const LexedField& f) {
  int64_t end = f.end;
  while (end > f.start && is_blank(tree.bytes[static_cast<size_t>(end - 1)])) --end;
  return Span{f.start, end};
}

// Whether the compile warns that a keyword field that no record took is not a keyword: not an
// empty field, a remark, a header, nor a record of the line source's other section.
bool is_unknown(std::string_view field, RecordSection section) {
  if (field.find_first_not_of(' ') == std::string_view::npos || is_remark(field) ||
      is_section_header(field)) {
    return false;
  }
  return misplaced_keyword(field, section) == nullptr;
}

// The record's fields as the tree holds them: the values read, then the field that cannot be
// read when the record holds it.
OutlineRecord outline_record(const SourceSyntax& tree, const SyntaxRecord& r, int section) {
  OutlineRecord out{r.kind, span_of(tree, tree.fields[r.keyword].at), {}, section};
  size_t held = r.value_count;
  const FieldFailure::Kind failure = r.failure.kind;
  if (failure != FieldFailure::kNone && failure != FieldFailure::kEndOfFile &&
      !r.failure.missing_above) {
    ++held;
  }
  for (size_t i = 0; i < held; ++i) {
    out.fields.push_back(span_of(tree, tree.fields[r.first_value + i].at));
  }
  return out;
}

// A keyword field of the tree into the outline: its header, its records, or an unknown keyword.
void add_keyword(const SourceSyntax& tree, const SyntaxField& f, Outline& o) {
  std::string_view text = field_text(tree, f.at);
  if (f.header) o.headers.push_back(SectionHeader{std::string(text), span_of(tree, f.at)});
  int section = static_cast<int>(o.headers.size()) - 1;
  for (uint32_t i = 0; i < f.record_count; ++i) {
    const SyntaxRecord& r = tree.records[f.first_record + i];
    if (!r.passed_over) o.records.push_back(outline_record(tree, r, section));
  }
  if (f.record_count == 0 && is_unknown(text, f.section)) {
    o.unknown.push_back(UnknownKeyword{span_of(tree, f.at), f.section});
  }
  if (f.header && f.section == RecordSection::kLineGeneral && o.general_end < 0) {
    o.general_end = f.at.start;
  }
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
  if (kind == SourceKind::kOther) return o;
  SourceRole role = kind == SourceKind::kLine ? SourceRole::kLine : SourceRole::kTrain;
  // The language server compiles with the plan.
  const SourceSyntax tree = parse_source(text, role, true);
  if (tree.general_field == UINT32_MAX) return o;
  const SyntaxField& general = tree.fields[tree.general_field];
  o.headers.push_back(
      SectionHeader{std::string(field_text(tree, general.at)), span_of(tree, general.at)});
  if (kind == SourceKind::kLine) o.general_start = span_of(tree, general.at).end;
  for (const SyntaxField& f : tree.fields) {
    if (f.kind == NodeKind::kKeyword) add_keyword(tree, f, o);
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

}  // namespace compactor::lsp
