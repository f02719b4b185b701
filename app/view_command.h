// compactor view: the interactive page of a compiled scenario.
#pragma once

#include <string>
#include <vector>

namespace compactor {

// compactor view DIR [-o FILE.html] [--line-id ID] [--train NUM] [--no-plan] [-q] [-v];
// `args` follow "view". Reads the outputs in DIR and, when they are there, the two sources;
// writes one HTML file (default DIR/ID_NUM.html). Returns the exit status.
int run_view(const std::vector<std::string>& args);

}  // namespace compactor
