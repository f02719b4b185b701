#include "model/model.h"

#include <algorithm>

namespace compactor {

void log_error(Model& m) {
  m.error_log.push_back(
      RecordedError{m.error_code, m.error_position, m.error_source, m.error_detail, {}});
}

void PlanColumn::start(unsigned char* storage, size_t points) {
  bytes_ = storage;
  stretches_.clear();
  points_ = points;
  appended_ = 0;
  end_ = 0;
  last_tag_ = kNoStretch;
}

void PlanColumn::start_stretch(TaggedValue::Tag tag) {
  stretches_.push_back(Stretch{appended_, end_, tag});
  last_tag_ = tag;
}

TaggedValue PlanColumn::at(size_t metre) const {
  if (metre >= appended_) return TaggedValue{};
  // The last stretch that starts at or before the metre.
  auto after = std::upper_bound(stretches_.begin(), stretches_.end(), metre,
                                [](size_t m, const Stretch& s) { return m < s.first_metre; });
  const Stretch& s = *(after - 1);
  return get_line_value(bytes_ + s.offset + (metre - s.first_metre) * line_value_bytes(s.tag));
}

void LinePlan::reset(size_t points) {
  // Fresh zeroed storage, room for every value at its widest: each page is written once, by the
  // plan, and the empty values after the last one appended are the zero bytes already there.
  std::vector<unsigned char, ZeroedAllocator<unsigned char>> fresh;
  fresh.resize(2 * points * kLineValueMaxBytes);
  storage_.swap(fresh);
  x.start(storage_.data(), points);
  y.start(storage_.data() + points * kLineValueMaxBytes, points);
}

LinePlan::LinePlan(const LinePlan& other) : x(other.x), y(other.y), storage_(other.storage_) {
  // The same places in the copied storage.
  x.bytes_ = storage_.data() + (other.x.bytes_ - other.storage_.data());
  y.bytes_ = storage_.data() + (other.y.bytes_ - other.storage_.data());
}

LinePlan& LinePlan::operator=(const LinePlan& other) {
  if (this != &other) *this = LinePlan(other);
  return *this;
}

void create_grid(Model& m, int32_t last) {
  m.track_grid.assign(static_cast<size_t>(last) + 1, TrackCell{});
  m.grid_last = last;
}

void create_profile(Model& m, int32_t last) {
  m.plan.reset(static_cast<size_t>(last) + 1);
  m.plan_last = last;
}

void clear_items(Model& m) {
  for (auto& item : m.items) item = ScenarioItem{};
}

}  // namespace compactor
