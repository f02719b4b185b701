// What the language server says about one open source: hover texts, completions, the outline of
// its records and quick fixes, each as the JSON result of its request. Pure functions of the
// text and its outline.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "tools/lsp_outline.h"
#include "tools/lsp_text.h"

namespace compactor::lsp {

// One open source as the features read it.
struct DocumentView {
  std::string_view uri;
  std::string_view text;
  const Outline& outline;
  const LineIndex& lines;
  PositionEncoding encoding;
};

// What a record kind does, for a hover on its keyword (Markdown).
std::string describe_keyword(const RecordKind& kind);

// What field `index` of a record is, for a hover on it (Markdown): its name, unit, meaning and
// range from the table and, for a position, the 50 m cell it falls in and the rule that places
// it. `values` are the record's fields as written.
std::string describe_field(const RecordKind& kind, size_t index,
                           const std::vector<std::string_view>& values);

// "cell 1041, 52,050 m": cell n stands for the 50 m from n × 50 m.
std::string cell_text(int64_t cell);

// The result of textDocument/hover: null when the position is on no keyword or field.
nlohmann::json hover(const DocumentView& doc, const Position& at);

// The result of textDocument/completion: section names after "[", else the record keywords of
// the section at the position, with a snippet of their fields when `snippets`.
nlohmann::json completion(const DocumentView& doc, const Position& at, bool snippets);

// The result of textDocument/documentSymbol: stations, tunnels, slow orders and signals under
// the section headers they come after.
nlohmann::json document_symbols(const DocumentView& doc);

// The result of textDocument/codeAction: the closest keyword for each misspelt keyword in the
// range, and CR LF for the lone CRs of the file. `context` is the request's context.
nlohmann::json code_actions(const DocumentView& doc, const Range& range,
                            const nlohmann::json& context);

// Range and position as JSON.
nlohmann::json to_json(const Position& p);
nlohmann::json to_json(const Range& r);

// The edits of document formatting: the whole text replaced by its canonical layout
// (syntax/source_format.h), or no edit when it is in that layout already.
nlohmann::json formatting_edits(const DocumentView& doc);

}  // namespace compactor::lsp
