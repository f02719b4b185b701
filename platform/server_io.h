// What the language server needs from the operating system: its standard input read without
// blocking when nothing has arrived, its standard output written as raw bytes, and the names of
// the files in a directory.
#pragma once

#include <string>
#include <vector>

namespace compactor {

enum class InputStatus { kData, kNothing, kEnd };

// Makes a write to a standard output whose reader has gone fail (write_standard_output returns
// false, with no reason) rather than end the process with a signal.
void keep_running_on_closed_output();

// Appends what has arrived on standard input to `out`: kData when bytes were read. With `wait`
// it waits until something arrives; without, it returns kNothing at once when nothing has. kEnd
// at the end of the input or when it cannot be read.
InputStatus read_standard_input(std::string& out, bool wait);

// Writes all of `bytes` to standard output, unchanged (no line-end translation); false when it
// cannot, with the system's reason in `reason`, left empty when the reader has gone.
bool write_standard_output(const std::string& bytes, std::string& reason);

// The names of the regular files in a directory (none when it cannot be read).
std::vector<std::string> file_names_in(const std::string& dir);

}  // namespace compactor
