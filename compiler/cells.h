// From metres to cells of the 50 m grid. Every division is done in floating point and rounded to
// the nearest whole number, halves to the even number.
#pragma once

#include <cmath>
#include <cstdint>

#include "syntax/record_kinds.h"

namespace compactor {

inline int64_t round_even(double v) {
  return static_cast<int64_t>(std::nearbyint(v));
}

// Gradients, code points, the train's speed and adhesion profiles, tunnel starts: P / 50.
inline int64_t cell_at(int64_t p) {
  return round_even(static_cast<double>(p) / 50.0);
}
// Boards, signals and slow-order points: P / 50 + 1.
inline int64_t cell_after(int64_t p) {
  return round_even(static_cast<double>(p) / 50.0 + 1.0);
}
// Tunnel ends and station stop marks: P / 50 - 1.
inline int64_t cell_before(int64_t p) {
  return round_even(static_cast<double>(p) / 50.0 - 1.0);
}

// The cell a position picks by a field's rule (kNone: none; taken as P / 50 - 1).
inline int64_t cell_by_rule(int64_t p, CellRule rule) {
  switch (rule) {
    case CellRule::kAt:
      return cell_at(p);
    case CellRule::kAfter:
      return cell_after(p);
    case CellRule::kBefore:
    case CellRule::kNone:
      break;
  }
  return cell_before(p);
}

// The reader's position test: (P + margin) / 50, unrounded, must not exceed grid_last.
inline bool within_grid(int64_t p, int margin, int32_t grid_last) {
  return (static_cast<double>(p) + margin) / 50.0 <= static_cast<double>(grid_last);
}

}  // namespace compactor
