// What check and compile report about the sources: the warnings as shown and the summary line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/diagnostic.h"
#include "compiler/record_check.h"

namespace compactor {

// At most this many warnings are shown; a note counts the rest.
constexpr size_t kShownWarnings = 200;

// The bytes of the source named `file`, or empty when it is neither source or was not read.
std::string_view source_text(const Sources& s, const std::string& file);

// Each warning shown, formatted with its source line and caret, then the note that counts the
// ones not shown.
std::vector<std::string> format_warnings(const std::vector<Warning>& warnings, const Sources& s);

// "FILE:LINE:COLUMN: error 25: MESSAGE" ("warning: MESSAGE", "note: MESSAGE") with the source
// line (`source` holds the file's bytes) and a caret under the column, then each note the same
// way. A line end is CR LF or LF alone.
std::string format_diagnostic(const Diagnostic& d, std::string_view source);

// The records that cannot be read, as check lists them before the compile's own error: each one
// shown, but not the one that is the compile's own error (`m`), then a note that counts the ones
// not listed. `errors` is set to the number of errors they add to the run's count.
std::vector<std::string> format_record_failures(const RecordCheck& check, const Sources& s,
                                                const Model& m, int& errors);

// "2 warnings, 1 error".
std::string summary_line(int warnings, int errors);

}  // namespace compactor
