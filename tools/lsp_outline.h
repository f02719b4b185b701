// The records of a source as an author sees them: where each record's keyword and fields stand,
// the section headers, and the keyword fields that no record takes. A view of the source's
// syntax tree (syntax/tree.h), which reads as the compile does but never stops, so that an editor
// can explain every line of a source that does not compile yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/record_kinds.h"

namespace compactor::lsp {

// Which of the two sources a file is, by its name: "ID_linea.txt" or "ID_NUM-.txt".
enum class SourceKind : uint8_t { kLine, kTrain, kOther };
SourceKind source_kind_of(std::string_view file_name);

// A field's bytes: [start, end), trailing blanks left out.
struct Span {
  int64_t start = 0;
  int64_t end = 0;
  bool contains(int64_t offset) const { return offset >= start && offset <= end; }
};

struct OutlineRecord {
  const RecordKind* kind = nullptr;
  Span keyword;
  std::vector<Span> fields;  // as many as the file holds, at most the kind's number of fields
  int section = -1;          // the header it comes under (index into Outline::headers), or -1
  int64_t end() const { return fields.empty() ? keyword.end : fields.back().end; }
};

struct SectionHeader {
  std::string name;  // the field as written, "[stazioni]"
  Span span;
};

// A keyword field that no record of its section takes and that the compile warns about.
struct UnknownKeyword {
  Span span;
  RecordSection section;
};

struct Outline {
  SourceKind kind = SourceKind::kOther;
  std::vector<SectionHeader> headers;
  std::vector<OutlineRecord> records;  // in file order
  std::vector<UnknownKeyword> unknown;
  // The line source's general section: from the end of its "[generale]" field up to the start of
  // the header after it (-1: not there).
  int64_t general_start = -1;
  int64_t general_end = -1;
};

Outline scan_outline(std::string_view text, SourceKind kind);

// The section whose records a keyword at `offset` would start.
RecordSection section_at(const Outline& outline, int64_t offset);

// The record whose keyword or fields hold `offset`, with the field (-1: the keyword), or null.
struct RecordAt {
  const OutlineRecord* record = nullptr;
  int field = -1;
};
RecordAt record_at(const Outline& outline, int64_t offset);

// The bytes of a span.
inline std::string_view span_text(std::string_view text, const Span& s) {
  return text.substr(static_cast<size_t>(s.start), static_cast<size_t>(s.end - s.start));
}

}  // namespace compactor::lsp
