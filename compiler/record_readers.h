// The compiler's reader of each record kind of the table (syntax/record_kinds.h).
#pragma once

#include <cstdint>

#include "syntax/record_kinds.h"

namespace compactor {

// How reading went on after a record.
enum class RecordStep : uint8_t {
  kNext,     // the record was read; go on with the next one
  kNotHere,  // the keyword stands for nothing in this compile (a curve without a plan)
  kLeave,    // end this source's records as its end would
  kStop,     // an error stops the source: nothing after it is done
  kFailed,   // a read failure (error 25)
};

struct ReaderContext;

// Reads the record of `kind` that cx holds: its values into the model.
RecordStep read_record(KindId kind, ReaderContext& cx);

}  // namespace compactor
