#include <cstdio>
#include <cstdlib>

#include "app/files.h"
#include "app/platform.h"

namespace compactor {

void write_file_or_exit(const std::string& path, const std::string& bytes) {
  FileResult r = replace_file(path, bytes);
  if (r.ok) return;
  end_wait();
  std::fprintf(stderr, "compactor: cannot write %s: %s\n", path.c_str(), r.reason.c_str());
  std::exit(3);
}

}  // namespace compactor
