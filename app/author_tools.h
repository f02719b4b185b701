// The commands for scenario authors: check, dump and plot.
#pragma once

#include <string>
#include <vector>

#include "app/build_run.h"

namespace compactor {

// Compiles the sources in opts.dir in memory, as compile does, with warnings; writes and
// deletes nothing; ends with the summary line on stderr. Returns the exit status.
int run_check(RunOptions opts);

// compactor dump FILE [--json] [--as sim|grid|line] [--every N]; `args` follow "dump".
int run_dump(const std::vector<std::string>& args);

// compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v];
// `args` follow "plot".
int run_plot(const std::vector<std::string>& args);

}  // namespace compactor
