// compactor documents DIR: the driver's slow-order form and timetable card written from the
// scenario's sources, and a first notes file.
#pragma once

#include "app/build_run.h"

namespace compactor {

// Compiles the sources in opts.dir and writes the form and the card made from them, and the notes
// when none exist. A document there that differs from what would be written is named and left
// alone, and nothing is written (exit status 3), unless opts.force; sources that hold an error
// write nothing (exit status 1). Returns the exit status.
int run_documents(const RunOptions& opts);

}  // namespace compactor
