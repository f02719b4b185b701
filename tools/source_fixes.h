// The edits that mend what a diagnostic points at, as byte spans of a source: the closest keyword
// for a misspelt one, "[generale]" for a field close to it, CR LF for a lone CR. The language
// server offers them as quick fixes and check --json lists them with the diagnostic they mend:
// both take them from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lsp_outline.h"

namespace compactor {

struct SourceFix {
  int64_t start = 0;      // the bytes [start, end) are replaced
  int64_t end = 0;
  std::string new_text;
  std::string_view mends;  // the name of the warning it mends ("unknown-keyword", "lone-cr")
};

// For each keyword field of the outline that no record takes and that is close to a keyword of
// its section: the edit that writes that keyword over it.
std::vector<SourceFix> keyword_fixes(std::string_view text, const lsp::Outline& outline);

// For a source with no "[generale]" field: the edit that writes it over the first field that
// comes close to it, the field the compile's error stands at.
std::vector<SourceFix> general_field_fixes(std::string_view text, bool line_source);

// For each lone CR of the text: the edit that makes it CR LF.
std::vector<SourceFix> line_end_fixes(std::string_view text);

// Both, for a source of the kind its file name shows, in the order of their bytes.
std::vector<SourceFix> source_fixes(std::string_view text, std::string_view file_name);

}  // namespace compactor
