// The driver's documents laid out from a scenario's facts: the slow-order form and the timetable
// card in the page layout of the default scenario's (the same boxes, columns and widths, CR LF),
// and a first notes file. What no source carries stays blank for the author to fill in.
#pragma once

#include <string>
#include <vector>

#include "model/documents.h"

namespace compactor {

// The rows of the printed grids.
inline constexpr size_t kFormGridRows = 27;
inline constexpr size_t kCardGridRows = 48;

// A document's bytes and what the layout had to do that the page does not hold as it stands
// (a grid run on, a name cut short).
struct LaidOutDocument {
  std::string bytes;
  std::vector<std::string> notices;
};

LaidOutDocument slow_order_form_document(const DocumentFacts& facts);
LaidOutDocument timetable_card_document(const DocumentFacts& facts);
LaidOutDocument notes_document(const DocumentFacts& facts);

}  // namespace compactor
