#include "tools/source_fixes.h"

#include <algorithm>

#include "syntax/tree.h"

namespace compactor {

std::vector<SourceFix> keyword_fixes(std::string_view text, const lsp::Outline& outline) {
  std::vector<SourceFix> fixes;
  for (const lsp::UnknownKeyword& u : outline.unknown) {
    std::string_view field = text.substr(static_cast<size_t>(u.span.start),
                                         static_cast<size_t>(u.span.end - u.span.start));
    const char* keyword = closest_keyword(field, u.section != RecordSection::kTrain);
    if (keyword == nullptr) continue;
    fixes.push_back(SourceFix{u.span.start, u.span.end, keyword, "unknown-keyword"});
  }
  return fixes;
}

std::vector<SourceFix> line_end_fixes(std::string_view text) {
  std::vector<SourceFix> fixes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || (i + 1 < text.size() && text[i + 1] == '\n')) continue;
    const auto at = static_cast<int64_t>(i);
    fixes.push_back(SourceFix{at, at + 1, "\r\n", "lone-cr"});
  }
  return fixes;
}

std::vector<SourceFix> general_field_fixes(std::string_view text, bool line_source) {
  SourceParser parser(text, line_source ? SourceRole::kLine : SourceRole::kTrain, true);
  SyntaxItem item;
  while (parser.next(item) && item.field.kind == NodeKind::kBeforeGeneral) {
    if (item.field.header) return {};
    std::string_view field =
        text.substr(static_cast<size_t>(item.field.at.start),
                    static_cast<size_t>(item.field.at.end - item.field.at.start));
    if (!near_general_field(field)) continue;
    if (is_general_field(field)) return {};  // the last field, already "[generale]"
    const size_t last = field.find_last_not_of(" \t");
    const int64_t end = item.field.at.start + static_cast<int64_t>(last + 1);
    return {SourceFix{item.field.at.start, end, "[generale]", "no-general-section"}};
  }
  return {};
}

std::vector<SourceFix> source_fixes(std::string_view text, std::string_view file_name) {
  const lsp::SourceKind kind = lsp::source_kind_of(file_name);
  std::vector<SourceFix> fixes;
  if (kind != lsp::SourceKind::kOther) {
    fixes = keyword_fixes(text, lsp::scan_outline(text, kind));
    std::vector<SourceFix> general = general_field_fixes(text, kind == lsp::SourceKind::kLine);
    fixes.insert(fixes.end(), general.begin(), general.end());
  }
  std::vector<SourceFix> line_ends = line_end_fixes(text);
  fixes.insert(fixes.end(), line_ends.begin(), line_ends.end());
  std::stable_sort(fixes.begin(), fixes.end(),
                   [](const SourceFix& a, const SourceFix& b) { return a.start < b.start; });
  return fixes;
}

}  // namespace compactor
