// The commands for scenario authors: check, dump and plot.
#pragma once

#include <optional>
#include <string>

#include "app/build_run.h"
#include "app/identity.h"
#include "model/model.h"
#include "tools/plot.h"

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
  bool no_wait = false;  // fail at once when another run holds the directory
};

// compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v]. Returns
// the exit status.
int run_plot(const PlotOptions& opts);

// What plot and view share. The identity's names of the files.
Model names_of(const Identity& identity);
// Takes the shared lock on opts.dir that a reader of the outputs and sources holds, so that no
// run writes there meanwhile. -1 when the command may go on, else the exit status.
int lock_for_reading(const PlotOptions& opts, DirectoryLock& lock);
// Reads and decodes the outputs in opts.dir into `data`; a missing line output is noted on
// stderr and left out. -1 when they are read, else the exit status (1 an output that does not
// decode, 3 one that cannot be read).
int read_outputs(const PlotOptions& opts, PlotData& data);
// True when an output in opts.dir is older than a source beside it; then, unless opts.quiet,
// says so on stderr.
bool warn_if_outputs_older(const PlotOptions& opts);
// Writes the picture or page to opts.out_path (default DIR/ID_NUM + extension) and, unless
// opts.quiet, "wrote PATH (N bytes)". Returns the exit status: 3, with the reason on stderr, when
// the page or that line cannot be written.
int write_page(const PlotOptions& opts, const std::string& extension, const std::string& bytes);

}  // namespace compactor
