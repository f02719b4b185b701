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

}  // namespace compactor
