// The diagnostics of a scenario as an editor shows them: the report that check makes, with each
// diagnostic on the range of its field and its notes as related information.
#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "compiler/compiler.h"
#include "tools/lsp_text.h"

namespace compactor::lsp {

// The two sources of a scenario, named by their paths; a source that does not exist has no bytes.
struct ScenarioSources {
  std::string line_id;
  std::string train_number;
  SourceFile line;
  SourceFile train;
  // Why the line source on the disk gave no bytes when something stands at its name (a FIFO, a
  // directory): the diagnostic says so instead of "does not exist".
  std::string line_unreadable;
};

// Compiles the sources as check does and returns the diagnostics of each source by its path: an
// LSP Diagnostic array for the line source, and for the train source when it exists. `uri_of`
// names a source's path as the editor knows it.
std::map<std::string, nlohmann::json> scenario_diagnostics(
    ScenarioSources& sources, PositionEncoding encoding,
    const std::function<std::string(const std::string& path)>& uri_of);

}  // namespace compactor::lsp
