// The compile of the two sources into a model ready to write: read, insert the cab-code points,
// stamp, and store the integrity codes.
#include "compiler/compile.h"

#include "model/errors.h"
#include "model/roles.h"

namespace compactor {

std::string identity_work_string(const Model& m) {
  std::string s = train_identity(m).train_number + line_identity(m).line_id;
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  s += "mmoorrttvvzzbbddffhhllnnpp";
  return s;
}

int32_t identity_check_code(const Model& m) {
  std::string s = identity_work_string(m);
  int32_t sum = 0;
  for (int p = 1; p <= 25; ++p)
    sum += static_cast<int32_t>(static_cast<unsigned char>(s[p - 1])) * p;
  return sum;
}

int16_t identity_check_sum(const Model& m) {
  std::string s = identity_work_string(m);
  int32_t sum = 0;
  for (int p = 1; p <= 25; ++p) sum += static_cast<unsigned char>(s[p - 1]);
  return static_cast<int16_t>(sum);
}

PassOutcome compile_model(Model& m, bool with_plan, Sources& s) {
  m.error_code = 0;
  m.error_position = 0;
  m.error_source = SourcePos{};
  m.error_detail.clear();
  m.error_log.clear();
  m.slow_order_origins.clear();
  m.track_grid.clear();
  m.plan = LinePlan{};
  clear_items(m);
  read_sources(m, s, with_plan);
  if (!m.has_grid()) return PassOutcome::kNoGrid;
  insert_cab_code_points(m);
  // Cell 1 and the line identity record hold the stamps and the integrity codes: a source that
  // placed anything there stops the run.
  LineIdentityRecord identity = line_identity(m);
  StampCell first(m.track_grid[1]);
  if (identity.stamp != 0 || first.stamp != 0) return PassOutcome::kStampsSet;
  identity.stamp = kRecordStamp;
  first.stamp = kGridStamp;
  if (identity.check_code != 0 || first.check_sum != 0) return PassOutcome::kCodesSet;
  identity.check_code = identity_check_code(m);
  first.check_sum = identity_check_sum(m);
  return PassOutcome::kReady;
}

}  // namespace compactor
