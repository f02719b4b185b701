// The commands for scenario authors: check, dump and plot.
#pragma once

#include <string>
#include <vector>

#include "app/build_run.h"
#include "model/model.h"
#include "tools/plot.h"

namespace compactor {

// Compiles the sources in opts.dir in memory, as compile does, with warnings; writes and
// deletes nothing; ends with the summary line on stderr. Returns the exit status.
int run_check(RunOptions opts);

// compactor dump FILE [--json] [--as sim|grid|line] [--every N]; `args` follow "dump".
int run_dump(const std::vector<std::string>& args);

// What plot and view are asked for: the directory of the outputs, the file to write and the
// identity that names the outputs.
struct OutputsRequest {
  std::string dir;
  std::string out_path;  // default DIR/ID_NUM + the command's extension
  Model names;           // only the line id and train number
  bool with_plan = true;
  bool quiet = false;
};

// Reads plot's or view's arguments (after the command word) into `r`; `extension` names the
// default file. -1 when they make a request, else the exit status of a usage error.
int parse_outputs_request(const std::vector<std::string>& args, const std::string& command,
                          const std::string& extension, OutputsRequest& r);

// Reads and decodes the outputs in r.dir into `data`; a missing line output is noted on stderr
// and left out. -1 when they are read, else the exit status (1 an output that does not decode,
// 3 one that cannot be read).
int read_outputs(const OutputsRequest& r, PlotData& data);

// True when an output in r.dir is older than a source beside it; then, unless r.quiet, says so on
// stderr.
bool warn_if_outputs_older(const OutputsRequest& r);

// Writes the picture or page to r.out_path and, unless r.quiet, "wrote PATH (N bytes)"; false,
// with the reason on stderr, when it cannot.
bool write_page(const OutputsRequest& r, const std::string& bytes);

// compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v];
// `args` follow "plot".
int run_plot(const std::vector<std::string>& args);

}  // namespace compactor
