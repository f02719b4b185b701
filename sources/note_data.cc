// The notes file: one line describing the train's service.
#include "sources/line_table.h"
#include "sources/writers.h"

namespace compactor {
namespace {

constexpr const char* kLines[] = {
    "Treno Intercity 'VESUVIO' con fermate a LATINA, FORMIA e AVERSA",
};

}  // namespace

std::vector<std::string> note_table() {
  return table_with_sentinel(kLines);
}

}  // namespace compactor
