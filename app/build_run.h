// The build run and the compile of a directory: the only code that writes or deletes files.
#pragma once

#include <cstdint>
#include <string>

#include "model/model.h"
#include "platform/process.h"
#include "scenario/texts.h"

namespace compactor {

struct RunOptions {
  std::string dir;  // where every file is read and written
  std::string line_id = kDefaultLineId;
  std::string train_number = kDefaultTrainNumber;
  int32_t with_plan = 1;
  bool delete_sources = true;  // delete the sources the compile has read
  bool write_outputs = true;   // false: compile in memory only
  bool quiet = false;
  bool verbose = false;
  bool warnings = false;  // report what the readers pass over (compile, check)
  bool werror = false;    // a warning makes the exit status 1
  bool no_wait = false;   // a directory in use by another run ends this one at once
};

// What a compile reported.
struct RunSummary {
  int warnings = 0;
  int errors = 0;
};

// Takes the lock on `dir` for a run (kExclusive for one that writes or deletes there), waiting
// for another run that holds it: after a second of waiting it says so, unless quiet; with no_wait
// it does not wait. Returns -1 when the run may go on (also without the lock, on a directory that
// cannot be locked), else the exit status. The lock is held until `lock` is destroyed.
int lock_run_directory(const std::string& dir, LockMode mode, bool no_wait, bool quiet,
                       DirectoryLock& lock);

// The whole build run in opts.dir: the five texts, then the compile of the line and train
// sources with the plan. Returns the exit status.
int build_run(const RunOptions& opts);

// Only the five texts. Returns the exit status.
int write_sources(const RunOptions& opts);

// Compiles the two sources in opts.dir and writes the outputs (all three written, then put in
// place together). Returns the exit status; fills `summary` when it is given.
int compile_directory(Model& m, const RunOptions& opts, RunSummary* summary = nullptr);

}  // namespace compactor
