// The command line.
#pragma once

#include <string>
#include <vector>

namespace compactor {

// Runs the program with argv[1..]; returns the exit status.
int run_command_line(const std::vector<std::string>& args);

// Why an identity (line id or train number) is refused, or "" when it is fine.
std::string identity_problem(const std::string& value);

// Prints "compactor: REASON" and a pointer to --help on stderr; returns exit status 2.
int usage_error(const std::string& reason);

}  // namespace compactor
