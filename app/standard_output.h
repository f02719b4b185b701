// Standard output as every command writes it: each write checked and the first failure kept, so
// that a listing or report cut short never ends as a success.
#pragma once

#include <string>
#include <string_view>

namespace compactor {

// Writes `text` to stdout. False once any write to it has failed; the text is then dropped.
bool write_stdout(std::string_view text);

// The run's exit status once stdout is flushed: `status` when everything written reached it, else
// 3 with "compactor: cannot write standard output: REASON" on stderr. A reader that has gone (a
// closed pipe: `dump | head`) ends the process quietly, as SIGPIPE does.
int finish_stdout(int status);

// Says "compactor: cannot write standard output: REASON" on stderr; returns the exit status 3.
int report_stdout_failure(const std::string& reason);

// Under check --json, a problem that ends the run before its report (a usage error, a source
// that cannot be read) is also a JSON document on stdout, for the tool that reads it.
void set_problems_as_json(bool on);
// Writes problem_json(code, message) to stdout when set_problems_as_json(true) was called and no
// such document was written yet; else nothing.
void report_problem_as_json(const std::string& code, const std::string& message);

}  // namespace compactor
