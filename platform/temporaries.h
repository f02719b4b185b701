// Inside the platform layer: the temporary files of this process, known by name to the interrupt
// handlers, and the names they are given.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace compactor {

// Registers a temporary file's name before the file is made, so that an interrupt removes it
// whatever moment it comes at. Returns the registration, or -1 when none is free (the file is
// then made all the same, and an interrupt leaves it for the next run to remove).
int register_temporary(const std::string& path);
// The file has been renamed or removed.
void forget_temporary(int registration);

// This process's id, and whether a process of that id still runs.
int64_t current_process_id();
bool process_is_running(int64_t pid);

// The name of the attempt-th temporary file beside `path`: PATH.tmp-PID-XXXXXX, XXXXXX six
// letters and digits that differ from one attempt to the next. When the file's own name is legal
// but would pass the longest name the file system takes once the suffix is added, the temporary
// name keeps only the start of it, whole characters, that leaves room for the suffix.
std::string temporary_name(const std::string& path, int64_t pid, uint32_t attempt);

// Whether `entry`, a name in a directory, is a temporary file made beside the file `name` by
// the process it names (also one whose start of `name` was shortened); `pid` receives that
// process's id.
bool is_temporary_of(const std::string& entry, const std::string& name, int64_t& pid);

// The longest name of one file (the last part of a path) that the file systems take: 255 bytes
// on Linux's (ext4, XFS, Btrfs, tmpfs), 255 UTF-16 units on NTFS.
constexpr size_t kLongestName = 255;
// Per OS: a name's length in the unit that limit counts (bytes; on Windows UTF-16 units of the
// UTF-8 name), and whether a character separates the parts of a path.
size_t name_length(const std::string& name);
bool is_path_separator(char c);

// The steps of putting a staged file in place, one definition per OS. The size of the file that
// stands at `path` (0 when none); fails when a directory holds the name, which a rename cannot
// replace.
FileResult size_of_file_replaced(const std::string& path, uint64_t& size);
// Renames `temp` over `path`, replacing the file there.
FileResult rename_over(const std::string& temp, const std::string& path);
// Removes a temporary file, whatever becomes of it.
void remove_temporary(const std::string& temp);

// The steps of a set's record and of making a set durable, one definition per OS. Writes a new
// file (it must not exist yet), synced to the disk when `sync`.
FileResult write_new_file(const std::string& path, const std::string& bytes, bool sync);
// Syncs a written file's content to the disk (fsync; FlushFileBuffers).
FileResult sync_file(const std::string& path);
// Syncs a directory's entries, so that the renames and removals in it outlive a power cut (on
// Windows NTFS logs them itself: nothing to do).
FileResult sync_directory(const std::string& dir);
// The size of the regular file at `path`; false when none stands there.
bool regular_file_size(const std::string& path, uint64_t& size);
// The directory of a path: all but its last part, or "." when it has none.
std::string directory_of(const std::string& path);

}  // namespace compactor
