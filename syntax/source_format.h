// The canonical layout of a source, the layout of the default scenario's sources: every line
// ends in CR LF and starts at its first field, with no blank before it. Everything else (the
// blanks between fields, the blanks at a line's end, blank and remark lines, the order of the
// records) stays as the author wrote it. Only blanks and line ends that no reading of the source
// can see change: the non-blank bytes keep their order, a field's text keeps every byte, and the
// compile of the formatted source gives the same outputs, with or without the plan.
#pragma once

#include <string>
#include <string_view>

namespace compactor {

// The source in the canonical layout. A source that holds errors is formatted all the same: the
// changes touch only the bytes between fields, which every parse of the source leaves there.
// Formatting the result again gives it back unchanged.
std::string format_source(std::string_view bytes);

}  // namespace compactor
