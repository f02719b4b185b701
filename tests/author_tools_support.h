// Helpers for the tests of the authoring commands (check, dump, plot): the outputs of the default
// build run and the default scenario compiled in memory, each made once; a directory's files.
#pragma once
// POSIX only (through tests/child_process.h): the Windows test build leaves these tests out.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/build_run.h"
#include "model/model.h"
#include "tests/child_process.h"

namespace compactor::author_test {

namespace fs = std::filesystem;

// Every file of a directory with its bytes.
inline std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& n : names) out.emplace_back(n, child::read_bytes(dir / n));
  return out;
}

// A directory that holds the outputs of the default build run, made once for all tests.
inline const child::ScratchDir& default_run() {
  static child::ScratchDir dir;
  static const bool made = [] {
    child::Result r = child::run_compactor({"--dir", dir.str(), "--quiet"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return true;
  }();
  (void)made;
  return dir;
}

// The default scenario compiled in memory from the writers' sources, as the build run does.
inline const Model& default_model() {
  static Model model;
  static const bool made = [] {
    child::ScratchDir dir;
    RunOptions opts;
    opts.dir = dir.str();
    opts.quiet = true;
    opts.write_outputs = false;
    EXPECT_EQ(write_sources(opts), 0);
    EXPECT_EQ(compile_directory(model, opts), 0);
    return true;
  }();
  (void)made;
  return model;
}

}  // namespace compactor::author_test

#endif  // _WIN32
