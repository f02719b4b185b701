#include "tools/dump.h"

#include <cmath>
#include <cstdio>
#include <tuple>
#include <type_traits>

#include "format/layouts.h"

namespace compactor {

namespace {

// One named field of a record or cell: a whole number, or a text.
struct Field {
  const char* name;
  int64_t number = 0;
  bool is_text = false;
  std::string text;
};

Field number(const char* name, int64_t v) {
  return Field{name, v, false, {}};
}
Field text(const char* name, std::string v) {
  return Field{name, 0, true, std::move(v)};
}

// A text in double quotes for people: quotes, backslashes and bytes outside printable ASCII
// escaped as \" \\ \xNN.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c > 0x7E) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void append_text_fields(std::string& out, const std::vector<Field>& fields) {
  bool first = true;
  for (const Field& f : fields) {
    if (!first) out += ", ";
    first = false;
    out += f.name;
    out += ' ';
    out += f.is_text ? quoted(f.text) : std::to_string(f.number);
  }
}

void append_json_fields(std::string& out, const std::vector<Field>& fields) {
  for (const Field& f : fields) {
    out += ",";
    out += json_string(f.name);
    out += ":";
    out += f.is_text ? json_string(f.text) : std::to_string(f.number);
  }
}

// The fields of a record or a cell, in the order of its layout.
template <class Layout, class Struct>
std::vector<Field> fields_of(const Layout& layout, const Struct& s) {
  std::vector<Field> out;
  out.reserve(std::tuple_size_v<Layout>);
  for_each_field(layout, [&]<class M>(const FieldLayout<Struct, M>& f) {
    if constexpr (std::is_same_v<M, std::string>) {
      out.push_back(text(f.name, s.*f.member));
    } else {
      out.push_back(number(f.name, s.*f.member));
    }
  });
  return out;
}

// "0, 27-71, 81-83" for a sorted list of indexes.
std::string ranges(const std::vector<int>& indexes) {
  std::string out;
  for (size_t i = 0; i < indexes.size();) {
    size_t j = i;
    while (j + 1 < indexes.size() && indexes[j + 1] == indexes[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(indexes[i]);
    if (j > i) out += "-" + std::to_string(indexes[j]);
    i = j + 1;
  }
  return out;
}

std::string text_value(const TaggedValue& v) {
  if (v.tag == TaggedValue::kEmpty) return "-";
  if (v.tag == TaggedValue::kInteger) return std::to_string(v.integer);
  return exact_double(v.real);
}

std::string json_value(const TaggedValue& v) {
  if (v.tag == TaggedValue::kEmpty) return "null";
  if (v.tag == TaggedValue::kInteger) return std::to_string(v.integer);
  if (!std::isfinite(v.real)) return "null";
  return exact_double(v.real);
}

// The whole text of a listing, for callers that want it as one string.
template <class List>
std::string listing(List list) {
  std::string out;
  TextSink sink;
  sink.write = [&out](std::string_view text) {
    out += text;
    return true;
  };
  list(sink);
  return out;
}

// The listing of `count` cells, cell_at(i) giving cell i: one line (or object) per cell that is
// not all zero.
template <class CellAt>
bool list_cells(size_t count, size_t file_bytes, bool json, CellAt cell_at, TextSink& sink) {
  std::string& out = sink.buffer;
  if (json) {
    out += "{\"output\":\"grid\",\"bytes\":" + std::to_string(file_bytes) +
           ",\"cell_count\":" + std::to_string(count) + ",\"cell_metres\":50,\"cells\":[";
  } else {
    out += "# grid output: " + std::to_string(count) + " cells of 50 m, " +
           std::to_string(file_bytes) + " bytes; cells that are all zero are not listed\n";
  }
  bool first = true;
  for (size_t i = 0; i < count; ++i) {
    const TrackCell c = cell_at(i);
    if (is_blank(c)) continue;
    // The kind, the first field of a cell, is listed with its name.
    std::vector<Field> fields = fields_of(kCellLayout, c);
    const Field kind = fields.front();
    fields.erase(fields.begin());
    if (json) {
      if (!first) out += ",\n";
      out += "{\"index\":" + std::to_string(i) + ",\"metre\":" + std::to_string(i * 50);
      append_json_fields(out, {kind});
      out += ",\"kind_name\":" + json_string(cell_kind_name(c.kind));
      append_json_fields(out, fields);
      out += "}";
    } else {
      out += "cell " + std::to_string(i) + " (" + std::to_string(i * 50) +
             " m): " + cell_kind_name(c.kind) + ", ";
      append_text_fields(out, fields);
      out += "\n";
    }
    first = false;
    if (!sink.spill()) return false;
  }
  if (json) out += "]}\n";
  return sink.flush();
}

}  // namespace

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string exact_double(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

bool TextSink::spill() {
  if (failed) return false;
  return buffer.size() < kChunkBytes || flush();
}

bool TextSink::flush() {
  if (failed) return false;
  if (!buffer.empty() && !write(buffer)) failed = true;
  buffer.clear();
  return !failed;
}

bool dump_records(const std::array<ScenarioItem, kItemCount>& items, size_t file_bytes, bool json,
                  TextSink& sink) {
  std::string& out = sink.buffer;
  if (json) {
    out += "{\"output\":\"records\",\"bytes\":" + std::to_string(file_bytes) + ",\"records\":[";
    for (int i = 0; i < kItemCount; ++i) {
      const ScenarioItem& r = items[static_cast<size_t>(i)];
      if (i > 0) out += ",\n";
      out += "{\"index\":" + std::to_string(i) + ",\"role\":" + json_string(record_role(items, i)) +
             ",\"cleared\":" + (is_cleared(r) ? "true" : "false");
      append_json_fields(out, fields_of(kRecordLayout, r));
      out += "}";
      if (!sink.spill()) return false;
    }
    out += "]}\n";
    return sink.flush();
  }
  out += "# record output: " + std::to_string(kItemCount) + " records, " +
         std::to_string(file_bytes) + " bytes\n";
  std::vector<int> cleared;
  for (int i = 0; i < kItemCount; ++i) {
    const ScenarioItem& r = items[static_cast<size_t>(i)];
    if (is_cleared(r)) {
      cleared.push_back(i);
      continue;
    }
    out += "record " + std::to_string(i) + " (" + record_role(items, i) + "): ";
    append_text_fields(out, fields_of(kRecordLayout, r));
    out += "\n";
    if (!sink.spill()) return false;
  }
  if (!cleared.empty()) {
    out += (cleared.size() == 1 ? "record " : "records ") + ranges(cleared) + ": cleared\n";
  }
  return sink.flush();
}

std::string dump_records(const std::array<ScenarioItem, kItemCount>& items, size_t file_bytes,
                         bool json) {
  return listing([&](TextSink& sink) { return dump_records(items, file_bytes, json, sink); });
}

bool dump_grid(const GridBytes& grid, bool json, TextSink& sink) {
  return list_cells(
      grid.cells, grid.bytes.size(), json, [&](size_t i) { return decode_cell(grid.bytes, i); },
      sink);
}

std::string dump_grid(const std::vector<TrackCell>& cells, size_t file_bytes, bool json) {
  return listing([&](TextSink& sink) {
    return list_cells(
        cells.size(), file_bytes, json, [&](size_t i) { return cells[i]; }, sink);
  });
}

bool dump_plan(const LineBytes& line, int every, bool json, TextSink& sink) {
  size_t step = every > 0 ? static_cast<size_t>(every) : 1;
  std::string& out = sink.buffer;
  if (json) {
    out += "{\"output\":\"line\",\"bytes\":" + std::to_string(line.bytes.size()) +
           ",\"points\":" + std::to_string(line.shape.points) +
           ",\"every\":" + std::to_string(step) +
           ",\"empty_values\":" + std::to_string(line.shape.empty_values) +
           ",\"integer_values\":" + std::to_string(line.shape.integer_values) +
           ",\"double_values\":" + std::to_string(line.shape.double_values) + ",\"plan\":[";
  } else {
    out += "# line output: " + std::to_string(line.shape.points) + " points, " +
           std::to_string(line.bytes.size()) +
           " bytes; values: " + std::to_string(line.shape.integer_values) + " integer, " +
           std::to_string(line.shape.double_values) + " double, " +
           std::to_string(line.shape.empty_values) + " empty (\"-\")\n";
    if (step > 1) out += "# every " + std::to_string(step) + " metres\n";
    out += "# metre x y\n";
  }
  size_t x_offset = 0;
  auto y_offset = static_cast<size_t>(line.shape.y_offset);
  for (size_t m = 0; m < line.shape.points; ++m) {
    const TaggedValue x = decode_line_value(line.bytes, x_offset);
    const TaggedValue y = decode_line_value(line.bytes, y_offset);
    if (m % step != 0) continue;
    if (json) {
      if (m > 0) out += ",\n";
      out += "{\"metre\":" + std::to_string(m) + ",\"x\":" + json_value(x) +
             ",\"y\":" + json_value(y) + "}";
    } else {
      out += std::to_string(m) + " " + text_value(x) + " " + text_value(y) + "\n";
    }
    if (!sink.spill()) return false;
  }
  if (json) out += "]}\n";
  return sink.flush();
}

}  // namespace compactor
