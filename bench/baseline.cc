// baseline FROM_DIR TO_DIR [--report]: the limit a build run is measured against.
//
// Reads every regular file of FROM_DIR (the outputs a finished run left there) into memory, then
// writes each into TO_DIR under the same name with the same safe replacement as the program
// (write to a temporary file, rename it over the old name). A run cannot be faster than writing
// its output bytes; this is that, and nothing else. --report prints the time of the writes alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/files.h"
#include "app/platform.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--report")) {
    std::fputs("usage: baseline FROM_DIR TO_DIR [--report]\n", stderr);
    return 2;
  }
  const std::string from = argv[1];
  const std::string to = argv[2];
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(from, ec)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  if (ec) {
    std::fprintf(stderr, "baseline: cannot list %s: %s\n", from.c_str(), ec.message().c_str());
    return 3;
  }
  std::sort(names.begin(), names.end());
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  for (const std::string& name : names) {
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
    compactor::write_file_or_exit(compactor::join_path(to, name), bytes);
  }
  auto end = std::chrono::steady_clock::now();
  if (argc == 4) {
    size_t total = 0;
    for (const auto& f : files) total += f.second.size();
    std::printf("%zu files, %zu bytes, written in %.3f ms\n", files.size(), total,
                std::chrono::duration<double, std::milli>(end - start).count());
  }
  return 0;
}
