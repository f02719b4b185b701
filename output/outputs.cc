#include "output/outputs.h"

#include "output/coding.h"

namespace compactor {

namespace {

void put_tagged(std::string& out, const TaggedValue& v) {
  put_u16(out, v.tag);
  if (v.tag == TaggedValue::kInteger) put_i16(out, v.integer);
  if (v.tag == TaggedValue::kDouble) put_f64(out, v.real);
}

}  // namespace

std::string encode_line_output(const Model& m) {
  std::string out;
  size_t size = 0;
  for (const TaggedValue& v : m.line_profile) {
    size += 2 + (v.tag == TaggedValue::kInteger ? 2 : v.tag == TaggedValue::kDouble ? 8 : 0);
  }
  out.reserve(size);
  for (const TaggedValue& v : m.line_profile) put_tagged(out, v);
  return out;
}

std::string encode_record_output(const Model& m) {
  std::string out;
  size_t size = 0;
  for (const ScenarioItem& r : m.items) size += 34 + r.text.size();
  out.reserve(size);
  for (const ScenarioItem& r : m.items) {
    put_u8(out, r.kind);
    put_i32(out, r.value1);
    put_i32(out, r.value2);
    put_i32(out, r.value3);
    put_u8(out, r.mark);
    // Texts are limited to 65535 bytes when they are read, so the length always fits.
    put_u16(out, static_cast<uint16_t>(r.text.size()));
    out.append(r.text);
    put_i16(out, r.num1);
    put_i16(out, r.num2);
    put_i16(out, r.num3);
    put_i16(out, r.num4);
    put_i16(out, r.num5);
    put_u8(out, r.flag1);
    put_u8(out, r.flag2);
    put_u8(out, r.flag3);
    put_u8(out, r.flag4);
    put_i32(out, r.check_code);
  }
  return out;
}

std::string encode_grid_output(const Model& m) {
  std::string out;
  out.reserve(m.track_grid.size() * kCellBytes);
  for (const TrackCell& c : m.track_grid) {
    put_u8(out, c.kind);
    put_i16(out, c.param1);
    put_i16(out, c.param2);
    put_i16(out, c.param3);
    put_i16(out, c.param4);
    put_u8(out, c.signal_time);
    put_u8(out, c.approach_code);
    put_u8(out, c.tunnel_type);
    put_u8(out, c.speed_limit);
    put_u8(out, c.gradient_code);
    put_u8(out, c.adhesion);
  }
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
