// One place that formats every message the program prints about a source or a run.
#pragma once

#include <string>
#include <string_view>

#include "model/model.h"

namespace compactor {

// With `color`, every message is coloured as compilers colour theirs on a terminal: the place
// ("FILE:LINE:COLUMN:", "compactor:") in bold, "error" red, "warning" magenta, "note" cyan and
// the caret green. Without it the text holds no escape sequence.

// "FILE:LINE:COLUMN: SEVERITY CODE: MEANING (at POSITION m)" followed by the source line and a
// caret under the field when the position in a source is known (`source` holds its bytes);
// "FILE: ..." when only the file is known; otherwise "compactor: ...". One trailing newline.
std::string format_error(const Model& m, std::string_view source, bool color = false);

// "FILE:LINE:COLUMN: warning: TEXT" with the source line and a caret.
std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text,
                           bool color = false);

// "compactor: TEXT".
std::string format_note(const std::string& text, bool color = false);

// What a part of a message is, for its colour.
enum class Paint { kPlace, kError, kWarning, kNote, kCaret };

// `text` in the colour of `paint` when `color`, else `text` as it is.
std::string painted(std::string_view text, Paint paint, bool color);

}  // namespace compactor
