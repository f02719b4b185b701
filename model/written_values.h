// What an author wrote, from what the cells store: the speed limit in km/h, the gradient in per
// mille, a speed board's speeds and stripe counts from their packed pairs, and a tunnel's type
// with its markers. The compile stores them (compiler/); the decompile writes them back as
// records and diff shows them as the author wrote them, both through these.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/model.h"

namespace compactor {

// A cell's speed limit in km/h: the compile stores speed / 5.
inline int32_t speed_limit_kmh(uint8_t stored) {
  return int32_t{stored} * 5;
}

// A cell's gradient in per mille: the compile stores gradient + 100, its low 8 bits.
inline int32_t written_gradient(uint8_t stored) {
  return int32_t{stored} - 100;
}

// The two values of a pair packed as s × factor + d.
struct SidePair {
  int64_t s = 0;
  int64_t d = 0;
};

// A packed pair split, d from 0 to factor - 1 when the pair is not negative. A negative pair is
// given all in d (s 0), one of the written pairs that pack to it.
inline SidePair unpacked_pair(int64_t packed, int64_t factor) {
  if (packed < 0) return {0, packed};
  return {packed / factor, packed % factor};
}

// A speed board's speeds a, b or c of sides s and d in km/h: each pair holds (s / 5) × 100 + d / 5.
inline SidePair board_speeds(int16_t pair) {
  const SidePair fifths = unpacked_pair(pair, 100);
  return {fifths.s * 5, fifths.d * 5};
}

// A speed board's stripe counts of sides s and d: the pair holds s × 10 + d.
inline SidePair board_stripes(int16_t pair) {
  return unpacked_pair(pair, 10);
}

// The type a tunnel record is written with for cells that store `stored`, with or without
// markers. A type above 10 lays markers and stores the type less 10 (266 stores 0), so a type
// above 10 kept without markers is written 256 lower, to the same low 8 bits.
inline int64_t written_tunnel_type(int64_t stored, bool markers) {
  if (markers) return stored + 10 + (stored == 0 ? 256 : 0);
  return stored > 10 ? stored - 256 : stored;
}

// A run of cells of one tunnel type, and whether a marker stands on its every fourth cell
// counted from its first (one in step with it is enough).
struct TunnelRun {
  int64_t first = 0;
  int64_t last = 0;
  int type = 0;
  bool markers = false;
};

// The runs of cells of one type among the cells of `grid` that `wanted(index, cell)` picks.
template <typename Wanted>
std::vector<TunnelRun> tunnel_runs(std::span<const TrackCell> grid, Wanted wanted) {
  std::vector<TunnelRun> runs;
  for (size_t i = 0; i < grid.size(); ++i) {
    const auto c = static_cast<int64_t>(i);
    const TrackCell& cell = grid[i];
    if (!wanted(c, cell)) continue;
    if (runs.empty() || runs.back().last != c - 1 || runs.back().type != cell.tunnel_type) {
      runs.push_back({c, c, cell.tunnel_type, false});
    }
    TunnelRun& run = runs.back();
    run.last = c;
    if ((c - run.first + 1) % 4 == 0 && cell.kind == kTunnelMarker) run.markers = true;
  }
  return runs;
}

// The runs of tunnel cells (a type other than 0), as one tunnel record each gives them back.
inline std::vector<TunnelRun> tunnel_runs(std::span<const TrackCell> grid) {
  return tunnel_runs(grid, [](int64_t, const TrackCell& cell) { return cell.tunnel_type != 0; });
}

}  // namespace compactor
