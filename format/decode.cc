#include "format/decode.h"

#include <iterator>
#include <vector>

#include "format/coding.h"
#include "format/layouts.h"

namespace compactor {

namespace {

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

const unsigned char* at(std::string_view bytes, size_t offset) {
  return reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
}

// Reads the fields of a layout from p into s, in file order.
template <class Layout, class Struct>
void get_fields(const unsigned char* p, const Layout& layout, Struct& s) {
  for_each_field(layout, [&](const auto& f) { get_field(p, s.*f.member); });
}

// "0 (empty), 2 (integer) and 5 (double)": the tags of the line output.
std::string line_tag_list() {
  std::string out;
  const size_t count = std::size(kLineValueLayouts);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += i + 1 == count ? " and " : ", ";
    out += std::to_string(kLineValueLayouts[i].tag) + " (" + kLineValueLayouts[i].name + ")";
  }
  return out;
}

// The layout of value `index` of a line output, which starts at `offset`, at p, with `left` bytes
// of the file from there; null with `error` set when its tag is none of the three or the file
// ends inside it.
const LineValueLayout* checked_line_value(const unsigned char* p, uint64_t left, size_t index,
                                          uint64_t offset, DecodeError& error) {
  const auto at_offset = static_cast<size_t>(offset);
  if (left < kLineTagBytes) {
    error = {at_offset, "value " + std::to_string(index) + " is cut short inside its tag"};
    return nullptr;
  }
  const uint16_t tag = get_u16(p);
  const LineValueLayout* layout = line_value_layout(tag);
  if (layout == nullptr) {
    error = {at_offset, "value " + std::to_string(index) + " has the tag " + std::to_string(tag) +
                            ", which is none of " + line_tag_list()};
    return nullptr;
  }
  if (left - kLineTagBytes < layout->number_bytes) {
    error = {at_offset, "value " + std::to_string(index) + " is cut short: its tag " +
                            std::to_string(tag) + " needs " + std::to_string(layout->number_bytes) +
                            " bytes, the file has " + std::to_string(left - kLineTagBytes) +
                            " left"};
    return nullptr;
  }
  return layout;
}

void count_value(TaggedValue::Tag tag, LineShape& line) {
  switch (tag) {
    case TaggedValue::kEmpty:
      ++line.empty_values;
      break;
    case TaggedValue::kInteger:
      ++line.integer_values;
      break;
    case TaggedValue::kDouble:
      ++line.double_values;
      break;
  }
}

// The walk keeps the offset of every 4096th value, so that the start of the y half is found
// from the nearest one before it without reading the x half again.
constexpr size_t kMarkEvery = 4096;

// The offset of value `index`, at most kMarkEvery - 1 values after the mark before it; false
// when the source cannot be read there.
bool value_offset(const ByteSource& source, const std::vector<uint64_t>& marks, size_t index,
                  uint64_t& offset) {
  LineValueReader reader(source, marks[index / kMarkEvery]);
  TaggedValue::Tag tag;
  double number = 0.0;
  for (size_t i = 0; i < index % kMarkEvery; ++i) {
    if (!reader.next(tag, number)) return false;
  }
  offset = reader.offset();
  return true;
}

bool is_board_text(const ScenarioItem& r) {
  ScenarioItem numbers = r;
  numbers.text.clear();
  return !r.text.empty() && is_cleared(numbers);
}

// The lowest record of the block of board texts that runs down from record 80 (81 when there
// is none).
int first_board_text(const std::array<ScenarioItem, kItemCount>& items) {
  int i = 80;
  while (i >= 1 && is_board_text(items[static_cast<size_t>(i)])) --i;
  return i + 1;
}

}  // namespace

std::optional<OutputKind> output_kind_of_name(std::string_view name) {
  if (ends_with(name, ".sim")) return OutputKind::kRecords;
  if (ends_with(name, "_linea.dat")) return OutputKind::kLine;
  if (ends_with(name, ".dat")) return OutputKind::kGrid;
  return std::nullopt;
}

std::optional<OutputKind> output_kind_of_word(std::string_view word) {
  if (word == "sim") return OutputKind::kRecords;
  if (word == "grid") return OutputKind::kGrid;
  if (word == "line") return OutputKind::kLine;
  return std::nullopt;
}

std::optional<std::array<ScenarioItem, kItemCount>> decode_records(std::string_view bytes,
                                                                   DecodeError& error) {
  std::array<ScenarioItem, kItemCount> items;
  size_t o = 0;
  for (int k = 0; k < kItemCount; ++k) {
    const std::string which = "record " + std::to_string(k);
    if (bytes.size() - o < kRecordHeadBytes) {
      error = {o, which + " is cut short: the file ends " + std::to_string(bytes.size() - o) +
                      " bytes into it"};
      return std::nullopt;
    }
    const unsigned char* p = at(bytes, o);
    size_t n = get_u16(p + kRecordHeadBytes - kTextLengthBytes);
    if (bytes.size() - o < kRecordFixedBytes + n) {
      error = {o, which + " is cut short: it needs " + std::to_string(kRecordFixedBytes + n) +
                      " bytes (text of " + std::to_string(n) + "), the file has " +
                      std::to_string(bytes.size() - o) + " left"};
      return std::nullopt;
    }
    get_fields(p, kRecordLayout, items[static_cast<size_t>(k)]);
    o += kRecordFixedBytes + n;
  }
  if (o != bytes.size()) {
    error = {o, std::to_string(bytes.size() - o) + " bytes after record " +
                    std::to_string(kItemCount - 1) + ", the last record"};
    return std::nullopt;
  }
  return items;
}

