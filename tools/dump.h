// Readable and JSON listings of the three binary outputs.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "format/decode.h"
#include "model/model.h"

namespace compactor {

// The records with their field names. Text: one line per record that is not cleared, then one
// line that lists the cleared ones ("records 0, 27-71: cleared"). JSON: one object per record.
std::string dump_records(const std::array<ScenarioItem, kItemCount>& items, size_t file_bytes,
                         bool json);

// One line (or object) per cell that is not all zero, with the name of its kind.
std::string dump_grid(const std::vector<TrackCell>& cells, size_t file_bytes, bool json);

// "metre x y" for every `every`-th metre; doubles with 17 significant digits so that they read
// back to the same bits. An empty value is "-" in the text and null in JSON.
std::string dump_plan(const Plan& plan, size_t file_bytes, int every, bool json);

// A JSON string literal. Bytes 0x80 and above are taken as Latin-1 characters.
std::string json_string(std::string_view text);

// A double with 17 significant digits ("%.17g").
std::string exact_double(double v);

}  // namespace compactor
