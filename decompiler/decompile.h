// From the three binary outputs back to a line source and a train source that compile to the
// same bytes. What no source can give is named, and the rest is still written.
#pragma once

#include <optional>
#include <string>
#include <vector>

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
};

Decompiled decompile(const CompiledOutputs& outputs);

}  // namespace compactor
