// The notes file: one line describing the train's service.
#include "scenario/line_table.h"
#include "scenario/texts.h"

namespace compactor {
namespace {

constexpr const char* kLines[] = {
    "Treno Intercity 'VESUVIO' con fermate a LATINA, FORMIA e AVERSA",
};

}  // namespace

std::vector<std::string> notes_table() {
  return table_with_sentinel(kLines);
}

}  // namespace compactor
