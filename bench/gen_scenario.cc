// gen_scenario DIR [--length M] [--curves N] [--curve-class C] [--curve-length M]: writes a
// generated scenario's line and train sources into DIR, under the names that `compactor compile
// DIR` reads. Without --length, the large scenario; the --curve options (a class 1 to 6, a
// length in metres for every curve) change its curves after --length has set the rest.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"
#include "bench/generate.h"
#include "model/model.h"
#include "scenario/texts.h"

namespace {

int usage() {
  std::fputs(
      "usage: gen_scenario DIR [--length M] [--curves N] [--curve-class C] [--curve-length M] "
      "[--line-id ID] [--train NUM]\n",
      stderr);
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
    } else if ((a == "--curves" || a == "--curve-class" || a == "--curve-length") &&
               i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || v <= 0 || v > (a == "--curve-class" ? 6 : 1000000)) return usage();
      int& field = a == "--curves"        ? shape.curves
                   : a == "--curve-class" ? shape.curve_class
                                          : shape.curve_length;
      field = static_cast<int>(v);
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
  const std::pair<std::string, const std::string*> files[] = {
      {compactor::line_source_name(m), &sources.line},
      {compactor::train_source_name(m), &sources.train}};
  for (const auto& [name, bytes] : files) {
    std::string path = compactor::join_path(dir, name);
    compactor::FileResult r = compactor::replace_file(path, *bytes);
    if (!r.ok) {
      std::fprintf(stderr, "gen_scenario: cannot write %s: %s\n", path.c_str(), r.reason.c_str());
      return 3;
    }
  }
  return 0;
}
