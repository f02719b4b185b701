// The compile: read the sources, insert the cab-code points, stamp, store the integrity codes.
#pragma once

#include <cstdint>
#include <string>

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
PassOutcome compile_model(Model& m, bool with_plan, Sources& s);

// Inserts the cab-code points; records errors 11, 12 and 13.
void insert_cab_code_points(Model& m);

// The identity in lower case (train number, then line id), padded with fixed letters so that
// its first 25 characters always exist: what the integrity codes are computed from.
std::string identity_work_string(const Model& m);

// The integrity codes of the identity held in records 86 and 85.
int32_t identity_check_code(const Model& m);
int16_t identity_check_sum(const Model& m);

}  // namespace compactor
