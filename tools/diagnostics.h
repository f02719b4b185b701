// One place that formats every message the program prints about a source or a run.
//
// With `color`, every message is coloured as compilers colour theirs on a terminal: the place
// ("FILE:LINE:COLUMN:", "compactor:") in bold, "error" red, "warning" magenta, "note" cyan and
// the caret green. Without it the text holds no escape sequence.
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
std::string format_diagnostic(const Diagnostic& d, std::string_view source, bool color = false);

// The columns of a diagnostic's field counted in characters of its source (a valid UTF-8
// sequence is one character, any other byte one) rather than in bytes: what the messages and
// check --json show. Without the source, its byte columns.
struct CharacterColumns {
  int32_t column = 0;
  int32_t end_column = 0;
};
CharacterColumns character_columns(const Diagnostic& d, std::string_view source);

// The offset of column `column` (in bytes) of line `line`, lines ending at LF.
int64_t offset_of(std::string_view source, int32_t line, int32_t column);

// The message of an error: its detail, or else its meaning, then "(at N m)" for the errors that
// carry a position.
std::string error_message(int32_t code, int32_t position, const std::string& detail);

// A recorded error as a diagnostic, with its notes.
Diagnostic error_diagnostic(const RecordedError& e);

// The model's outcome, the error recorded last, formatted without its notes.
std::string format_error(const Model& m, std::string_view source, bool color = false);

// "FILE:LINE:COLUMN: warning: TEXT" with the source line and a caret.
std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text,
                           bool color = false);

// "FILE:LINE:COLUMN: TEXT" with the source line and a caret.
std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text);

// "compactor: TEXT".
std::string format_note(const std::string& text, bool color = false);

// `text` with its control characters escaped ("\x1b", "\r"), as every message that quotes a
// source writes them, so that a name from a source cannot drive the terminal.
std::string escaped_text(const std::string& text);

// The length of the UTF-8 sequence that starts at `at` (2 to 4 bytes, no overlong form, no
// surrogate, nothing above U+10FFFF), or 0 when the bytes there are not one.
size_t utf8_sequence_length(std::string_view text, size_t at);

// What a part of a message is, for its colour.
enum class Paint { kPlace, kError, kWarning, kNote, kCaret };

// `text` in the colour of `paint` when `color`, else `text` as it is.
std::string painted(std::string_view text, Paint paint, bool color);

}  // namespace compactor
