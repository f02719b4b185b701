// One place that formats every message the program prints about a source or a run.
#pragma once

#include <string>
#include <string_view>

#include "compiler/diagnostic.h"
#include "model/model.h"

namespace compactor {

// "FILE:LINE:COLUMN: error CODE: MESSAGE", "...: warning: MESSAGE" or "...: note: MESSAGE",
// followed by the source line and a caret under the field when the position in a source is known
// (`source` holds its bytes); "FILE: ..." when only the file is known; otherwise
// "compactor: ...". One trailing newline. Its notes are not included.
std::string format_diagnostic(const Diagnostic& d, std::string_view source);

// The message of an error: its detail, or else its meaning, then "(at N m)" for the errors that
// carry a position.
std::string error_message(int32_t code, int32_t position, const std::string& detail);

// A recorded error as a diagnostic, with its notes.
Diagnostic error_diagnostic(const RecordedError& e);

// The model's outcome, the error recorded last, formatted without its notes.
std::string format_error(const Model& m, std::string_view source);

// "FILE:LINE:COLUMN: warning: TEXT" with the source line and a caret.
std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text);

// "FILE:LINE:COLUMN: TEXT" with the source line and a caret.
std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text);

// "compactor: TEXT".
std::string format_note(const std::string& text);

}  // namespace compactor
