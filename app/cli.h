// The command line.
#pragma once

#include <string>
#include <vector>

namespace compactor {

// Runs the program with argv[1..]; returns the exit status. Options may come before or after the
// command and its operand, as "--opt value", "--opt=value", "-o value", "-ovalue" or bundled
// ("-vq"); "--" ends them. "COMMAND --help" shows that command's help.
int run_command_line(const std::vector<std::string>& args);

// The program as main runs it: run_command_line with the interrupt handlers installed, and a run
// that runs out of memory ended with "compactor: out of memory" and exit status 3.
int run_program(const std::vector<std::string>& args);

// Why an identity (line id or train number) is refused, or "" when it is fine.
std::string identity_problem(const std::string& value);

// Why the line id or the train number is refused ("the line id is empty"), also when two of the
// program's files would get the same name from them; "" when both are fine.
std::string identities_problem(const std::string& line_id, const std::string& train_number);

// Prints "compactor: REASON" and a pointer to --help on stderr; returns exit status 2.
int usage_error(const std::string& reason);

}  // namespace compactor
