// The line source alone, with an empty train source.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_compile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace compactor;
  Sources s;
  s.line = fuzz::source(fuzz::kLineName, std::string(reinterpret_cast<const char*>(data), size));
  s.train = fuzz::source(fuzz::kTrainName, std::string());
  fuzz::compile_and_check(s, fuzz::plan_for(size));
  return 0;
}
