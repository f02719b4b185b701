// baseline [--report] FROM_DIR TO_DIR NAME...: the limit a build run is measured against.
//
// Reads the named files of FROM_DIR (the outputs a finished run left there) into memory, one read
// each, then writes each into TO_DIR under the same name, in the order given, with the same safe
// replacement as the program (write to a temporary file, rename it over the old name). A run
// cannot be faster than writing its output bytes; this is that, and nothing else. --report prints
// the time of the writes alone.
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  int first = 1;
  const bool report = argc > 1 && std::string(argv[1]) == "--report";
  if (report) ++first;
  if (argc - first < 3) {
    std::fputs("usage: baseline [--report] FROM_DIR TO_DIR NAME...\n", stderr);
    return 2;
  }
  const std::string from = argv[first];
  const std::string to = argv[first + 1];
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  for (int i = first + 2; i < argc; ++i) {
    const std::string name = argv[i];
    compactor::FileResult r;
    auto bytes = compactor::read_file(compactor::join_path(from, name), r, 1ull << 30);
    if (!bytes) {
      std::fprintf(stderr, "baseline: cannot read %s: %s\n", name.c_str(), r.reason.c_str());
      return 3;
    }
    files.emplace_back(name, std::move(*bytes));
  }
  // The clock starts here: everything below is what any run must do.
  auto start = std::chrono::steady_clock::now();
  for (const auto& [name, bytes] : files) {
    std::string path = compactor::join_path(to, name);
    compactor::FileResult r = compactor::replace_file(path, bytes);
    if (!r.ok) {
      std::fprintf(stderr, "baseline: cannot write %s: %s\n", path.c_str(), r.reason.c_str());
      return 3;
    }
  }
  auto end = std::chrono::steady_clock::now();
  if (report) {
    size_t total = 0;
    for (const auto& f : files) total += f.second.size();
    std::printf("%zu files, %zu bytes, written in %.3f ms\n", files.size(), total,
                std::chrono::duration<double, std::milli>(end - start).count());
  }
  return 0;
}
