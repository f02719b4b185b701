// The byte layouts of the record output and the grid output: their fields in file order, each
// with the name the listings give it and the member of the model's struct that holds it. The
// encoder, the decoder, the dump listings and the tests for cleared records and blank cells all
// walk these tables. The line output's values are laid out in model/line_plan.h, since the plan
// is built in its encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>

#include "model/model.h"

namespace compactor {

// One field of a record or a cell. The member's type sets its encoding, little-endian:
// uint8_t is 1 byte, int16_t 2 bytes, int32_t 4 bytes, and a std::string a 16-bit length followed
// by the text's bytes.
template <class Struct, class Member>
struct FieldLayout {
  const char* name;
  Member Struct::*member;
};

template <class Struct, class Member>
constexpr FieldLayout<Struct, Member> field(const char* name, Member Struct::*member) {
  return {name, member};
}

// Bytes of a text's length, before the text.
constexpr size_t kTextLengthBytes = 2;

// Bytes of a field, without the text of a text field.
template <class Member>
constexpr size_t fixed_bytes() {
  if constexpr (std::is_same_v<Member, std::string>) {
    return kTextLengthBytes;
  } else {
    static_assert(std::is_same_v<Member, uint8_t> || std::is_same_v<Member, int16_t> ||
                      std::is_same_v<Member, int32_t>,
                  "a field is a byte, a 16-bit or 32-bit number, or a text");
    return sizeof(Member);
  }
}

// A record: 34 bytes plus its text.
inline constexpr auto kRecordLayout = std::make_tuple(
    field("kind", &ScenarioItem::kind), field("value1", &ScenarioItem::value1),
    field("value2", &ScenarioItem::value2), field("value3", &ScenarioItem::value3),
    field("mark", &ScenarioItem::mark), field("text", &ScenarioItem::text),
    field("num1", &ScenarioItem::num1), field("num2", &ScenarioItem::num2),
    field("num3", &ScenarioItem::num3), field("num4", &ScenarioItem::num4),
    field("num5", &ScenarioItem::num5), field("flag1", &ScenarioItem::flag1),
    field("flag2", &ScenarioItem::flag2), field("flag3", &ScenarioItem::flag3),
    field("flag4", &ScenarioItem::flag4), field("check_code", &ScenarioItem::check_code));

// A cell of the grid: 15 bytes.
inline constexpr auto kCellLayout = std::make_tuple(
    field("kind", &TrackCell::kind), field("param1", &TrackCell::param1),
    field("param2", &TrackCell::param2), field("param3", &TrackCell::param3),
    field("param4", &TrackCell::param4), field("signal_time", &TrackCell::signal_time),
    field("approach_code", &TrackCell::approach_code),
    field("tunnel_type", &TrackCell::tunnel_type), field("speed_limit", &TrackCell::speed_limit),
    field("gradient_code", &TrackCell::gradient_code), field("adhesion", &TrackCell::adhesion));

// Calls visit(field) for each field of a layout, in file order.
template <class Layout, class Visit>
constexpr void for_each_field(const Layout& layout, Visit&& visit) {
  std::apply([&visit](const auto&... f) { (visit(f), ...); }, layout);
}

// Bytes of a layout without its texts.
template <class Layout>
constexpr size_t layout_fixed_bytes(const Layout& layout) {
  size_t bytes = 0;
  for_each_field(
      layout, [&bytes]<class S, class M>(const FieldLayout<S, M>&) { bytes += fixed_bytes<M>(); });
  return bytes;
}

// Bytes from the start of a record to the end of its text's length: what must be there to know
// the record's size.
constexpr size_t record_head_bytes() {
  size_t bytes = 0;
  bool text_seen = false;
  for_each_field(kRecordLayout, [&]<class S, class M>(const FieldLayout<S, M>&) {
    if (text_seen) return;
    bytes += fixed_bytes<M>();
    text_seen = std::is_same_v<M, std::string>;
  });
  return bytes;
}

constexpr size_t kRecordFixedBytes = layout_fixed_bytes(kRecordLayout);
constexpr size_t kRecordHeadBytes = record_head_bytes();
constexpr size_t kCellBytes = layout_fixed_bytes(kCellLayout);
static_assert(kRecordFixedBytes == 34 && kRecordHeadBytes == 16 && kCellBytes == 15,
              "the simulator's record and cell sizes");

// True when every field of the struct is 0 (a text: empty).
template <class Layout, class Struct>
bool all_fields_zero(const Layout& layout, const Struct& s) {
  bool zero = true;
  for_each_field(layout, [&]<class M>(const FieldLayout<Struct, M>& f) {
    if constexpr (std::is_same_v<M, std::string>) {
      zero = zero && (s.*f.member).empty();
    } else {
      zero = zero && s.*f.member == 0;
    }
  });
  return zero;
}

}  // namespace compactor
