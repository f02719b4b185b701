// File operations at the edge of the program: whole files in, whole files out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace compactor {

// Sources larger than this are refused before they are read.
constexpr uint64_t kMaxSourceBytes = 64ull << 20;

struct FileResult {
  bool ok = true;
  std::string reason;  // why it failed, for "cannot ... FILE: REASON"
};

bool file_exists(const std::string& path);

// Reads a whole file. nullopt with a reason when it cannot be read or is larger than max_bytes.
std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes = kMaxSourceBytes);

// Replaces the file at path by exactly `bytes`: the content goes to a temporary file in the same
// directory, which is then renamed over the old name. On failure the old file is left whole and
// no temporary file remains.
FileResult replace_file(const std::string& path, const std::string& bytes);

// Takes the next piece of a file's content; false once a write has failed (the producer may stop
// there: the file will not be replaced).
using PieceWriter = std::function<bool(const char* data, size_t size)>;
using PieceProducer = std::function<void(const PieceWriter& write)>;

// replace_file with the content produced in pieces, so that it never has to be held whole:
// `produce` is called once and hands each piece, in order, to the writer it is given.
FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce);

FileResult delete_file(const std::string& path);

// The names of the regular files in a directory (no subdirectories), sorted by byte value.
// nullopt with a reason when the directory cannot be read.
std::optional<std::vector<std::string>> list_directory(const std::string& path, FileResult& result);

}  // namespace compactor
