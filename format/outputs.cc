#include "format/outputs.h"

#include <vector>

#include "format/coding.h"

namespace compactor {

namespace {

constexpr size_t kLinePieceBytes = size_t{1} << 16;

// The line output in pieces of at most 64 KiB, x's half then y's, each made in one buffer that
// stays in the cache: the plan's doubles are computed as they are written.
template <class Visit>
bool for_each_line_piece(const Model& m, Visit&& visit) {
  std::vector<unsigned char> buffer(kLinePieceBytes);
  for (const PlanColumn* half : {&m.plan.x, &m.plan.y}) {
    PlanColumn::Reader reader(*half);
    while (const size_t n = reader.read(buffer.data(), buffer.size())) {
      if (!visit(reinterpret_cast<const char*>(buffer.data()), n)) return false;
    }
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
  for_each_line_piece(m, piece);
}

std::string encode_line_output(const Model& m) {
  std::string out(line_output_size(m), '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  unsigned char* const end = p + out.size();
  for (const PlanColumn* half : {&m.plan.x, &m.plan.y}) {
    PlanColumn::Reader reader(*half);
    while (const size_t n = reader.read(p, static_cast<size_t>(end - p))) p += n;
  }
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
