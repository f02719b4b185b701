// From the three binary outputs back to a line source and a train source that compile to the
// same bytes. What no source can give is named, and the rest is still written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/line_stream.h"

namespace compactor {

// The outputs as read: nullopt for a file that is not there (the line output may be absent:
// then the sources have no curve records).
struct CompiledOutputs {
  std::string line_id;  // from the files' names: what the sources are named after
  std::string train_number;
  std::optional<std::string> records;
  std::optional<std::string> grid;
  std::optional<std::string> line;
};

struct Decompiled {
  std::string line_source;
  std::string train_source;
  // Each thing the sources do not give back, with where it stands: "grid output: cells 4210 to
  // 4212 (210500 m) differ from what the sources compile to". Empty when compiling the two
  // sources gives back every byte of the outputs read.
  std::vector<std::string> unrecovered;
  // The line output's source failed a read, or held what an earlier pass over it did not: the
  // rest of this is to be dropped (whoever supplied the source knows why).
  bool line_unreadable = false;
};

// The outputs as decompile reads them: the records and the grid whole, the line output (by far
// the largest) a buffer at a time, in several passes, from wherever it is.
struct OutputSources {
  std::string line_id;
  std::string train_number;
  std::optional<std::string> records;
  std::optional<std::string> grid;
  std::optional<ByteSource> line;
};

Decompiled decompile(const OutputSources& outputs);
// The same with every output in memory.
Decompiled decompile(const CompiledOutputs& outputs);

}  // namespace compactor
