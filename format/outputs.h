// The three binary outputs the simulator loads: line output, record output, grid output.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "format/layouts.h"
#include "model/model.h"

namespace compactor {

// The plan: (plan_last + 1) * 2 tagged values, all x then all y.
std::string encode_line_output(const Model& m);
// Its length in bytes.
size_t line_output_size(const Model& m);
// The same bytes in pieces of at most 64 KiB, in order: `piece` takes each and returns false to
// stop. The pieces are made one at a time in one buffer; the line output is never held whole.
void encode_line_output_in_pieces(const Model& m,
                                  const std::function<bool(const char*, size_t)>& piece);
// The 87 records, 34 bytes each plus their text.
std::string encode_record_output(const Model& m);
// The grid, 15 bytes a cell.
std::string encode_grid_output(const Model& m);

std::string line_output_name(const Model& m);    // line_id + "_linea.dat"
std::string record_output_name(const Model& m);  // line_id + "_" + train_number + ".sim"
std::string grid_output_name(const Model& m);    // line_id + "_" + train_number + ".dat"

}  // namespace compactor
