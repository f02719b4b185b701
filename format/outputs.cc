#include "format/outputs.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "format/coding.h"

namespace compactor {

namespace {

// Encodes one tagged value at p; returns the number of bytes written (2, 4 or 10).
size_t put_tagged(char* p, const TaggedValue& v) {
  p[0] = static_cast<char>(v.tag);
  p[1] = 0;
  if (v.tag == TaggedValue::kDouble) {
    uint64_t bits;
    std::memcpy(&bits, &v.real, sizeof bits);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(p + 2, &bits, sizeof bits);
    } else {
      for (int i = 0; i < 8; ++i) p[2 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return 10;
  }
  if (v.tag == TaggedValue::kInteger) {
    uint16_t i = static_cast<uint16_t>(v.integer);
    p[2] = static_cast<char>(i & 0xFF);
    p[3] = static_cast<char>(i >> 8);
    return 4;
  }
  return 2;
}

// Writes the fields of a layout at p, in file order; returns the end.
template <class Layout, class Struct>
char* put_fields(char* p, const Layout& layout, const Struct& s) {
  for_each_field(layout, [&](const auto& f) { p = put_field(p, s.*f.member); });
  return p;
}

}  // namespace

size_t line_output_size(const Model& m) {
  size_t size = 0;
  for (const TaggedValue& v : m.plan_table) {
    size += v.tag == TaggedValue::kInteger ? 4 : v.tag == TaggedValue::kDouble ? 10 : 2;
  }
  return size;
}

void encode_line_output_in_pieces(const Model& m,
                                  const std::function<bool(const char*, size_t)>& piece) {
  // A small buffer that stays in the cache, filled a block of values at a time: a value takes at
  // most 10 bytes.
  char chunk[1 << 16];
  constexpr size_t kBlock = sizeof chunk / 10;
  const TaggedValue* v = m.plan_table.data();
  const TaggedValue* const end = v + m.plan_table.size();
  while (v != end) {
    const TaggedValue* const block_end = v + std::min<size_t>(kBlock, static_cast<size_t>(end - v));
    char* p = chunk;
    for (; v != block_end; ++v) p += put_tagged(p, *v);
    if (!piece(chunk, static_cast<size_t>(p - chunk))) return;
  }
}

std::string encode_line_output(const Model& m) {
  std::string out;
  out.reserve(line_output_size(m));
  encode_line_output_in_pieces(m, [&out](const char* data, size_t size) {
    out.append(data, size);
    return true;
  });
  return out;
}

std::string encode_record_output(const Model& m) {
  size_t size = 0;
  for (const ScenarioItem& r : m.items) size += kRecordFixedBytes + r.text.size();
  std::string out(size, '\0');
  char* p = out.data();
  for (const ScenarioItem& r : m.items) p = put_fields(p, kRecordLayout, r);
  return out;
}

std::string encode_grid_output(const Model& m) {
  std::string out(m.track_grid.size() * kCellBytes, '\0');
  char* p = out.data();
  for (const TrackCell& c : m.track_grid) p = put_fields(p, kCellLayout, c);
  return out;
}

std::string line_output_name(const Model& m) {
  return m.line_id + "_linea.dat";
}
std::string record_output_name(const Model& m) {
  return m.line_id + "_" + m.train_number + ".sim";
}
std::string grid_output_name(const Model& m) {
  return m.line_id + "_" + m.train_number + ".dat";
}

}  // namespace compactor
