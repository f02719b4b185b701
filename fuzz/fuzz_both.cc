// Both sources from one input: the line source up to the marker "\n#@#\n", the train source after
// it. Without a marker the whole input is the line source and there is no train source at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_compile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace compactor;
  constexpr std::string_view kMarker = "\n#@#\n";
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Sources s;
  size_t at = input.find(kMarker);
  if (at == std::string_view::npos) {
    s.line = fuzz::source(fuzz::kLineName, std::string(input));
    s.train = fuzz::source(fuzz::kTrainName, std::nullopt);
  } else {
    s.line = fuzz::source(fuzz::kLineName, std::string(input.substr(0, at)));
    s.train = fuzz::source(fuzz::kTrainName, std::string(input.substr(at + kMarker.size())));
  }
  fuzz::compile_and_check(s, fuzz::plan_for(size));
  return 0;
}
