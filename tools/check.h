// What check and compile report about the sources: the warnings as shown and the summary line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compiler.h"

namespace compactor {

// At most this many warnings are shown; a note counts the rest.
constexpr size_t kShownWarnings = 200;

// The bytes of the source named `file`, or empty when it is neither source or was not read.
std::string_view source_text(const Sources& s, const std::string& file);

// Each warning shown, formatted with its source line and caret, then the note that counts the
// ones not shown (those in `warnings` past the first kShownWarnings, and s.warnings_not_kept).
std::vector<std::string> format_warnings(const std::vector<Warning>& warnings, const Sources& s);

// "2 warnings, 1 error".
std::string summary_line(int warnings, int errors);

}  // namespace compactor
