// compactor view: the interactive page of a compiled scenario.
#pragma once

#include "app/author_tools.h"

namespace compactor {

// compactor view DIR [-o FILE.html] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v]. Reads the
// outputs in DIR and, when they are there, the two sources; writes one HTML file (default
// DIR/ID_NUM.html). Returns the exit status.
int run_view(const PlotOptions& opts);

}  // namespace compactor
