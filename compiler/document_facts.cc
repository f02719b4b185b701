#include "compiler/document_facts.h"

#include <algorithm>

#include "model/roles.h"
#include "model/written_values.h"
#include "syntax/tree.h"

namespace compactor {

namespace {

// Whether a record holds nothing: no station was read into it.
bool empty_record(const ScenarioItem& r) {
  return r.kind == 0 && r.value1 == 0 && r.value2 == 0 && r.value3 == 0 && r.text.empty();
}

}  // namespace

std::vector<SourceSlowOrder> source_slow_orders(std::string_view train_source) {
  std::vector<SourceSlowOrder> orders;
  SourceParser parser(train_source, SourceRole::kTrain, false);
  SyntaxItem item;
  while (parser.next(item)) {
    for (const SyntaxRecord& r : item.records) {
      if (r.kind == nullptr || r.kind->id != KindId::kSlowOrder) continue;
      if (r.failure.kind != FieldFailure::kNone || r.value_count < 3) continue;
      const SyntaxField* v = &item.values[r.first_value];
      orders.push_back({{static_cast<int32_t>(v[0].value), static_cast<int32_t>(v[1].value),
                         static_cast<int32_t>(v[2].value)},
                        item.field.at});
    }
  }
  return orders;
}

std::vector<DocumentStation> compiled_stations(const Model& m) {
  std::vector<DocumentStation> stations;
  for (int n = kFirstStationRecord; n < kLastBoardTextRecord; ++n) {
    const ScenarioItem& item = m.record(n);
    if (empty_record(item)) break;
    const StationRecord st(item);
    DocumentStation s{st.position, st.extent_start, st.extent_end, st.name, std::nullopt};
    if (st.scheduled_time != 0) s.scheduled_time = st.scheduled_time;
    stations.push_back(std::move(s));
  }
  return stations;
}

std::vector<DocumentSpeedChange> compiled_speed_changes(const Model& m) {
  std::vector<DocumentSpeedChange> changes;
  // The grid runs on past the line's end; the train does not.
  const int64_t line_length = LineDataRecord(m.record(kLineDataRecord)).line_length;
  for (size_t i = 0; i < m.track_grid.size() && static_cast<int64_t>(i) * 50 <= line_length; ++i) {
    const int32_t limit = speed_limit_kmh(m.track_grid[i].speed_limit);
    if (!changes.empty() && changes.back().limit == limit) continue;
    changes.push_back({static_cast<int32_t>(i) * 50, limit});
  }
  return changes;
}

DocumentFacts document_facts(const Model& m, std::string_view train_source) {
  DocumentFacts facts;
  facts.line_id = m.line_id;
  facts.train_number = m.train_number;
  facts.braked_mass = LineDataRecord(m.record(kLineDataRecord)).braked_mass;
  facts.stations = compiled_stations(m);
  facts.speed_changes = compiled_speed_changes(m);
  for (const SourceSlowOrder& s : source_slow_orders(train_source)) {
    facts.slow_orders.push_back(s.order);
  }
  std::stable_sort(
      facts.slow_orders.begin(), facts.slow_orders.end(),
      [](const DocumentSlowOrder& a, const DocumentSlowOrder& b) { return a.start < b.start; });
  return facts;
}

}  // namespace compactor
