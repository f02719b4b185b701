// One place that formats every message the program prints about a source or a run.
#pragma once

#include <string>
#include <string_view>

#include "model/model.h"

namespace compactor {

// "FILE:LINE:COLUMN: SEVERITY CODE: MEANING (at POSITION m)" followed by the source line and a
// caret under the field when the position in a source is known (`source` holds its bytes);
// "FILE: ..." when only the file is known; otherwise "compactor: ...". One trailing newline.
std::string format_error(const Model& m, std::string_view source);

// "FILE:LINE:COLUMN: warning: TEXT" with the source line and a caret.
std::string format_warning(const SourcePos& pos, std::string_view source, const std::string& text);

// "FILE:LINE:COLUMN: TEXT" with the source line and a caret.
std::string format_at(const SourcePos& pos, std::string_view source, const std::string& text);

// "compactor: TEXT".
std::string format_note(const std::string& text);

}  // namespace compactor
