// A diagnostic about a source: an error, a warning or a note, at a file, line and column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compactor {

struct Diagnostic {
  enum class Severity { kError, kWarning, kNote };
  std::string file;
  int32_t line = 0;        // 1-based; 0 when the diagnostic is about the whole file
  int32_t column = 0;      // 1-based
  int32_t end_column = 0;  // where the field ends (0: unknown)
  int64_t offset = -1;     // byte offset in the source, to show its line (-1: unknown)
  Severity severity = Severity::kError;
  int32_t code = 0;  // the error number; 0 for warnings and notes
  std::string name;  // a short name for warnings ("unknown-keyword")
  std::string message;
  std::vector<Diagnostic> notes;
};

}  // namespace compactor
