// The tunnel section from the grid's cells. The compile writes a tunnel's type into each of its
// cells, `& 0xFF`, and for a type above 10 takes 10 off and lays a marker in every fourth cell
// counted from its first, where the cell is still free; a tunnel that starts within 150 m of the
// end of the tunnel record before it takes type 3. One record for each run of cells of one type
// gives most grids back. Where it does not (tunnels that overlap, markers out of step with the
// runs), the markers are laid first, one record for each chain of them, and the types are
// written over them without markers.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "compiler/cells.h"
#include "compiler/compiler.h"
#include "decompiler/recover.h"
#include "model/written_values.h"

namespace compactor {

namespace {

// A tunnel record as it is written: start and end in metres, and the type field.
struct TunnelLine {
  int64_t start = 0;
  int64_t end = 0;
  int64_t type = 0;
};

TunnelLine covering(int64_t first, int64_t last, int64_t type) {
  return {first * 50, (last + 1) * 50, type};
}

// One record for each run of tunnel cells. A tunnel of another type than 3 that starts within
// 150 m of the one before it gets a tunnel of no cells, ending at 0 m, between them; a type above
// 10, or one with markers, is written 10 higher.
std::vector<TunnelLine> run_lines(const Model& m) {
  std::vector<TunnelLine> lines;
  for (const TunnelRun& run : tunnel_runs(m.track_grid)) {
    const int64_t type = written_tunnel_type(run.type, run.markers || run.type > 10);
    const TunnelLine line = covering(run.first, run.last, type);
    if (!lines.empty() && run.type != 3 && line.start - lines.back().end <= 150) {
      lines.push_back({0, 0, 0});
    }
    lines.push_back(line);
  }
  return lines;
}

// The cells `lines` leave in an empty grid; nullopt when one of them is refused. Only the record
// before each is kept, for its gap: the count of records is checked apart.
std::optional<Model> laid_by(const Model& m, const std::vector<TunnelLine>& lines) {
  Model laid;
  laid.track_grid.assign(m.track_grid.size(), TrackCell{});
  laid.grid_last = m.grid_last;
  for (const TunnelLine& l : lines) {
    if (!within_grid(l.start, 100, m.grid_last) ||
        !place_tunnel(laid, static_cast<int32_t>(l.start), static_cast<int32_t>(l.end),
                      static_cast<int32_t>(l.type))) {
      return std::nullopt;
    }
    if (laid.tunnels.size() > 1) laid.tunnels.erase(laid.tunnels.begin());
  }
  return laid;
}

// Whether `lines` leave every cell's tunnel type, and a marker exactly where the grid has one.
// Under a cell another record takes (a board, a signal, a stop mark) a marker makes no
// difference: placements take a marker's cell as free.
bool gives_cells(const Model& m, const std::vector<TunnelLine>& lines) {
  if (lines.size() > static_cast<size_t>(kMaxTunnels)) return false;
  std::optional<Model> laid = laid_by(m, lines);
  if (!laid) return false;
  for (size_t c = 0; c < m.track_grid.size(); ++c) {
    const TrackCell& want = m.track_grid[c];
    const TrackCell& got = laid->track_grid[c];
    if (want.tunnel_type != got.tunnel_type || (is_free(want) && want.kind != got.kind)) {
      return false;
    }
  }
  return true;
}

// Adds a record of the cells first to last that stores `value` and lays no marker: a type above
// 10 is written 256 lower. When it is not of type 3 and starts within 150 m of the end of the
// record before it, a record of no cells goes between them, ending 200 m or more before it.
void add_typed(std::vector<TunnelLine>& lines, int64_t first, int64_t last, int value) {
  const TunnelLine line = covering(first, last, written_tunnel_type(value, false));
  if (!lines.empty() && value != 3 && line.start - lines.back().end <= 150) {
    lines.push_back(line.start > 150 ? TunnelLine{0, 0, 0} : TunnelLine{-200, -200, 0});
  }
  lines.push_back(line);
}

// The type most of the cells first to last hold.
int most_held_type(const Model& m, int64_t first, int64_t last) {
  int64_t count[256] = {};
  for (int64_t c = first; c <= last; ++c) ++count[m.track_grid[static_cast<size_t>(c)].tunnel_type];
  return static_cast<int>(std::max_element(count, count + 256) - count);
}

// One marker tunnel for each chain of markers four cells apart (cells other records take may
// stand between them), from three cells before its first marker, storing the type most of its
// cells keep. A marker in cells 0 to 2 has no tunnel before it to lay it: it is named.
std::vector<TunnelRun> marker_runs(DecodedOutputs& d) {
  const std::vector<TrackCell>& g = d.m.track_grid;
  const auto marker = [&g](int64_t c) { return g[static_cast<size_t>(c)].kind == kTunnelMarker; };
  const auto in_chain = [&](int64_t k) {
    return k <= d.m.grid_last && (marker(k) || !is_free(g[static_cast<size_t>(k)]));
  };
  std::vector<bool> chained(g.size(), false);
  std::vector<TunnelRun> runs;
  for (int64_t c = 0; c <= d.m.grid_last; ++c) {
    if (!marker(c) || chained[static_cast<size_t>(c)]) continue;
    if (c < 3) {
      d.unrecovered.push_back("grid output: cell " + number(c) +
                              " holds a tunnel marker, which no tunnel lays before cell 3");
      continue;
    }
    int64_t last = c;
    for (int64_t k = c + 4; in_chain(k); k += 4) {
      if (marker(k)) last = k;
      chained[static_cast<size_t>(k)] = true;
    }
    runs.push_back({c - 3, last, most_held_type(d.m, c - 3, last), true});
  }
  return runs;
}

// The runs, in order of their first cells, in chains that each go left to right with more than
// 150 m between one run's end and the next one's start, so that only the first record of a chain
// may need a record of no cells before it. Each run goes into the first chain it fits: that makes
// the fewest chains, as many as the runs that lie within 150 m of each other at the most.
std::vector<std::vector<TunnelRun>> chains_of(const std::vector<TunnelRun>& runs) {
  std::vector<std::vector<TunnelRun>> chains;
  for (const TunnelRun& r : runs) {
    const auto fits = [&r](const std::vector<TunnelRun>& c) { return c.back().last + 4 < r.first; };
    auto chain = std::find_if(chains.begin(), chains.end(), fits);
    if (chain == chains.end()) {
      chains.push_back({r});
    } else {
      chain->push_back(r);
    }
  }
  return chains;
}

// Each stretch of runs that touch one another, where one type holds two runs or more, as one
// run of that type below and the runs of the other types above it: a tunnel fewer for each run
// of that type past the first. Other runs go above as they are.
void in_two_layers(const std::vector<TunnelRun>& runs, std::vector<TunnelRun>& below,
                   std::vector<TunnelRun>& above) {
  for (size_t first = 0, last = 0; first < runs.size(); first = last + 1) {
    last = first;
    while (last + 1 < runs.size() && runs[last + 1].first == runs[last].last + 1) ++last;
    int64_t count[256] = {};
    for (size_t r = first; r <= last; ++r) ++count[runs[r].type];
    const int base = static_cast<int>(std::max_element(count, count + 256) - count);
    const bool layered = count[base] >= 2;
    if (layered) below.push_back({runs[first].first, runs[last].last, base, false});
    for (size_t r = first; r <= last; ++r) {
      if (!layered || runs[r].type != base) above.push_back(runs[r]);
    }
  }
}

// The types written over the markers without markers, one record for each run of one type among
// the cells the markers' tunnels leave with another. A record starts at cell grid_last - 2 at the
// latest: runs that begin after it are written first, each from that cell, the rightmost first,
// and the cells between it and them are written again by the records after. The other runs go
// chain by chain.
void add_type_lines(const Model& m, std::vector<TunnelLine>& lines) {
  std::optional<Model> laid = laid_by(m, lines);
  if (!laid) return;
  const auto wanted = [&laid](int64_t c, const TrackCell& cell) {
    return laid->track_grid[static_cast<size_t>(c)].tunnel_type != cell.tunnel_type;
  };
  const int64_t latest = int64_t{m.grid_last} - 2;
  std::vector<TunnelRun> runs = tunnel_runs(m.track_grid, wanted);
  for (auto r = runs.rbegin(); r != runs.rend() && r->first > latest && latest >= 0; ++r) {
    add_typed(lines, latest, r->last, r->type);
  }
  if (!runs.empty() && runs.back().first > latest && latest >= 0) {
    laid = laid_by(m, lines);
    if (!laid) return;
    runs = tunnel_runs(m.track_grid, wanted);
  }
  std::vector<TunnelRun> below, above;
  in_two_layers(runs, below, above);
  for (const std::vector<TunnelRun>* layer : {&below, &above}) {
    for (const std::vector<TunnelRun>& chain : chains_of(*layer)) {
      for (const TunnelRun& r : chain) add_typed(lines, r.first, r.last, r.type);
    }
  }
}

// The marker tunnels laid first, chain by chain, each storing the type most of its cells keep
// (266 lays markers and stores 0), then the types their cells do not keep written over them; more
// records than a line holds are named.
std::vector<TunnelLine> layered_lines(DecodedOutputs& d) {
  std::vector<TunnelLine> lines;
  for (const std::vector<TunnelRun>& chain : chains_of(marker_runs(d))) {
    for (const TunnelRun& r : chain) {
      lines.push_back(covering(r.first, r.last, written_tunnel_type(r.type, true)));
    }
  }
  add_type_lines(d.m, lines);
  if (lines.size() > static_cast<size_t>(kMaxTunnels)) {
    d.unrecovered.push_back("grid output: its tunnel cells are written back in " +
                            number(static_cast<int64_t>(lines.size())) +
                            " tunnel records, more than the " + number(kMaxTunnels) +
                            " a line holds");
  }
  return lines;
}

}  // namespace

SourceSection tunnel_section(DecodedOutputs& d) {
  std::vector<TunnelLine> lines = run_lines(d.m);
  if (!gives_cells(d.m, lines)) lines = layered_lines(d);
  SourceSection s{"[montagne]", {}};
  for (const TunnelLine& l : lines) {
    s.lines.push_back(line_of(KindId::kTunnel, {number(l.start), number(l.end), number(l.type)}));
  }
  return s;
}

}  // namespace compactor
