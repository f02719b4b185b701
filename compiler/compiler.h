// The source compiler: reads the line source and the train source into the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace compactor {

// One source file as the compile sees it.
struct SourceFile {
  std::string name;                  // bare file name, for diagnostics
  std::optional<std::string> bytes;  // nullopt when no such file exists
  bool consumed = false;             // set when the run deletes the file after reading it
};

// Something in a source that the readers pass over silently, and that is likely a mistake; or,
// as an error of the program's own, a field the readers pass over that holds an author's data
// (an unknown keyword, a stray value, a lone CR) or a source that is not 8-bit text. Such an
// error leaves the outcome as it is: the model is built as without it.
struct Warning {
  SourcePos pos;
  std::string text;
  std::string name;    // a short name of the kind ("unknown-keyword"), the code of an error
  bool error = false;  // an error of the program's own, not a warning
};

struct Sources {
  SourceFile line;
  SourceFile train;
  std::vector<Warning>* warnings = nullptr;  // collected when not null
  // At most this many warnings go into *warnings; the ones after them are only counted in
  // warnings_not_kept, so that a source of millions of stray lines costs no memory for them.
  // The same limit holds for the errors of the program's own among them, counted apart.
  size_t max_kept_warnings = SIZE_MAX;
  size_t warnings_not_kept = 0;
  size_t errors_not_kept = 0;
};

// Reads both sources into the model. Always returns; the outcome is in error_code and
// error_position (and error_source). Marks the files the run deletes. `with_plan` builds the
// plan of the line.
void read_sources(Model& m, Sources& s, bool with_plan);

// --- Arithmetic on source values ---------------------------------------------------------------

// Whether a result of source arithmetic fits 32 bits; one that does not is a read failure.
bool fits_int32(int64_t v);
// Stores v when it fits 32 bits; false, with `out` unchanged, when it does not.
bool assign_int32(int32_t& out, int64_t v);
// Records error 25, a read failure at the record being read, with what went wrong ("the end
// x + l does not fit 32 bits"). Returns false.
bool record_read_failure(Model& m, const char* what);

// --- Line feature placement -----------------------------------------------------------------
// Each placement returns false when it has recorded an error in the model.

// Reorders records 81 to 83 by their keys.
bool order_chainage_records(Model& m);

// Running state of the line's feature part.
struct LineFeatureState {
  int32_t board_counter = kLastBoardTextRecord;  // record that receives the next board text
  int32_t fill_cell = 0;                         // next cell whose gradient is not yet written
  int32_t prev_gradient = 0;                     // gradient in force
  int32_t next_point = 2;                        // next plan point
};

void place_gradient(Model& m, LineFeatureState& st, int32_t position, int32_t gradient);
void complete_gradients(Model& m, LineFeatureState& st);
// Curvature of a curve keyword (0 when it holds no class digit).
double curve_curvature(std::string_view keyword);
// Builds the plan up to start + length. Returns false with error 103 recorded when the plan
// would pass 1,000,000 points or the end of the plan table.
bool place_curve(Model& m, LineFeatureState& st, double k, int32_t start, int32_t length);
void complete_plan(Model& m, LineFeatureState& st);
// Marks the cells of a tunnel with its type; errors 106 and 15.
bool place_tunnel(Model& m, int32_t start, int32_t end, int32_t type);

// One side of a speed board, s or d: its three speeds a, b and c (km/h) and its stripe count.
struct BoardSide {
  int32_t speeds[3] = {};
  int32_t stripes = 0;
};
// A speed board's two sides.
struct SpeedBoards {
  BoardSide side_s;
  BoardSide side_d;
};
// Places a speed board; error 21.
bool place_speed_boards(Model& m, int32_t position, const SpeedBoards& boards);
// Places an indication board; errors 6 and 107.
bool place_board(Model& m, LineFeatureState& st, int32_t position, const std::string& text);

// --- Signal, slow-order and station placement -------------------------------------------------

// A signal's values after its position: a type and three digits for each side, s and d, the
// relation digit and the time.
struct SignalRecord {
  int32_t type_s = 0;
  int32_t digits_s[3] = {};
  int32_t relation = 0;
  int32_t type_d = 0;
  int32_t digits_d[3] = {};
  int32_t time = 0;
};
// Places a signal and the approach codes before it; error 16.
bool place_signal(Model& m, int32_t position, const SignalRecord& signal);

struct SlowOrder {
  int32_t start = 0;                // m
  int32_t speed = 0;                // km/h
  int32_t length = 0;               // m
  int32_t param3_value = 0;         // stored in param3 of the start and end cells
  int32_t with_approach_cells = 0;  // not 0: four approach cells before the warning board
  int32_t approach_value = 0;       // not 0: stored in param2 of every cell of the slow order
};
// Places a slow order's start, end, warning board and approach cells; errors 17 to 20.
bool place_slow_order(Model& m, const SlowOrder& slow_order);
// Places a cab-code point; error 7.
bool place_code_point(Model& m, int32_t position, int32_t code);
// Sets the extent of station record n and places its stop mark; errors 15, 22 and 24.
bool place_station(Model& m, int32_t n, int32_t length);

}  // namespace compactor
