// What the page of `view`, the editors' grammar and the fuzzers' dictionary know of the format,
// made from the tables the compiler and the encoders use: the record kinds (compiler/), the
// record and cell layouts (format/layouts.h), the cell kinds and the colours. The page gets
// page_facts_json() with its data; app/generate_facts.cc writes the other two into the files of
// the editor package and the fuzzers, and a test fails when those files differ from them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace compactor {

// One JSON object: the record fields and the cell fields in file order, the cell kinds by the
// page's names, the code of the cab-code points the compile inserts, and the colours.
std::string page_facts_json();

// An Oniguruma pattern for the first field of a line that holds a record keyword, as the table
// of record kinds recognises one; its group 1 is the field without its leading blanks.
std::string grammar_keyword_pattern();

// libFuzzer dictionary lines: every record keyword and each word its test looks for, by section.
std::string keyword_dictionary_lines();

// `text` with the lines between the first line that holds `begin` and the next one that holds
// `end` replaced by `lines`; nothing when either is missing.
std::optional<std::string> replace_between(std::string_view text, std::string_view begin,
                                           std::string_view end, std::string_view lines);

}  // namespace compactor
