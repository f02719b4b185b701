// The commands that write or compare sources and scenarios: fmt, new and diff.
#pragma once

#include <string>

namespace compactor {

struct FmtOptions {
  std::string path;    // a source, or a directory whose sources are formatted
  bool check = false;  // list what would change, write nothing
  bool quiet = false;
  bool no_wait = false;
};

// compactor fmt DIR|FILE [--check]. Returns the exit status: 1 when --check finds a source that
// would change, 3 when a source cannot be read or written.
int run_fmt(const FmtOptions& opts);

struct NewOptions {
  std::string dir;
  std::string length;  // as written after --length
  std::string line_id;
  std::string train_number;
  bool force = false;
  bool quiet = false;
  bool verbose = false;  // "wrote PATH (N bytes)" for each source, as sources -v
  bool no_wait = false;
};

// compactor new DIR --length M [--line-id ID] [--train NUM] [--force]. Returns the exit status.
int run_new(const NewOptions& opts);

struct DiffOptions {
  std::string a;
  std::string b;
  bool json = false;
};

// compactor diff A B [--json]: 0 the same, 1 they differ, 2 usage, 3 cannot read.
int run_diff(const DiffOptions& opts);

}  // namespace compactor
