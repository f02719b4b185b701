// The compile-check pass: read the sources, insert cab-code points, stamp, compute the codes.
#pragma once

#include <cstdint>

#include "compiler/compiler.h"
#include "model/model.h"

namespace compactor {

// How the in-memory pass ended.
enum class PassOutcome {
  kReady,      // the model is complete; write the outputs
  kNoGrid,     // the line source gave no line length: nothing can be written
  kStampsSet,  // error 1250: a stamp field was already set
  kCodesSet,   // error 1251: an integrity-code field was already set
};

// Clears the records, reads the sources, walks the grid, stamps and stores the integrity codes.
PassOutcome compile_model(Model& m, int32_t with_plan, Sources& s);

// Inserts the cab-code points; records errors 11, 12 and 13.
void insert_cab_code_points(Model& m);

// The integrity codes of the identity held in records 86 and 85.
int32_t identity_check_code(Model& m);
int16_t identity_check_sum(Model& m);

}  // namespace compactor
