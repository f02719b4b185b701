#include "model/model.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <string>

#include "model/errors.h"

namespace compactor {

void log_error(Model& m) {
  std::string detail = m.error_detail;
  if (detail.empty() && m.error_code == kErrBeyondGrid) {
    // Where the grid ends, so that the author sees how far the position is off. The grid and
    // the plan reach 7000 m past the line length written (accept_line_length).
    detail = "a positioned record lies beyond the grid, whose last cell, " +
             std::to_string(m.grid_last) + ", starts at " +
             std::to_string(int64_t{m.grid_last} * 50) + " m: the line is " +
             std::to_string(m.plan_last - 7000) +
             " m long and the grid reaches 7000 m past its end";
  }
  m.error_log.push_back(
      RecordedError{m.error_code, m.error_position, m.error_source, std::move(detail), {}});
}

void PlanColumn::start(size_t points, int coordinate) {
  stretches_.clear();
  held_.clear();
  points_ = points;
  appended_ = 0;
  end_ = 0;
  coordinate_ = coordinate;
  last_ = before_last_ = 0.0;
}

void PlanColumn::appended_number(double v) {
  before_last_ = last_;
  last_ = v;
}

void PlanColumn::append(const TaggedValue& v) {
  assert(appended_ < points_);
  if (stretches_.empty() || stretches_.back().computed || stretches_.back().tag != v.tag) {
    Stretch s;
    s.first_metre = appended_;
    s.tag = v.tag;
    s.held_offset = held_.size();
    stretches_.push_back(s);
  }
  unsigned char encoded[kLineValueMaxBytes];
  held_.insert(held_.end(), encoded, put_line_value(encoded, v));
  end_ += line_value_bytes(v.tag);
  ++stretches_.back().count;
  ++appended_;
  appended_number(v.number());
}

void PlanColumn::append_steps(const PlanSteps& steps, size_t count, double last,
                              double before_last) {
  assert(count <= points_ - appended_);
  Stretch s;
  s.first_metre = appended_;
  s.count = count;
  s.tag = TaggedValue::kDouble;
  s.computed = true;
  s.steps = steps;
  stretches_.push_back(s);
  end_ += count * line_value_bytes(TaggedValue::kDouble);
  appended_ += count;
  last_ = last;
  before_last_ = before_last;
}

double PlanColumn::computed_value(const Stretch& s, size_t index) const {
  PlanState state = s.steps.before;
  for (size_t i = 0; i <= index; ++i) state.step(s.steps.k, s.steps.curved);
  return coordinate_ == 0 ? state.x1 : state.y1;
}

TaggedValue PlanColumn::at(size_t metre) const {
  if (metre >= appended_) return TaggedValue{};
  // The last stretch that starts at or before the metre.
  auto after = std::upper_bound(stretches_.begin(), stretches_.end(), metre,
                                [](size_t m, const Stretch& s) { return m < s.first_metre; });
  const Stretch& s = *(after - 1);
  const size_t index = metre - s.first_metre;
  if (s.computed) return TaggedValue::Double(computed_value(s, index));
  return get_line_value(held_.data() + s.held_offset + index * line_value_bytes(s.tag));
}

// Writes the next `count` doubles of a computed stretch from `state`, which moves on with them.
// A straight step of one coordinate needs only that coordinate's last two values.
unsigned char* PlanColumn::put_computed(unsigned char* p, const Stretch& s, PlanState& state,
                                        size_t count) const {
  if (s.steps.curved) {
    const double& value = coordinate_ == 0 ? state.x1 : state.y1;
    for (size_t i = 0; i < count; ++i) {
      state.step(s.steps.k, true);
      p = put_line_double(p, value);
    }
    return p;
  }
  double& c1 = coordinate_ == 0 ? state.x1 : state.y1;
  double& c2 = coordinate_ == 0 ? state.x2 : state.y2;
  double v1 = c1;
  double v2 = c2;
  for (size_t i = 0; i < count; ++i) {
    const double v = v1 + (v1 - v2);  // PlanState::step, straight, in one coordinate
    p = put_line_double(p, v);
    v2 = v1;
    v1 = v;
  }
  c1 = v1;
  c2 = v2;
  return p;
}

size_t PlanColumn::Reader::read(unsigned char* out, size_t room) {
  unsigned char* p = out;
  const auto left = [&] { return room - static_cast<size_t>(p - out); };
  const std::vector<Stretch>& stretches = column_.stretches_;
  for (; stretch_ < stretches.size(); ++stretch_, done_ = 0) {
    const Stretch& s = stretches[stretch_];
    const size_t width = line_value_bytes(s.tag);
    const size_t n = std::min(s.count - done_, left() / width);
    if (s.computed) {
      if (done_ == 0) state_ = s.steps.before;
      p = column_.put_computed(p, s, state_, n);
    } else {
      const unsigned char* from = column_.held_.data() + s.held_offset + done_ * width;
      p = std::copy(from, from + n * width, p);
    }
    done_ += n;
    if (done_ < s.count) return static_cast<size_t>(p - out);  // no room for the next value
  }
  // The empty values after the last one appended: two zero bytes each.
  const size_t empties = column_.points_ - column_.appended_ - done_;
  const size_t n = std::min(empties, left() / kLineTagBytes);
  p = std::fill_n(p, n * kLineTagBytes, static_cast<unsigned char>(0));
  done_ += n;
  return static_cast<size_t>(p - out);
}

void LinePlan::reset(size_t points) {
  x.start(points, 0);
  y.start(points, 1);
}

void LinePlan::append_steps(size_t count, double k, bool curved) {
  assert(x.appended() == y.appended());
  PlanSteps steps;
  steps.before = PlanState{x.last_, y.last_, x.before_last_, y.before_last_};
  steps.k = k;
  steps.curved = curved;
  // Where the steps end: the next steps start there.
  PlanState end = steps.before;
  for (size_t i = 0; i < count; ++i) end.step(k, curved);
  x.append_steps(steps, count, end.x1, end.x2);
  y.append_steps(steps, count, end.y1, end.y2);
}

namespace {

bool same_value(const TaggedValue& a, const TaggedValue& b) {
  if (a.tag != b.tag) return false;
  if (a.tag == TaggedValue::kInteger) return a.integer == b.integer;
  return a.tag == TaggedValue::kEmpty ||
         std::bit_cast<uint64_t>(a.real) == std::bit_cast<uint64_t>(b.real);
}

bool same_run(const PlanRun& a, const PlanRun& b) {
  return a.count == b.count && a.curved == b.curved &&
         std::bit_cast<uint64_t>(a.k) == std::bit_cast<uint64_t>(b.k);
}

}  // namespace

bool same_outline(const PlanOutline& a, const PlanOutline& b) {
  for (int i = 0; i < 2; ++i) {
    if (!same_value(a.first_x[i], b.first_x[i]) || !same_value(a.first_y[i], b.first_y[i])) {
      return false;
    }
  }
  return a.points == b.points &&
         std::equal(a.runs.begin(), a.runs.end(), b.runs.begin(), b.runs.end(), same_run);
}

std::optional<PlanOutline> LinePlan::outline() const {
  // The runs of one column: its values after the first two must all be computed.
  const auto runs_of = [](const PlanColumn& c, PlanOutline& o) {
    for (const PlanColumn::Stretch& s : c.stretches_) {
      if (s.first_metre + s.count <= 2 && !s.computed) continue;
      if (s.first_metre < 2 || !s.computed) return false;
      o.add_step(s.steps.k, s.steps.curved, s.count);
    }
    return true;
  };
  PlanOutline o;
  PlanOutline of_y;
  if (x.appended_ < 2 || y.appended_ != x.appended_ || y.points_ != x.points_ || !runs_of(x, o) ||
      !runs_of(y, of_y)) {
    return std::nullopt;
  }
  o.points = of_y.points = x.points_;
  for (size_t i = 0; i < 2; ++i) {
    o.first_x[i] = of_y.first_x[i] = x.at(i);
    o.first_y[i] = of_y.first_y[i] = y.at(i);
  }
  // Both columns take each stretch of steps from append_steps: a plan that holds other is none.
  if (!same_outline(o, of_y)) return std::nullopt;
  return o;
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
