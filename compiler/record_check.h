// The list of every record whose fields cannot be read, where the compile stops at the first one:
// a view of the failed records of the sources' syntax trees (syntax/tree.h), which follow the
// compile's reading and go on after a record that cannot be read.
#pragma once

#include <cstdint>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/diagnostic.h"

namespace compactor {

// At most this many records that cannot be read are listed; the rest are counted.
constexpr size_t kListedRecordFailures = 200;

// A record that cannot be read.
struct RecordFailure {
  // An error 25 at the field that cannot be read, or at the end of the line where a missing
  // field should be.
  Diagnostic diagnostic;
  // Where the field reader stops on this record: the field it takes in place of the missing one,
  // or the end of the file. The compile's own error 25 stands here or at the diagnostic.
  int32_t stop_line = 0;
  int32_t stop_column = 0;
};

struct RecordCheck {
  std::vector<RecordFailure> failures;  // in source order, the line source first
  int64_t not_listed = 0;               // failures found after the listed ones
};

// Checks the records of the line source, then of the train source. `with_plan`: curves are read
// (without the plan the compile passes over their keyword alone).
RecordCheck check_records(const Sources& s, bool with_plan);

}  // namespace compactor
