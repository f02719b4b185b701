// The build run and the compile of a directory: the only code that writes or deletes files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "compiler/compiler.h"
#include "model/model.h"
#include "platform/files.h"
#include "platform/process.h"
#include "scenario/texts.h"

namespace compactor {

struct RunOptions {
  std::string dir;  // where every file is read and written
  std::string line_id = kDefaultLineId;
  std::string train_number = kDefaultTrainNumber;
  int32_t with_plan = 1;
  bool delete_sources = true;  // delete the sources the compile has read
  // Sync the outputs and their directory to the disk before a source is deleted, so that a power
  // cut cannot lose both (docs/decisions.md: which runs do).
  bool durable = false;
  bool write_outputs = true;   // false: compile in memory only
  bool quiet = false;
  bool verbose = false;
  bool warnings = false;       // report what the readers pass over (compile, check)
  bool werror = false;         // a warning makes the exit status 1
  bool write_on_error = true;  // false: a recorded error keeps the previous outputs (compile)
  bool force = false;          // replace text files that differ from the scenario's texts
  bool color = false;          // colour the messages about the sources
  bool summary = false;        // end with the summary line (compile, check)
  bool json = false;           // the report as one JSON document on stdout (check)
  // List every record that cannot be read, not only the first (check).
  bool list_record_failures = false;
  // Warn about a slow-order form or timetable card beside the sources that does not follow them
  // (check).
  bool check_documents = false;
  bool no_wait = false;        // a directory in use by another run ends this one at once
  // Whether the line or the train source stood in dir when the command looked for the scenario
  // there; unset when it did not look (then the compile looks once itself).
  std::optional<bool> sources_seen;
};

// Makes the directory a command writes into when nothing stands at `dir`, one level as mkdir
// does (its parent must exist). Returns "" when `dir` is there now, else why it is not;
// `created` says whether this call made it.
std::string make_directory_if_missing(const std::string& dir, bool& created);

// Takes the lock on `dir` for a run (kExclusive for one that writes or deletes there), waiting
// for another run that holds it: after a second of waiting it says so, unless quiet; with no_wait
// it does not wait. Returns -1 when the run may go on (also without the lock, on a directory that
// cannot be locked), else the exit status. The lock is held until `lock` is destroyed.
// Once the lock is taken, a set of files that a killed run left half renamed in `dir` is finished
// (or, when its files are not whole, the old set kept), under the exclusive lock, and the run says
// so once.
int lock_run_directory(const std::string& dir, LockMode mode, bool no_wait, bool quiet,
                       DirectoryLock& lock);

// Finishes or restores the sets a killed run left in `dir` and says so; the caller holds the
// exclusive lock. -1 to go on, else the exit status.
int settle_directory(const std::string& dir);

// For a command that reads in `dir` without its lock (dump, the language server): only when a
// killed run's set is there, takes the exclusive lock and settles it as above. -1 to go on, else
// the exit status.
int settle_without_lock(const std::string& dir);

// The whole build run in opts.dir: the five texts, then the compile of the line and train
// sources with the plan. Returns the exit status.
int build_run(const RunOptions& opts);

// Which files the sources were read from, so that only those are ever deleted.
struct SourcesRead {
  FileIdentity line;
  FileIdentity train;
};

// The line and train sources of `names` in `dir`, read whole and named by their paths as given;
// a missing one has no bytes. False, with the reason on stderr, when something stands at a
// source's name and cannot be read (a directory, a dangling link, no permission, too large).
// `read`, when given, receives the identity of each file read.
bool load_sources(const std::string& dir, const Model& names, Sources& s,
                  SourcesRead* read = nullptr);

// Only the five texts. Unless opts.force, a file of one of their names whose content differs is
// left alone and named, and nothing is written (exit status 3). Returns the exit status.
int write_sources(const RunOptions& opts);

// Compiles the two sources in opts.dir, reports, and writes the outputs (with a recorded error,
// only when opts.write_on_error): all three written, then put in place together. Returns the exit
// status.
int compile_directory(Model& m, const RunOptions& opts);

}  // namespace compactor
