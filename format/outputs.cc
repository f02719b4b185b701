#include "format/outputs.h"

#include <algorithm>

#include "format/coding.h"

namespace compactor {

namespace {

constexpr size_t kLinePieceBytes = size_t{1} << 16;

// The two halves of the line output as the model holds them: x, then y.
template <class Visit>
bool for_each_line_half(const Model& m, Visit&& visit) {
  for (const PlanColumn* half : {&m.plan.x, &m.plan.y}) {
    if (half->byte_size() == 0) continue;  // no plan
    if (!visit(reinterpret_cast<const char*>(half->bytes()), half->byte_size())) return false;
  }
  return true;
}

// Writes the fields of a layout at p, in file order; returns the end.
template <class Layout, class Struct>
char* put_fields(char* p, const Layout& layout, const Struct& s) {
  for_each_field(layout, [&](const auto& f) { p = put_field(p, s.*f.member); });
  return p;
}

}  // namespace

size_t line_output_size(const Model& m) {
  return m.plan.byte_size();
}

void encode_line_output_in_pieces(const Model& m,
                                  const std::function<bool(const char*, size_t)>& piece) {
  for_each_line_half(m, [&piece](const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
      const size_t n = std::min(kLinePieceBytes, size - done);
      if (!piece(data + done, n)) return false;
      done += n;
    }
    return true;
  });
}

std::string encode_line_output(const Model& m) {
  std::string out;
  out.reserve(line_output_size(m));
  for_each_line_half(m, [&out](const char* data, size_t size) {
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
