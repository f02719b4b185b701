// gen_scenario DIR [--length M]: writes a generated scenario's line and train sources into DIR,
// under the names that `compactor compile DIR` reads. Without --length, the large scenario.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/files.h"
#include "app/platform.h"
#include "bench/generate.h"
#include "model/model.h"
#include "sources/writers.h"

namespace {

int usage() {
  std::fputs("usage: gen_scenario DIR [--length M] [--line-id ID] [--train NUM]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  compactor::Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  compactor::bench::ScenarioShape shape;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--length" && i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || v <= 0 || v > 1000000) return usage();
      shape = compactor::bench::shape_for_length(static_cast<int32_t>(v));
    } else if (a == "--line-id" && i + 1 < argc) {
      m.line_id = argv[++i];
    } else if (a == "--train" && i + 1 < argc) {
      m.train_number = argv[++i];
    } else if (dir.empty() && !a.empty() && a[0] != '-') {
      dir = a;
    } else {
      return usage();
    }
  }
  if (dir.empty()) return usage();
  compactor::bench::GeneratedSources sources;
  try {
    sources = compactor::bench::generate_scenario(shape);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "gen_scenario: %s\n", e.what());
    return 2;
  }
  compactor::write_file_or_exit(compactor::join_path(dir, compactor::linea_file_name(m)),
                                sources.line);
  compactor::write_file_or_exit(compactor::join_path(dir, compactor::treno_file_name(m)),
                                sources.train);
  return 0;
}
