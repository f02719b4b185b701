// The commands for scenario authors: check, dump and plot.
#pragma once

#include <optional>
#include <string>

#include "app/build_run.h"
#include "app/identity.h"

namespace compactor {

// Compiles the sources in opts.dir in memory, as compile does, with warnings; writes and
// deletes nothing; ends with the summary line on stderr. Returns the exit status.
int run_check(RunOptions opts);

// What the command line gave dump; the values of --as and --every as written.
struct DumpOptions {
  std::string path;
  bool json = false;
  std::optional<std::string> as;
  std::optional<std::string> every;
};

// compactor dump FILE [--json] [--as sim|grid|line] [--every N]. Returns the exit status.
int run_dump(const DumpOptions& opts);

// What the command line gave plot.
struct PlotOptions {
  std::string dir;
  std::string out_path;  // "" for DIR/ID_NUM.svg
  Identity identity;
  bool with_plan = true;
  bool quiet = false;
};

// compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v]. Returns
// the exit status.
int run_plot(const PlotOptions& opts);

}  // namespace compactor
