// The train source, read after the writers' line source. The plan of the line is left out: the
// train half never touches it, and each run is faster without it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_compile.h"
#include "scenario/texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace compactor;
  static const std::string line = text_from_table(line_source_table());
  Sources s;
  s.line = fuzz::source(fuzz::kLineName, line);
  s.train = fuzz::source(fuzz::kTrainName, std::string(reinterpret_cast<const char*>(data), size));
  fuzz::compile_and_check(s, 0);
  return 0;
}
