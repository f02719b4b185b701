// What the tests share: the default scenario's file names, a builder of source texts, the
// compile in memory, a fingerprint of bytes, whole files and directories, scratch directories,
// and (POSIX only) the program run as a child process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile.h"
#include "compiler/compiler.h"
#include "model/model.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace compactor::test {

namespace fs = std::filesystem;

// --- The default scenario's files ------------------------------------------------------------

// The two sources, the three further texts and the three binary outputs.
inline const std::string kLineSource = "QUELDRANO 2_linea.txt";
inline const std::string kTrainSource = "QUELDRANO 2_555-.txt";
inline const std::string kCard = "QUELDRANO 2_555_scheda_treno.txt";
inline const std::string kForm = "QUELDRANO 2_555_rallentamenti.txt";
inline const std::string kNotes = "QUELDRANO 2_555_note.txt";
inline const std::string kRecords = "QUELDRANO 2_555.sim";
inline const std::string kGrid = "QUELDRANO 2_555.dat";
inline const std::string kPlan = "QUELDRANO 2_linea.dat";

// --- Source texts ----------------------------------------------------------------------------

// The lines, each ended with CR LF.
std::string crlf(const std::vector<std::string>& lines);

// A source text to start from the default line or train source, or from a small source of a few
// records, and to edit. Lines are found by how they begin; an edit that finds nothing to change
// is a test failure.
class SourceText {
 public:
  explicit SourceText(std::string text) : text_(std::move(text)) {}
  static SourceText default_line();
  static SourceText default_train();
  // A line source of `length` m: its general section, then `features` under a feature header.
  static SourceText line(int64_t length, const std::vector<std::string>& features = {});
  // A train source: these records in its general section.
  static SourceText train(const std::vector<std::string>& records);

  // The first occurrence of `from` anywhere in the text becomes `to`.
  SourceText& replace(std::string_view from, std::string_view to);
  // `lines` go in before the first line that begins with `line_start`.
  SourceText& insert_before(std::string_view line_start, const std::vector<std::string>& lines);
  // The first line that begins with `line_start` is taken out with its line end.
  SourceText& erase_line(std::string_view line_start);
  // Field `field` (0: the keyword) of the first line that begins with `line_start` becomes
  // `value`; the blanks around the field stay.
  SourceText& set_field(std::string_view line_start, size_t field, std::string_view value);

  const std::string& text() const { return text_; }
  operator std::string() const { return text_; }

 private:
  // Offset of the first line that begins with `line_start`, or npos (a test failure).
  size_t find_line(std::string_view line_start) const;
  std::string text_;
};

// --- Compile in memory -----------------------------------------------------------------------

// A compile of two sources held in memory, under the default identity and file names.
struct Compiled {
  Model m;
  Sources s;                      // the sources as the run left them (`consumed`)
  std::vector<Warning> warnings;  // collected unless asked not to
  PassOutcome outcome = PassOutcome::kReady;
};

struct CompileOptions {
  int32_t with_plan = 1;
  bool collect_warnings = true;
  bool read_only = false;  // the readers alone, without the cab-code pass and the stamps
};

// A missing source (nullopt) is a file that does not exist.
Compiled compile_in_memory(std::optional<std::string> line, std::optional<std::string> train,
                           const CompileOptions& options = {});

// How many cells of the grid are of this kind.
int count_kind(const Model& m, uint8_t kind);

// --- Bytes, files and directories ------------------------------------------------------------

// FNV-1a 64 of the bytes: a fingerprint of a whole output or text.
uint64_t fingerprint(std::string_view bytes);

// Little-endian fields of the binary outputs at byte offset i, read here apart from the encoder's
// own helpers (a read past the end throws).
int u8_at(const std::string& b, size_t i);
uint32_t u16_at(const std::string& b, size_t i);
int32_t i16_at(const std::string& b, size_t i);
int32_t i32_at(const std::string& b, size_t i);
double f64_at(const std::string& b, size_t i);

// The bytes of a file; "" when it cannot be read.
std::string read_bytes(const fs::path& p);

// Makes the file hold exactly these bytes; a test failure when it cannot.
void write_bytes(const fs::path& p, const std::string& bytes);

// Every entry below dir by its relative name: "<dir>" for a directory, else the file's bytes or,
// with kDigest, its size and fingerprint (short enough to keep for a large file).
enum class Contents { kBytes, kDigest };
std::map<std::string, std::string> snapshot(const fs::path& dir,
                                            Contents contents = Contents::kBytes);

// A fresh directory under the system's temporary directory, removed with everything in it by the
// process that made it (never by a child process that inherited it).
class ScratchDir {
 public:
  explicit ScratchDir(std::u8string_view prefix = u8"compactor-test-");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
  long creator_ = 0;  // the process id of the maker
};

// The default scenario compiled in memory by the build run's own compile, made once.
const Model& default_model();

#ifndef _WIN32
// --- Child processes (POSIX) -----------------------------------------------------------------

struct Result {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the signal that ended it, if one did
  std::string out;       // what it wrote on stdout
  std::string err;       // what it wrote on stderr
};

// Runs `body` in a forked child in a scratch working directory, stdin on /dev/null, stdout and
// stderr captured; the child ends with _exit(body()), so no destructor of this process runs in
// it. With file_size_limit > 0 no file the child writes can grow beyond that many bytes, as on a
// disk that fills up; SIGXFSZ is ignored, so the write that passes the limit fails with EFBIG.
Result run_in_child(const std::function<int()>& body, rlim_t file_size_limit = 0);

// Runs `program` with these arguments as run_in_child does.
Result run_program(const std::string& program, const std::vector<std::string>& args,
                   rlim_t file_size_limit = 0);

// Runs the compactor built with the tests.
Result run_compactor(const std::vector<std::string>& args, rlim_t file_size_limit = 0);

// The default build run (`compactor --dir D`), made once for all tests: what it said and the
// directory it left. Nothing may write into that directory.
struct DefaultBuildRun {
  ScratchDir dir;
  Result result;
  std::string file(const std::string& name) const { return dir.file(name); }
};
const DefaultBuildRun& default_run();
#endif  // _WIN32

}  // namespace compactor::test
