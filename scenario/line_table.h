// Shared by the texts' data files: a constant array of lines becomes a line table.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "scenario/texts.h"

namespace compactor {

// The lines in order, then the sentinel that ends every table.
template <std::size_t N>
std::vector<std::string> table_with_sentinel(const char* const (&lines)[N]) {
  std::vector<std::string> table;
  table.reserve(N + 1);
  for (const char* line : lines) table.emplace_back(line);
  table.emplace_back(kTableSentinel);
  return table;
}

}  // namespace compactor
