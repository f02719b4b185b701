// The command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace compactor {

// Runs the program with argv[1..]; returns the exit status.
int run_command_line(const std::vector<std::string>& args);

// The program as main runs it: run_command_line with the interrupt handlers installed, and a run
// that runs out of memory ended with "compactor: out of memory" and exit status 3.
int run_program(const std::vector<std::string>& args);

// Why an identity (line id or train number) is refused, or "" when it is fine.
std::string identity_problem(const std::string& value);

// Why the line id or the train number is refused ("the line id is empty"), or "" when both are
// fine.
std::string identities_problem(const std::string& line_id, const std::string& train_number);

// The value of the option at args[i]: copies args[i + 1] into `out` and steps i onto it; false,
// with nothing changed, when the option is the last argument.
bool take_value(const std::vector<std::string>& args, size_t& i, std::string& out);

// Prints "compactor: REASON" and a pointer to --help on stderr; returns exit status 2.
int usage_error(const std::string& reason);

}  // namespace compactor
