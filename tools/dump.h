// Readable and JSON listings of the three binary outputs.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "format/decode.h"
#include "model/model.h"

namespace compactor {

// Where a listing goes: it gathers the text in `buffer` and passes it to `write` whenever the
// buffer holds kChunkBytes or more, and at the end. `write` returns false when it could not take
// the text; the sink then passes nothing more, and the listing stops and returns false.
struct TextSink {
  static constexpr size_t kChunkBytes = 64 * 1024;

  std::function<bool(std::string_view)> write;
  std::string buffer;
  bool failed = false;

  // Passes the buffer to `write` once it holds kChunkBytes or more. False once a write failed.
  bool spill();
  // Passes whatever the buffer holds. False once a write failed.
  bool flush();
};

// The records with their field names. Text: one line per record that is not cleared, then one
// line that lists the cleared ones ("records 0, 27-71: cleared"). JSON: one object per record.
bool dump_records(const std::array<ScenarioItem, kItemCount>& items, size_t file_bytes, bool json,
                  TextSink& sink);
std::string dump_records(const std::array<ScenarioItem, kItemCount>& items, size_t file_bytes,
                         bool json);

// One line (or object) per cell that is not all zero, with the name of its kind, decoded cell by
// cell from the file's bytes.
bool dump_grid(const GridBytes& grid, bool json, TextSink& sink);
// The same listing of cells held decoded.
std::string dump_grid(const std::vector<TrackCell>& cells, size_t file_bytes, bool json);

// "metre x y" for every `every`-th metre, decoded value by value from the file's bytes; doubles
// with 17 significant digits so that they read back to the same bits. An empty value is "-" in
// the text and null in JSON.
bool dump_plan(const LineBytes& line, int every, bool json, TextSink& sink);

// A JSON string literal. Bytes 0x80 and above are taken as Latin-1 characters.
std::string json_string(std::string_view text);

// A double with 17 significant digits ("%.17g").
std::string exact_double(double v);

}  // namespace compactor
