// The build run: write the scenario's text files, compile them, write the binary outputs.
#pragma once

#include <cstdint>
#include <string>

#include "model/model.h"

namespace compactor {

struct RunOptions {
  std::string dir;  // where every file is read and written
  std::string line_id = "QUELDRANO 2";
  std::string train_number = "555";
  int32_t write_line_file = 1;
  bool delete_sources = true;  // delete the sources the compile has read
  bool write_outputs = true;   // false: compile in memory only
  bool quiet = false;
  bool verbose = false;
  bool warnings = false;  // report what the readers pass over (compile, check)
  bool werror = false;    // a warning makes the exit status 1
};

// What a compile reported.
struct RunSummary {
  int warnings = 0;
  int errors = 0;
};

// The whole build run in opts.dir: the five writers, then memorizza_percorso(1).
// Returns the exit status.
int Form_Load(const RunOptions& opts);

// Only the five writers.
int write_sources(const RunOptions& opts);

// Compiles the two sources in opts.dir and writes the outputs. Returns the exit status; fills
// `summary` when it is given.
int memorizza_percorso(Model& m, const RunOptions& opts, RunSummary* summary = nullptr);

// Shows " Errore n. " and the number, then ends the program with exit status 3.
[[noreturn]] void errore(const std::string& a);

}  // namespace compactor
