#include <string>
#include <vector>

#include "app/cli.h"

#ifdef _WIN32
namespace compactor {
// From platform_win32.cc: the arguments as UTF-8, and the console of the program that started
// this one.
std::vector<std::string> command_line_arguments();
void attach_parent_console();
}  // namespace compactor

// A program of the GUI subsystem: with no arguments it is the desktop program and opens no
// console; with arguments it is the command-line tool of the console it was started from.
int main() {
  std::vector<std::string> args = compactor::command_line_arguments();
  if (!args.empty()) compactor::attach_parent_console();
  return compactor::run_program(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return compactor::run_program(args);
}
#endif
