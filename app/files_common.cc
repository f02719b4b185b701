#include <cstdio>
#include <cstdlib>

#include "app/files.h"
#include "app/platform.h"

namespace compactor {

namespace {

void exit_unless_written(const std::string& path, const FileResult& r) {
  if (r.ok) return;
  end_wait();
  std::fprintf(stderr, "compactor: cannot write %s: %s\n", path.c_str(), r.reason.c_str());
  std::exit(3);
}

}  // namespace

void write_file_or_exit(const std::string& path, const std::string& bytes) {
  exit_unless_written(path, replace_file(path, bytes));
}

void write_file_in_pieces_or_exit(const std::string& path, const PieceProducer& produce) {
  exit_unless_written(path, replace_file_in_pieces(path, produce));
}

}  // namespace compactor
