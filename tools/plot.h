// A picture of a compiled scenario: the plan of the line and its profiles, as one SVG file.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/decode.h"
#include "model/model.h"

namespace compactor {

struct PlotData {
  std::string line_id;
  std::string train_number;
  std::array<ScenarioItem, kItemCount> items;
  std::vector<TrackCell> cells;
  std::optional<Plan> plan;  // without it, only the profiles are drawn
};

// One output the picture is drawn from.
struct PlotInput {
  OutputKind kind = OutputKind::kRecords;
  std::string name;             // file name in the scenario's directory
  bool may_be_missing = false;  // the line output: without it only the profiles are drawn
};

// The outputs to read, in this order: the records, the grid and, when `with_plan`, the line
// output, named after the line id and train number of `names`.
std::vector<PlotInput> plot_inputs(const Model& names, bool with_plan);

// Decodes the bytes of one output into its part of `data`: the records, the cells or the plan.
// False, with `error` set, when they do not decode.
bool add_plot_input(PlotData& data, OutputKind kind, std::string_view bytes, DecodeError& error);

// The picture: on top the plan with stations, tunnels and signals (when there is a plan);
// below, along a kilometre axis, the gradient and the speed limit with stations, slow orders
// and tunnels shaded. Every station has one element of class "station".
std::string plot_svg(const PlotData& data);

// A run of cells, both ends included.
struct CellRun {
  int first = 0;
  int last = 0;
};

// Runs of consecutive cells whose tunnel_type is not 0.
std::vector<CellRun> tunnel_runs(const std::vector<TrackCell>& cells);

// Slow orders: from each slow-order start (kind 3) to the next slow-order end (kind 2); a start
// without an end runs to the last cell.
struct SlowOrderSpan {
  CellRun cells;
  int speed = 0;  // km/h, from the start cell
};
std::vector<SlowOrderSpan> slow_orders(const std::vector<TrackCell>& cells);

// The speed limit in force in each cell, in km/h: the cell's own limit, lowered to a slow order's
// speed from its start cell up to the cell before its end (up to the last cell when it has no
// end).
std::vector<int> limit_in_force(const std::vector<TrackCell>& cells);

// Centres for labels `width` wide along one axis, one per anchor (anchors sorted ascending):
// labels that would overlap are set side by side, centred as a group on their anchors, and kept
// inside [lo, hi] when they fit.
std::vector<double> spread_labels(const std::vector<double>& anchors, double width, double lo,
                                  double hi);

struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
bool overlap(const Box& a, const Box& b);

// Where the leader line from an anchor meets its label: the nearest point of the label's edge
// that faces the anchor.
std::array<double, 2> leader_end(const std::array<double, 2>& anchor, const Box& label);

// Whether the segment from a to b passes through the inside of the box (touching an edge does
// not count).
bool segment_crosses(const std::array<double, 2>& a, const std::array<double, 2>& b,
                     const Box& box);

// Places a label of size (width, height) next to each anchor point: above or below it, one row
// further out at a time, nearest first, the first place inside `area` that overlaps no label
// already placed and no obstacle box, that no leader line already drawn crosses and whose own
// leader line (anchor to leader_end) crosses no label. The anchors are taken from west to east
// and from east to west; the order that places more labels, then with shorter leader lines,
// wins. Labels that find no free place go to their first place inside `area`.
std::vector<Box> place_labels(const std::vector<std::array<double, 2>>& anchors,
                              const std::vector<double>& widths, double height,
                              const std::vector<Box>& obstacles, int rows, const Box& area);

}  // namespace compactor
