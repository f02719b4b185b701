#include "decompiler/source_layout.h"

namespace compactor {

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kGeneralHeader = "[generale]";

void append_line(std::string& text, const SourceLine& line, const char* separator) {
  text += line.keyword;
  for (const std::string& value : line.values) {
    text += separator;
    text += value;
  }
  text += kLineEnd;
}

}  // namespace

void append_section(std::string& text, const SourceSection& section) {
  text += section.header;
  text += kLineEnd;
  const char* separator = section.header == kGeneralHeader ? ",    " : ",  ";
  for (const SourceLine& line : section.lines) append_line(text, line, separator);
}

void append_end(std::string& text) {
  text += "[fine]";
  text += kLineEnd;
}

std::string source_text(const std::vector<SourceSection>& sections) {
  std::string text;
  for (const SourceSection& section : sections) append_section(text, section);
  append_end(text);
  return text;
}

}  // namespace compactor
