// The text of a source from its records, in the layout of the default scenario's sources: a
// section header on a line of its own, each record on one line with its values after commas,
// CR LF line ends, "[fine]" at the end.
#pragma once

#include <string>
#include <vector>

namespace compactor {

// One record as written: its keyword and its values, in the order the table of record kinds
// gives its fields.
struct SourceLine {
  std::string keyword;
  std::vector<std::string> values;
};

struct SourceSection {
  std::string header;  // "[curve]"
  std::vector<SourceLine> lines;
};

// The whole file: every section in order (a section without records keeps its header), then
// "[fine]". The general section puts four blanks after each comma, the others two.
std::string source_text(const std::vector<SourceSection>& sections);
// The same, a piece at a time: a section's header and records, then the end, added to `text`.
void append_section(std::string& text, const SourceSection& section);
void append_end(std::string& text);

}  // namespace compactor
