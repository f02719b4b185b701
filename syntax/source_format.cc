#include "syntax/source_format.h"

#include "syntax/lexer.h"

namespace compactor {

namespace {

// The blanks that start the line at `at` and their end; a line of blanks that ends the file is
// kept, since the empty field that a parse reads there is one more field before the end.
size_t leading_blanks_end(std::string_view bytes, size_t at) {
  size_t end = at;
  while (end < bytes.size() && is_blank(bytes[end])) ++end;
  return end == bytes.size() ? at : end;
}

}  // namespace

// The lexer skips the blanks before every field, so the blanks that start a line are never a
// field's bytes; a line end is CR LF or LF alone, and a CR on its own is a field's byte, so it
// stays. Every LF alone gets the CR before it.
std::string format_source(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 32);
  size_t at = leading_blanks_end(bytes, 0);
  while (at < bytes.size()) {
    const size_t line_end = line_end_length(bytes, at);
    if (line_end == 0) {
      out.push_back(bytes[at++]);
      continue;
    }
    out.append("\r\n");
    at = leading_blanks_end(bytes, at + line_end);
  }
  return out;
}

}  // namespace compactor
