// Reading the three binary outputs back into the model's record types.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/line_stream.h"
#include "model/model.h"

namespace compactor {

enum class OutputKind { kRecords, kGrid, kLine };

// The kind of output a file name stands for: ".sim" records, "_linea.dat" line, other ".dat"
// grid; nullopt for any other name.
std::optional<OutputKind> output_kind_of_name(std::string_view name);
// "sim", "grid" or "line" as given to --as.
std::optional<OutputKind> output_kind_of_word(std::string_view word);

// Where a file stops fitting its format, and why.
struct DecodeError {
  size_t offset = 0;
  std::string reason;
};

// The 87 records. Fails when the file ends inside a record or goes on after record 86.
std::optional<std::array<ScenarioItem, kItemCount>> decode_records(std::string_view bytes,
                                                                   DecodeError& error);

// A grid output whose length is a whole number of cells, as check_grid found it.
struct GridBytes {
  std::string_view bytes;
  size_t cells = 0;
};

// Checks the length of a grid output without decoding it. Fails when the length is not a whole
// number of cells.
std::optional<GridBytes> check_grid(std::string_view bytes, DecodeError& error);

// Cell `index` of a grid output, which `bytes` must hold whole.
TrackCell decode_cell(std::string_view bytes, size_t index);

// The cells, 15 bytes each. Fails as check_grid does.
std::optional<std::vector<TrackCell>> decode_grid(std::string_view bytes, DecodeError& error);

// The plan: x and y of every metre, as stored (tags kept).
struct Plan {
  std::vector<TaggedValue> x;
  std::vector<TaggedValue> y;
};

// What check_line finds in a line output that decodes whole: x(0 .. points - 1) from offset 0,
// then y(0 .. points - 1) from y_offset.
struct LineShape {
  size_t points = 0;
  uint64_t y_offset = 0;
  // The values of both halves by tag.
  size_t empty_values = 0;
  size_t integer_values = 0;
  size_t double_values = 0;
};

// Walks the values of a line output once, a buffer at a time, without keeping them. Fails with
// `error` on a tag other than 0, 2 and 5, a value cut short by the end of the file, or an odd
// number of values (x and y halves that cannot be paired); fails with `unreadable` set when the
// source cannot be read.
std::optional<LineShape> check_line(const ByteSource& source, DecodeError& error, bool& unreadable);

// A line output in memory that decodes whole, and what check_line found in it.
struct LineBytes {
  std::string_view bytes;
  LineShape shape;
};

// check_line of bytes in memory.
std::optional<LineBytes> check_line(std::string_view bytes, DecodeError& error);

// The value that starts at `offset` of a line output that check_line accepted; `offset` moves to
// the next value.
TaggedValue decode_line_value(std::string_view bytes, size_t& offset);

// The plan. Fails as check_line does.
std::optional<Plan> decode_line(std::string_view bytes, DecodeError& error);

// True when every field of the record is 0 and its text is empty.
bool is_cleared(const ScenarioItem& r);
// True when every field of the cell is 0.
bool is_blank(const TrackCell& c);

// What a record of the table holds, judged from its index and from its neighbours: "unused"
// (record 0), "station", "board text", "chainage", "line and train data", "line identity",
// "train identity", or "cleared" for a cleared record in the station and board range.
// Stations count up from record 1 to the first cleared record; board texts count down from
// record 80 and hold nothing but a text.
std::string record_role(const std::array<ScenarioItem, kItemCount>& items, int index);

// Indexes of the station records: 1 upwards, up to the first cleared record or board text.
std::vector<int> station_indexes(const std::array<ScenarioItem, kItemCount>& items);

// Name of a cell kind ("free", "signal", ...); "unknown kind N" for a number that is not one.
std::string cell_kind_name(uint8_t kind);

}  // namespace compactor
