// The few things the program needs from the operating system, each behind one small function.
#pragma once

#include <string>

namespace compactor {

// The directory that holds the running program, without a trailing separator.
std::string program_directory();

// The platform's path separator.
char path_separator();

// dir + separator + name.
std::string join_path(const std::string& dir, const std::string& name);

// The directory that holds the last part of `path`, found from the string alone (on Windows
// with its drive or server), or "." when the path names none: "a/b" gives "a", "b" gives ".".
std::string parent_directory(const std::string& path);

// The last part of `path`, the name itself: "a/b" gives "b", "a/" gives "".
std::string last_part(const std::string& path);

// Whether stderr is a terminal that shows colour escapes (on Windows, a console that takes
// them once asked to).
bool stderr_takes_color();

// Whether the program has a standard output at all: the desktop program on Windows, started
// without a console, has none, and then nothing is written there to check.
bool standard_output_present();

// Shows "Attendere" while the run works; end_wait removes it. Both do nothing when quiet. On
// POSIX systems end_wait may be called from a signal handler.
void begin_wait(bool quiet);
void end_wait();

// Shows a message that ends the run: on stderr and, for the desktop program, in a message box
// that is closed before this returns. The caller then ends the program.
void show_fatal_message(const std::string& text);

}  // namespace compactor
