// One message about a place in a source: what the author's tools report and editors show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compactor {

struct Diagnostic {
  enum class Severity { kError, kWarning, kNote };

  std::string file;        // the source's file name
  int32_t line = 0;        // 1-based; 0 when the message is about the whole file
  int32_t column = 0;      // 1-based byte column where the field is, or where it should be
  int32_t end_column = 0;  // one past the field's last byte; equal to column for a missing field
  int64_t offset = -1;     // byte offset in the source, to show its line (-1: unknown)
  Severity severity = Severity::kError;
  int32_t code = 0;     // the error number; 0 for warnings and notes
  std::string name;     // a short name for a warning, such as "unknown-keyword"
  std::string message;  // what is wrong, without the file, position and severity
  std::vector<Diagnostic> notes;
};

}  // namespace compactor