std::optional<GridBytes> check_grid(std::string_view bytes, DecodeError& error) {
  size_t whole = bytes.size() / kCellBytes;
  if (bytes.size() % kCellBytes != 0) {
    error = {whole * kCellBytes, "cell " + std::to_string(whole) +
                                     " is cut short: " + std::to_string(bytes.size() % kCellBytes) +
                                     " of " + std::to_string(kCellBytes) + " bytes"};
    return std::nullopt;
  }
  return GridBytes{bytes, whole};
}

TrackCell decode_cell(std::string_view bytes, size_t index) {
  TrackCell cell;
  get_fields(at(bytes, index * kCellBytes), kCellLayout, cell);
  return cell;
}

std::optional<std::vector<TrackCell>> decode_grid(std::string_view bytes, DecodeError& error) {
  std::optional<GridBytes> grid = check_grid(bytes, error);
  if (!grid) return std::nullopt;
  std::vector<TrackCell> cells(grid->cells);
  for (size_t i = 0; i < grid->cells; ++i) cells[i] = decode_cell(bytes, i);
  return cells;
}

std::optional<LineShape> check_line(const ByteSource& source, DecodeError& error,
                                    bool& unreadable) {
  LineShape line;
  std::vector<uint64_t> marks;
  LineValueReader reader(source, 0);
  size_t values = 0;
  uint64_t left = 0;
  while (reader.offset() < source.size) {
    const unsigned char* p = reader.window(left);
    if (p == nullptr) {
      unreadable = true;
      return std::nullopt;
    }
    // Far from the end any of the three tags fits; the checks that name a fault only otherwise.
    const LineValueLayout* layout =
        left >= kLineValueMaxBytes ? line_value_layout(get_u16(p)) : nullptr;
    if (layout == nullptr) layout = checked_line_value(p, left, values, reader.offset(), error);
    if (layout == nullptr) return std::nullopt;
    count_value(layout->tag, line);
    if (values % kMarkEvery == 0) marks.push_back(reader.offset());
    reader.skip(kLineTagBytes + layout->number_bytes);
    ++values;
  }
  if (values % 2 != 0) {
    error = {static_cast<size_t>(source.size),
             "the file holds " + std::to_string(values) +
                 " values, an odd number: its x and y halves cannot be paired"};
    return std::nullopt;
  }
  line.points = values / 2;
  if (line.points > 0 && !value_offset(source, marks, line.points, line.y_offset)) {
    unreadable = true;
    return std::nullopt;
  }
  return line;
}

std::optional<LineBytes> check_line(std::string_view bytes, DecodeError& error) {
  bool unreadable = false;  // bytes in memory are always read
  std::optional<LineShape> shape = check_line(bytes_in_memory(bytes), error, unreadable);
  if (!shape) return std::nullopt;
  return LineBytes{bytes, *shape};
}

TaggedValue decode_line_value(std::string_view bytes, size_t& offset) {
  const unsigned char* p = at(bytes, offset);
  offset += kLineTagBytes + line_value_layout(get_u16(p))->number_bytes;
  return get_line_value(p);
}

std::optional<Plan> decode_line(std::string_view bytes, DecodeError& error) {
  std::optional<LineBytes> line = check_line(bytes, error);
  if (!line) return std::nullopt;
  Plan plan;
  plan.x.reserve(line->shape.points);
  plan.y.reserve(line->shape.points);
  size_t x_offset = 0;
  auto y_offset = static_cast<size_t>(line->shape.y_offset);
  for (size_t m = 0; m < line->shape.points; ++m) {
    plan.x.push_back(decode_line_value(bytes, x_offset));
    plan.y.push_back(decode_line_value(bytes, y_offset));
  }
  return plan;
}

bool is_cleared(const ScenarioItem& r) {
  return all_fields_zero(kRecordLayout, r);
}

bool is_blank(const TrackCell& c) {
  return all_fields_zero(kCellLayout, c);
}

std::string record_role(const std::array<ScenarioItem, kItemCount>& items, int index) {
  switch (index) {
    case 0:
      return "unused";
    case 81:
    case 82:
    case 83:
      return "chainage";
    case 84:
      return "line and train data";
    case 85:
      return "line identity";
    case 86:
      return "train identity";
    default:
      break;
  }
  if (is_cleared(items[static_cast<size_t>(index)])) return "cleared";
  int boards = first_board_text(items);
  if (index >= boards) return "board text";
  for (int i = 1; i < index; ++i) {
    if (is_cleared(items[static_cast<size_t>(i)])) return "other";
  }
  return "station";
}

std::vector<int> station_indexes(const std::array<ScenarioItem, kItemCount>& items) {
  std::vector<int> out;
  int boards = first_board_text(items);
  for (int i = 1; i < boards && !is_cleared(items[static_cast<size_t>(i)]); ++i) out.push_back(i);
  return out;
}

std::string cell_kind_name(uint8_t kind) {
  switch (kind) {
    case kFree:
      return "free";
    case kSignal:
      return "signal";
    case kSlowOrderEnd:
      return "slow-order end";
    case kSlowOrderStart:
      return "slow-order start";
    case kWarningBoard:
      return "slow-order warning board";
    case kSlowOrderApproach:
      return "slow-order approach";
    case kSpeedBoard:
      return "speed board";
    case kStopMark:
      return "station stop mark";
    case kTunnelMarker:
      return "tunnel marker";
    case kCodePoint:
      return "cab-code point";
    case kCodePointNoCode:
      return "code point without code";
    case kIndicationBoard:
      return "indication board";
    default:
      return "unknown kind " + std::to_string(kind);
  }
}

}  // namespace compactor
