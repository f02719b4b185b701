// compactor decompile: the sources of a compiled scenario, written back from its outputs.
#pragma once

#include <string>

#include "app/identity.h"

namespace compactor {

struct DecompileOptions {
  std::string dir;      // where the outputs are
  std::string out_dir;  // where the sources go ("" for dir)
  Identity identity;
  bool force = false;  // overwrite sources that stand there
  bool quiet = false;
  bool no_wait = false;
};

// Reads ID_NUM.sim, ID_NUM.dat and (when there) ID_linea.dat in DIR and writes ID_linea.txt and
// ID_NUM-.txt into the output directory. Exit status 0 when they compile back to the same bytes,
// 1 when something could not be recovered (named on stderr; the rest is written), 2 for a usage
// error, 3 when a file could not be read or written or a source stands there without --force.
int run_decompile(const DecompileOptions& opts);

}  // namespace compactor
