#include "app/author_tools.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "app/cli.h"
#include "app/standard_output.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "tools/check.h"
#include "tools/diagnostics.h"
#include "tools/dump.h"
#include "tools/plot.h"

namespace compactor {

namespace {

// A whole file, or "compactor: cannot read PATH: REASON" on stderr and nullopt. Only a regular
// file is read: a FIFO, a device or a directory is refused at once. With `missing` given, a name
// where nothing stands sets it and is passed over without a word.
std::optional<std::string> read_output(const std::string& path, bool* missing = nullptr) {
  FileResult r;
  std::optional<std::string> bytes = read_file(path, r);
  if (missing != nullptr) *missing = r.missing;
  if (!bytes && !(missing != nullptr && r.missing)) {
    std::fputs(format_note("cannot read " + path + ": " + r.reason).c_str(), stderr);
  }
  return bytes;
}

// Exit status 1 with "compactor: PATH: at offset N: REASON".
int decode_failure(const std::string& path, const DecodeError& e) {
  std::fputs(
      format_note(path + ": at offset " + std::to_string(e.offset) + ": " + e.reason).c_str(),
      stderr);
  return 1;
}

bool parse_count(const std::string& s, int& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  out = std::stoi(s);
  return out > 0;
}

}  // namespace

int run_check(RunOptions opts) {
  opts.write_outputs = false;
  opts.delete_sources = false;
  opts.warnings = true;
  opts.summary = true;
  opts.list_record_failures = true;
  opts.check_documents = true;
  Model m;
  return compile_directory(m, opts);
}

int run_dump(const DumpOptions& opts) {
  const std::string& path = opts.path;
  std::optional<OutputKind> kind;
  if (opts.as) {
    kind = output_kind_of_word(*opts.as);
    if (!kind) return usage_error("--as takes sim, grid or line, not '" + *opts.as + "'");
  }
  int every = 1;
  if (opts.every && !parse_count(*opts.every, every)) {
    return usage_error("--every needs a whole number of metres from 1");
  }
  if (!kind) kind = output_kind_of_name(path);
  if (!kind) {
    return usage_error("cannot tell from its name which output " + path +
                       " is: name it *.sim, *_linea.dat or *.dat, or give --as sim|grid|line");
  }
  if (opts.every && *kind != OutputKind::kLine) {
    return usage_error("--every goes with the line output only");
  }
  if (int status = settle_without_lock(parent_directory(path)); status >= 0) {
    return status;
  }
  std::optional<std::string> bytes = read_output(path);
  if (!bytes) return 3;
  DecodeError error;
  TextSink sink;
  sink.write = write_stdout;
  bool listed = false;
  switch (*kind) {
    case OutputKind::kRecords: {
      auto items = decode_records(*bytes, error);
      if (!items) return decode_failure(path, error);
      listed = dump_records(*items, bytes->size(), opts.json, sink);
      break;
    }
    case OutputKind::kGrid: {
      auto grid = check_grid(*bytes, error);
      if (!grid) return decode_failure(path, error);
      listed = dump_grid(*grid, opts.json, sink);
      break;
    }
    case OutputKind::kLine: {
      auto line = check_line(*bytes, error);
      if (!line) return decode_failure(path, error);
      listed = dump_plan(*line, every, opts.json, sink);
      break;
    }
  }
  // A listing stops early only where a write failed; finish_stdout says why.
  return listed ? 0 : 3;
}

int lock_for_reading(const PlotOptions& opts, DirectoryLock& lock) {
  return lock_run_directory(opts.dir, LockMode::kShared, opts.no_wait, opts.quiet, lock);
}

int read_outputs(const PlotOptions& opts, PlotData& data) {
  Model names = names_of(opts.identity);
  data.line_id = names.line_id;
  data.train_number = names.train_number;
  DecodeError error;
  for (const PlotInput& input : plot_inputs(names, opts.with_plan)) {
    const std::string path = join_path(opts.dir, input.name);
    bool missing = false;
    std::optional<std::string> bytes = read_output(path, input.may_be_missing ? &missing : nullptr);
    if (missing) {
      if (!opts.quiet) {
        std::fputs(format_note("no line output " + path + ": drawing the profiles only").c_str(),
                   stderr);
      }
      continue;
    }
    if (!bytes) return 3;
    if (!add_plot_input(data, input.kind, *bytes, error)) return decode_failure(path, error);
  }
  return -1;
}

namespace {

// When what stands at `path` (a link followed) was last written, in the system's own unit;
// nullopt when it cannot be looked up.
std::optional<int64_t> modification_time(const std::string& path) {
  const NameFacts facts = look_up_name(path, Links::kFollow);
  if (facts.kind == NameKind::kMissing || facts.kind == NameKind::kUnknown) return std::nullopt;
  return facts.identity.modified;
}

// Whether both names lead to one file: the same device and file number, so that a second name for
// it (a hard link, the same directory mounted elsewhere) is caught, where comparing paths is not.
bool same_file(const std::string& a, const std::string& b) {
  const NameFacts first = look_up_name(a, Links::kFollow);
  const NameFacts second = look_up_name(b, Links::kFollow);
  auto file_or_directory = [](NameKind kind) {
    return kind == NameKind::kFile || kind == NameKind::kDirectory;
  };
  return file_or_directory(first.kind) && file_or_directory(second.kind) &&
         first.identity.device == second.identity.device &&
         first.identity.file_number == second.identity.file_number;
}

bool outputs_older_than_sources(const PlotOptions& opts) {
  Model names = names_of(opts.identity);
  std::optional<int64_t> oldest_output, newest_source;
  for (const PlotInput& input : plot_inputs(names, opts.with_plan)) {
    const std::optional<int64_t> t = modification_time(join_path(opts.dir, input.name));
    if (t && (!oldest_output || *t < *oldest_output)) oldest_output = t;
  }
  for (const std::string& name : {line_source_name(names), train_source_name(names)}) {
    const std::optional<int64_t> t = modification_time(join_path(opts.dir, name));
    if (t && (!newest_source || *t > *newest_source)) newest_source = t;
  }
  return oldest_output && newest_source && *oldest_output < *newest_source;
}

}  // namespace

bool warn_if_outputs_older(const PlotOptions& opts) {
  if (!outputs_older_than_sources(opts)) return false;
  if (!opts.quiet) {
    std::fputs(format_note("the outputs in " + opts.dir +
                           " are older than the sources beside them: they do not show the "
                           "sources' last changes; compile again")
                   .c_str(),
               stderr);
  }
  return true;
}

namespace {

// Why the picture or page must not go to `path`, or "": a path that holds something other than a
// regular file (a device, a pipe, a link, a directory) or one of the scenario's own files.
std::string page_target_problem(const PlotOptions& opts, const std::string& path) {
  const NameKind kind = look_up_name(path, Links::kOwn).kind;
  if (kind == NameKind::kDirectory || kind == NameKind::kOther) {
    return "cannot write " + path + ": it is not a regular file; give another -o";
  }
  const Model names = names_of(opts.identity);
  std::vector<std::string> own = {line_output_name(names), record_output_name(names),
                                  grid_output_name(names)};
  for (const ScenarioText& text : kScenarioTexts) own.push_back(text.name(names));
  for (const std::string& name : own) {
    if (same_file(path, join_path(opts.dir, name))) {
      return "cannot write " + path + ": it is one of the scenario's own files; give another -o";
    }
  }
  return "";
}

}  // namespace

int write_page(const PlotOptions& opts, const std::string& extension, const std::string& bytes) {
  const std::string out_path = opts.out_path.empty()
                                   ? join_path(opts.dir, opts.identity.line_id + "_" +
                                                             opts.identity.train_number + extension)
                                   : opts.out_path;
  if (std::string problem = page_target_problem(opts, out_path); !problem.empty()) {
    std::fputs(format_note(problem).c_str(), stderr);
    return 3;
  }
  // What a run of plot or view that was killed outright left beside the page.
  remove_stale_temporaries(parent_directory(out_path), {last_part(out_path)});
  if (FileResult f = replace_file(out_path, bytes); !f.ok) {
    std::fputs(format_note("cannot write " + out_path + ": " + f.reason).c_str(), stderr);
    return 3;
  }
  if (!opts.quiet) {
    write_stdout("wrote " + out_path + " (" + std::to_string(bytes.size()) + " bytes)\n");
  }
  return 0;
}

Model names_of(const Identity& identity) {
  Model names;  // only the identity, for the file names
  names.line_id = identity.line_id;
  names.train_number = identity.train_number;
  return names;
}

int run_plot(const PlotOptions& opts) {
  DirectoryLock lock;
  if (int status = lock_for_reading(opts, lock); status >= 0) return status;
  PlotData data;
  if (int status = read_outputs(opts, data); status >= 0) return status;
  warn_if_outputs_older(opts);
  return write_page(opts, ".svg", plot_svg(data));
}

}  // namespace compactor
