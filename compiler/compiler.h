// The source compiler: reads the line source and the train source into the model.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model.h"

namespace compactor {

// One source file as the compile sees it.
struct SourceFile {
  std::string name;                  // bare file name, for diagnostics
  std::optional<std::string> bytes;  // nullopt when no such file exists
  bool consumed = false;             // set when the run deletes the file after reading it
};

// Something in a source that the readers pass over silently, and that is likely a mistake.
struct Warning {
  SourcePos pos;
  std::string text;
};

struct Sources {
  SourceFile line;
  SourceFile train;
  std::vector<Warning>* warnings = nullptr;  // collected when not null
};

// Reads both sources into the model. Always returns; the outcome is in error_code and
// error_position (and error_source). Marks the files the run deletes.
void read_sources(Model& m, Sources& s);

// --- Line feature placement -----------------------------------------------------------------

// Reorders items 81 to 83 by their keys.
void order_chainage_records(Model& m);

// Running state of the line's feature part.
struct LineFeatureState {
  int32_t board_counter = 80;  // item that receives the next board text
  int32_t fill_cell = 0;       // next cell whose gradient is not yet written
  int32_t prev_gradient = 0;   // gradient in force
  int32_t next_point = 2;      // next plan point
};

void place_gradient(Model& m, LineFeatureState& st, int32_t position, int32_t gradient);
void complete_gradients(Model& m, LineFeatureState& st);
// Curvature of a curve keyword (0 when it holds no class digit).
double curve_curvature(const std::string& keyword);
// Builds the plan up to start + length. Returns false with error 103 recorded when the plan
// would pass 1,000,000 points or the end of the plan table.
bool place_curve(Model& m, LineFeatureState& st, double k, int32_t start, int32_t length);
void complete_plan(Model& m, LineFeatureState& st);
void place_tunnel(Model& m, int32_t& inizio, int32_t& fine, int32_t& tipo);
void place_speed_boards(Model& m, int32_t posizione, int32_t& vas, int32_t& vbs, int32_t& vcs,
                           int32_t& strisces, int32_t& vad, int32_t& vbd, int32_t& vcd,
                           int32_t& strisced);
// Places an indication board; records error 6 or 107 and returns false when it cannot.
bool place_board(Model& m, LineFeatureState& st, int32_t position, const std::string& text);

// --- Signal, slow-order and station placement -------------------------------------------------

void place_signal(Model& m, int32_t posizione, int32_t& sx, int32_t& s1, int32_t& s2, int32_t& s3,
                  int32_t& rapp, int32_t& dx, int32_t& d1, int32_t& d2, int32_t& d3,
                  int32_t& tempo);
void place_slow_order(Model& m, int32_t x, int32_t& v, int32_t& l, int32_t& f_tt, int32_t f_ta,
                        int32_t& d_v);
bool place_code_point(Model& m, int32_t posizione, int32_t codice);
bool place_station(Model& m, int32_t n, int32_t lunghezza);

// A 32-bit result of source arithmetic; one that does not fit is a read failure.
int32_t to_int32(int64_t v);

}  // namespace compactor
