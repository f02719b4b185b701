// compactor lsp: the language server of the two sources, on standard input and output.
#pragma once

#include <string>
#include <vector>

namespace compactor {

// Serves an editor until it sends "exit" or closes standard input; `args` follow "lsp" and must
// be empty. Returns the exit status: 0 after "shutdown", 1 without it, 2 for a usage error.
int run_lsp(const std::vector<std::string>& args);

}  // namespace compactor
