// What check and compile report about the sources: the diagnostics, the summary line, and the
// same as one JSON document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/diagnostic.h"
#include "compiler/record_check.h"

namespace compactor {

// At most this many warnings and this many errors are shown; a note counts the rest.
constexpr size_t kShownWarnings = 200;
constexpr size_t kShownErrors = 200;

struct CheckReport {
  std::vector<Diagnostic> diagnostics;  // the warnings shown, then the errors shown, in order
  int warnings = 0;                     // all of them, shown or not
  int errors = 0;
  int warnings_not_shown = 0;
  int errors_not_shown = 0;
  int64_t records_not_listed = 0;  // records that cannot be read, found after the listed ones
  int own_errors = 0;              // errors of the program's own: fields that are not read
  int32_t outcome_code = 0;        // the error the outputs were built with (0: none)
  int32_t outcome_position = 0;
};

// The report of a compile: its warnings, the program's own errors among `warnings`, every error
// the compile recorded, and its outcome.
CheckReport make_report(const Model& m, const std::vector<Warning>& warnings,
                        size_t warnings_not_kept = 0, size_t errors_not_kept = 0);

// Adds the records that cannot be read, after the warnings and before the compile's errors, but
// not the one that is the compile's own error 25.
void add_record_failures(CheckReport& report, const RecordCheck& check, const Model& m);

// Adds an error that ends the run before the outputs (the stamps or integrity codes set).
void add_run_error(CheckReport& report, int32_t code);

// The bytes of the source named `file`, or empty when it is neither source or was not read.
std::string_view source_text(const Sources& s, const std::string& file);

// Each diagnostic of the report formatted with its source line and caret, its notes after it,
// and the notes that count what was not shown.
std::vector<std::string> format_report(const CheckReport& report, const Sources& s,
                                       bool color = false);

// "2 warnings, 1 error" and, when an error was recorded, "; outcome: error 15 (at 19450 m)", or
// "; outcome: no error" when only the program's own errors were.
std::string summary_line(const CheckReport& report);
// "2 warnings, 1 error".
std::string summary_line(int warnings, int errors);

// {"columns": "characters", "diagnostics": [...], "warnings": N, "errors": N,
//  "outcome": {"code": N, "position": M}}; columns counted in the sources of `s` when they are
// given. Each diagnostic's "code" is a string: the number of an error the compile records
// ("16", with "number": 16 beside it) or the name of a warning or of an error of the program's
// own; its "fixes" are the edits that mend it, found in `s`.
std::string report_json(const CheckReport& report, const Sources* s = nullptr);

// A problem that ends the run before there is a report (a usage error, a source that cannot be
// read), as a document of the same shape: one error diagnostic with the string `code` ("usage",
// "cannot-read", ...) and no place, and "outcome": null.
std::string problem_json(const std::string& code, const std::string& message);

}  // namespace compactor
