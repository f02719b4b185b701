// Writes what the editor package and the fuzzers need to know of the format into their files,
// from the program's own tables (tools/format_facts.h), or checks that those files hold it.
//
//   generate_facts check SOURCE_DIR   exit 1, naming each file that differs, when one does
//   generate_facts write SOURCE_DIR   rewrites the parts that differ
//
// Each file keeps everything but the lines between its two marks.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "tools/dump.h"
#include "tools/format_facts.h"

namespace compactor {
namespace {

struct GeneratedPart {
  const char* path;   // from the top of the source tree
  const char* begin;  // the part starts on the line after the first line that holds this
  const char* end;    // and ends before the next line that holds this
  std::string (*lines)();
};

std::string grammar_keyword_lines() {
  return "      \"match\": " + json_string(grammar_keyword_pattern()) + ",\n";
}

constexpr GeneratedPart kGeneratedParts[] = {
    {"editors/vscode/syntaxes/compactor-scenario.tmLanguage.json", "\"keyword\": {", "\"captures\"",
     grammar_keyword_lines},
    {"fuzz/keywords.dict", "# generated from the table of record kinds",
     "# end of the generated part", keyword_dictionary_lines},
};

// 0 when the file holds its part as generated (or now does, with `write`), else 1.
int bring_in_step(const std::string& root, const GeneratedPart& part, bool write) {
  const std::string path = root + "/" + part.path;
  FileResult result;
  const std::optional<std::string> text = read_file(path, result);
  if (!text) {
    std::fprintf(stderr, "generate_facts: cannot read %s: %s\n", path.c_str(),
                 result.reason.c_str());
    return 1;
  }
  const std::optional<std::string> wanted =
      replace_between(*text, part.begin, part.end, part.lines());
  if (!wanted) {
    std::fprintf(stderr, "generate_facts: %s lacks the marks \"%s\" and \"%s\"\n", path.c_str(),
                 part.begin, part.end);
    return 1;
  }
  if (*wanted == *text) return 0;
  if (!write) {
    std::fprintf(stderr,
                 "generate_facts: %s differs from the program's tables; "
                 "run `generate_facts write SOURCE_DIR` (or build the target generate-facts)\n",
                 path.c_str());
    return 1;
  }
  result = replace_file(path, *wanted);
  if (!result.ok) {
    std::fprintf(stderr, "generate_facts: cannot write %s: %s\n", path.c_str(),
                 result.reason.c_str());
    return 1;
  }
  std::printf("generate_facts: wrote %s\n", path.c_str());
  return 0;
}

}  // namespace
}  // namespace compactor

int main(int argc, char** argv) {
  const std::string_view mode = argc == 3 ? argv[1] : "";
  if (mode != "check" && mode != "write") {
    std::fprintf(stderr, "usage: generate_facts check|write SOURCE_DIR\n");
    return 2;
  }
  int status = 0;
  for (const compactor::GeneratedPart& part : compactor::kGeneratedParts) {
    status |= compactor::bring_in_step(argv[2], part, mode == "write");
  }
  return status;
}
