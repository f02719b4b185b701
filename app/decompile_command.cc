#include "app/decompile_command.h"

#include <cstdio>

#include "app/author_tools.h"
#include "app/build_run.h"
#include "app/standard_output.h"
#include "decompiler/decompile.h"
#include "format/outputs.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "scenario/texts.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

void note(const std::string& text) {
  std::fputs(format_note(text).c_str(), stderr);
}

// The output at `path`; false when it cannot be read.
bool read_one(const std::string& path, std::optional<std::string>& bytes) {
  FileResult r;
  bytes = read_file(path, r);
  if (bytes) return true;
  note("cannot read " + path + ": " + r.reason);
  return false;
}

// The line output at `path`, opened to be read a buffer at a time by the decompile; false when it
// cannot be opened. A file that is not there leaves `line` empty without a word. A read that
// fails keeps its reason in `why`.
bool open_line(const std::string& path, FileReader& reader, FileResult& why,
               std::optional<ByteSource>& line) {
  FileResult r;
  if (reader.open(path, r)) {
    line = ByteSource{reader.size(), [&reader, &why](uint64_t offset, char* into, size_t count) {
                        return reader.read_at(offset, into, count, why);
                      }};
    return true;
  }
  if (r.missing) return true;
  note("cannot read " + path + ": " + r.reason);
  return false;
}

// The decompile of what was read, or nullopt when the line output could not be read to the end
// or changed meanwhile (named).
std::optional<Decompiled> decompile_read(const OutputSources& in, const std::string& line_path,
                                         const FileReader& reader, FileResult& why) {
  Decompiled result = decompile(in);
  if (!result.line_unreadable && (!in.line || reader.unchanged(why))) return result;
  if (why.ok) why = changed_while_read();
  note("cannot read " + line_path + ": " + why.reason);
  return std::nullopt;
}

// Whether the names of the two sources in the output directory are free; false after naming
// each that something stands at (--force replaces it, a link by a file).
bool targets_free(const DecompileOptions& opts, const std::string& dir, const Model& names) {
  if (opts.force) return true;
  bool free = true;
  for (const std::string& name : {line_source_name(names), train_source_name(names)}) {
    if (!name_taken(join_path(dir, name))) continue;
    note(join_path(dir, name) + " exists: nothing is written (--force overwrites it)");
    free = false;
  }
  return free;
}

bool write_one(const DecompileOptions& opts, const std::string& path, const std::string& text) {
  if (FileResult f = replace_file(path, text); !f.ok) {
    note("cannot write " + path + ": " + f.reason);
    return false;
  }
  if (!opts.quiet) write_stdout("wrote " + path + " (" + std::to_string(text.size()) + " bytes)\n");
  return true;
}

// The output directory, made when nothing stands at its name (its parent must exist).
bool out_dir_ready(const DecompileOptions& opts, const std::string& dir) {
  bool created = false;
  if (std::string problem = make_directory_if_missing(dir, created); !problem.empty()) {
    note(problem);
    return false;
  }
  if (created && !opts.quiet) write_stdout("created " + dir + "\n");
  return true;
}

}  // namespace

int run_decompile(const DecompileOptions& opts) {
  const Model names = names_of(opts.identity);
  const std::string out_dir = opts.out_dir.empty() ? opts.dir : opts.out_dir;
  DirectoryLock lock;
  if (int status = lock_run_directory(opts.dir, LockMode::kShared, opts.no_wait, opts.quiet, lock);
      status >= 0) {
    return status;
  }
  OutputSources in{names.line_id, names.train_number, {}, {}, {}};
  const std::string line_path = join_path(opts.dir, line_output_name(names));
  FileReader line_reader;
  FileResult why;  // of a read of the line output that failed
  if (!read_one(join_path(opts.dir, record_output_name(names)), in.records) ||
      !read_one(join_path(opts.dir, grid_output_name(names)), in.grid) ||
      !open_line(line_path, line_reader, why, in.line)) {
    return 3;
  }
  if (!targets_free(opts, out_dir, names)) return 3;
  const std::optional<Decompiled> read = decompile_read(in, line_path, line_reader, why);
  if (!read) return 3;
  const Decompiled& result = *read;
  if (!result.line_source.empty() &&
      (!out_dir_ready(opts, out_dir) ||
       !write_one(opts, join_path(out_dir, line_source_name(names)), result.line_source) ||
       !write_one(opts, join_path(out_dir, train_source_name(names)), result.train_source))) {
    return 3;
  }
  for (const std::string& problem : result.unrecovered) note("cannot recover: " + problem);
  return result.unrecovered.empty() ? 0 : 1;
}

}  // namespace compactor
