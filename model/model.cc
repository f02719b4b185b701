#include "model/model.h"

namespace compactor {

void log_error(Model& m) {
  m.error_log.push_back(
      RecordedError{m.error_code, m.error_position, m.error_source, m.error_detail, {}});
}

void create_grid(Model& m, int32_t last) {
  m.track_grid.assign(static_cast<size_t>(last) + 1, TrackCell{});
  m.grid_last = last;
}

void create_profile(Model& m, int32_t last) {
  PlanTable fresh;
  fresh.resize(2 * (static_cast<size_t>(last) + 1));  // zeroed storage: every element empty
  m.plan_table.swap(fresh);
  m.plan_last = last;
}

void clear_items(Model& m) {
  for (auto& item : m.items) item = ScenarioItem{};
}

}  // namespace compactor
