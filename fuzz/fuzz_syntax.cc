// Any bytes parsed as a line source and as a train source, with and without the plan: printing
// the syntax tree gives back the bytes, and its nodes follow one another without gap or overlap.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "syntax/tree.h"

namespace {

void check_tree(std::string_view bytes, compactor::SourceRole role, bool with_plan) {
  compactor::SourceSyntax tree = compactor::parse_source(bytes, role, with_plan);
  int64_t at = 0;
  for (const compactor::SyntaxNode& n : tree.nodes) {
    if (n.start != at || n.end <= n.start) {
      std::fprintf(stderr, "fuzz check failed: node [%lld, %lld) after offset %lld\n",
                   static_cast<long long>(n.start), static_cast<long long>(n.end),
                   static_cast<long long>(at));
      std::abort();
    }
    at = n.end;
  }
  if (at != static_cast<int64_t>(bytes.size()) || compactor::print_tree(tree) != bytes) {
    std::fprintf(stderr, "fuzz check failed: the tree does not print the source back\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (compactor::SourceRole role : {compactor::SourceRole::kLine, compactor::SourceRole::kTrain}) {
    check_tree(bytes, role, true);
    check_tree(bytes, role, false);
  }
  return 0;
}
