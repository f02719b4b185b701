// What keeps an author's work: the scenario's text files an author has changed are not written
// over, and a source that holds the recorded error is not deleted.
#pragma once

#include <string>

#include "app/build_run.h"
#include "compiler/compiler.h"
#include "model/model.h"

namespace compactor {

// One "compactor: PATH exists and differs from the scenario's text; --force overwrites it" line
// for each of the five text files in opts.dir that exists and does not hold exactly the text the
// run would write there (or cannot be read), in the order they are written; "" when there is
// none or opts.force.
std::string changed_texts(const RunOptions& opts);

// Whether `f`, one of the two sources in `s`, holds an error recorded in `m`: one of the errors
// recorded names it, or names no source at all (then it is in both).
bool holds_the_error(const Model& m, const Sources& s, const SourceFile& f);

}  // namespace compactor
