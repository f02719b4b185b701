#include "app/source_tools.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "app/build_run.h"
#include "app/cli.h"
#include "app/identity.h"
#include "app/standard_output.h"
#include "compiler/compile.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "syntax/encoding.h"
#include "syntax/source_format.h"
#include "tools/diagnostics.h"
#include "tools/new_scenario.h"
#include "tools/scenario_diff.h"

namespace compactor {

namespace {

constexpr int kCannotFinish = 3;

void say(const std::string& note) {
  std::fputs(format_note(note).c_str(), stderr);
}

// A source by its name: the line source "ID_linea.txt" or a train source "ID_NUM-.txt".
bool is_source_name(const std::string& name) {
  auto ends = [&name](const std::string& tail) {
    return name.size() > tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return ends("_linea.txt") || ends("-.txt");
}

// The sources fmt works on: the file given, or the sources in the directory given.
std::optional<std::vector<std::string>> fmt_targets(const std::string& path) {
  if (look_up_name(path, Links::kFollow).kind != NameKind::kDirectory) {
    return std::vector<std::string>{path};
  }
  FileResult listed;
  std::optional<std::vector<std::string>> names = list_directory(path, listed);
  if (!names) {
    say("cannot read " + path + ": " + listed.reason);
    return std::nullopt;
  }
  std::vector<std::string> paths;
  for (const std::string& name : *names) {
    if (is_source_name(name)) paths.push_back(join_path(path, name));
  }
  return paths;
}

// Formats one source; true when it is in the layout or was rewritten, false when it cannot be
// read or written. `changed` says whether its bytes differ from the layout.
bool fmt_one(const FmtOptions& opts, const std::string& path, bool& changed) {
  FileResult r;
  std::optional<std::string> bytes = read_file(path, r);
  if (!bytes) {
    say("cannot read " + path + ": " + r.reason);
    return false;
  }
  // A line end is a byte of 8-bit text only: in a binary output or a wider encoding the bytes
  // that read as LF belong to other characters or values, and a CR put before them spoils it.
  const EncodingFound found = detect_encoding(*bytes);
  const size_t nul = bytes->find('\0');
  if (found.encoding != SourceEncoding::kEightBit || nul != std::string::npos) {
    const std::string what =
        found.encoding == SourceEncoding::kEightBit || found.encoding == SourceEncoding::kNotText
            ? "not text: it holds a NUL byte at offset " + std::to_string(nul)
            : std::string(encoding_name(found.encoding));
    say("cannot format " + path + ": the file is " + what +
        "; a source is 8-bit text, so it is left as it is");
    return false;
  }
  const std::string formatted = format_source(*bytes);
  changed = formatted != *bytes;
  if (!changed) return true;
  if (opts.check) return write_stdout(path + "\n");
  if (FileResult w = replace_file(path, formatted); !w.ok) {
    say("cannot write " + path + ": " + w.reason);
    return false;
  }
  if (!opts.quiet) write_stdout("formatted " + path + "\n");
  return true;
}

}  // namespace

int run_fmt(const FmtOptions& opts) {
  const bool is_dir = look_up_name(opts.path, Links::kFollow).kind == NameKind::kDirectory;
  const std::string dir = is_dir ? opts.path : parent_directory(opts.path);
  DirectoryLock lock;
  const LockMode mode = opts.check ? LockMode::kShared : LockMode::kExclusive;
  if (int status = lock_run_directory(dir, mode, opts.no_wait, opts.quiet, lock); status >= 0) {
    return status;
  }
  std::optional<std::vector<std::string>> targets = fmt_targets(opts.path);
  if (!targets) return kCannotFinish;
  bool failed = false;
  bool any_changed = false;
  for (const std::string& path : *targets) {
    bool changed = false;
    failed = !fmt_one(opts, path, changed) || failed;
    any_changed = any_changed || changed;
  }
  if (failed) return kCannotFinish;
  return opts.check && any_changed ? 1 : 0;
}

namespace {

std::optional<int32_t> read_length(const std::string& text) {
  if (text.empty() || text.size() > 7) return std::nullopt;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < kNewScenarioShortest || value > kNewScenarioLongest) return std::nullopt;
  return value;
}

// "compactor: PATH exists and differs ..." for each file that stands at one of the names with
// other bytes; false when one does.
bool none_differs(const std::vector<std::pair<std::string, std::string>>& files) {
  bool none = true;
  for (const auto& [path, bytes] : files) {
    FileResult r;
    std::optional<std::string> there = read_file(path, r);
    if ((there && *there == bytes) || (!there && r.missing)) continue;
    say(path + " exists and differs from the new scenario's source; --force overwrites it");
    none = false;
  }
  return none;
}

}  // namespace

int run_new(const NewOptions& opts) {
  const std::optional<int32_t> length = read_length(opts.length);
  if (!length) {
    return usage_error("--length needs a whole number of metres from " +
                       std::to_string(kNewScenarioShortest) + " to " +
                       std::to_string(kNewScenarioLongest));
  }
  if (std::string p = identities_problem(opts.line_id, opts.train_number); !p.empty()) {
    return usage_error(p);
  }
  bool created = false;
  if (std::string problem = make_directory_if_missing(opts.dir, created); !problem.empty()) {
    say(problem);
    return kCannotFinish;
  }
  if (created && opts.verbose) write_stdout("created " + opts.dir + "\n");
  DirectoryLock lock;
  if (int status =
          lock_run_directory(opts.dir, LockMode::kExclusive, opts.no_wait, opts.quiet, lock);
      status >= 0) {
    return status;
  }
  Model names;
  names.line_id = opts.line_id;
  names.train_number = opts.train_number;
  const NewScenario scenario = new_scenario(*length);
  const std::vector<std::pair<std::string, std::string>> files = {
      {join_path(opts.dir, line_source_name(names)), scenario.line_source},
      {join_path(opts.dir, train_source_name(names)), scenario.train_source}};
  if (!opts.force && !none_differs(files)) return kCannotFinish;
  for (const auto& [path, bytes] : files) {
    if (FileResult w = replace_file(path, bytes); !w.ok) {
      say("cannot write " + path + ": " + w.reason);
      return kCannotFinish;
    }
    if (opts.verbose) {
      write_stdout("wrote " + path + " (" + std::to_string(bytes.size()) + " bytes)\n");
    }
  }
  return 0;
}

namespace {

// One side of a diff, read and decoded; nullopt with the reason on stderr when it cannot be.
struct Side {
  DecodedScenario decoded;
  std::string problem;  // a usage problem: exit status 2
};

bool decode_into(DecodedScenario& d, OutputKind kind, const std::string& bytes,
                 const std::string& path) {
  DecodeError e;
  switch (kind) {
    case OutputKind::kRecords:
      d.records = decode_records(bytes, e);
      if (d.records) return true;
      break;
    case OutputKind::kGrid:
      d.grid = decode_grid(bytes, e);
      if (d.grid) return true;
      break;
    case OutputKind::kLine:
      d.plan = decode_line(bytes, e);
      if (d.plan) return true;
      break;
  }
  say("cannot read " + path + ": at offset " + std::to_string(e.offset) + ": " + e.reason);
  return false;
}

// Reads and decodes one output; `kept`, when given, keeps its bytes.
bool read_output_file(DecodedScenario& d, OutputKind kind, const std::string& path,
                      bool may_be_missing, std::optional<std::string>* kept = nullptr) {
  FileResult r;
  std::optional<std::string> bytes = read_file(path, r);
  if (!bytes && may_be_missing && r.missing) return true;
  if (!bytes) {
    say("cannot read " + path + ": " + r.reason);
    return false;
  }
  if (kept != nullptr) *kept = bytes;
  return decode_into(d, kind, *bytes, path);
}

// The sources in `dir` compiled in memory, nothing written; false when they cannot be read or
// hold an error (one the compile records or one of the program's own, which are only counted).
bool compile_sources(const std::string& dir, const Identity& identity, bool with_plan, Model& m,
                     std::optional<std::string>& line_source) {
  m.line_id = identity.line_id;
  m.train_number = identity.train_number;
  Sources s;
  if (!load_sources(dir, m, s)) return false;
  std::vector<Warning> none_kept;
  s.warnings = &none_kept;
  s.max_kept_warnings = 0;
  line_source = s.line.bytes;
  return compile_model(m, with_plan, s) == PassOutcome::kReady && m.error_code == 0 &&
         s.errors_not_kept == 0;
}

// The sources in `dir` compiled in memory with the plan, nothing written.
bool compile_in_memory(const std::string& dir, const Identity& identity, DecodedScenario& d) {
  Model m;
  std::optional<std::string> line_source;
  const bool compiled = compile_sources(dir, identity, true, m, line_source);
  if (line_source) d.plan_sources = plan_sources(*line_source);
  if (!compiled) {
    say("cannot compare: the sources in " + dir + " hold an error (check " + dir + " shows it)");
    return false;
  }
  return decode_into(d, OutputKind::kRecords, encode_record_output(m), dir) &&
         decode_into(d, OutputKind::kGrid, encode_grid_output(m), dir) &&
         decode_into(d, OutputKind::kLine, encode_line_output(m), dir);
}

// The bytes of the outputs a directory's side was read from.
struct OutputBytes {
  std::optional<std::string> records, grid, line;
};

// diff reads a directory's outputs before its sources, so a source edited since the compile
// would not show: when the sources beside the outputs do not compile to those very bytes (or
// hold an error), the author is told which side the comparison took.
void warn_when_sources_differ(const std::string& dir, const Identity& identity,
                              const std::vector<std::string>& names, const OutputBytes& read) {
  const std::vector<Identity> beside =
      identities_in(names, IdentityFiles::kSources, identity.line_id, identity.train_number);
  if (beside.empty()) return;
  Model m;
  std::optional<std::string> line_source;
  const bool with_plan = read.line.has_value();
  bool same = compile_sources(dir, identity, with_plan, m, line_source) &&
              encode_record_output(m) == read.records && encode_grid_output(m) == read.grid;
  if (same && with_plan) same = encode_line_output(m) == read.line;
  if (same) return;
  say("warning: the outputs in " + dir +
      " are not what its sources compile to now; diff compares the outputs (compile " + dir +
      " to compare the sources)");
}

// A directory: the outputs of the one scenario there, else its sources compiled.
int read_directory(const std::string& dir, DecodedScenario& d) {
  FileResult listed;
  std::optional<std::vector<std::string>> names = list_directory(dir, listed);
  if (!names) {
    say("cannot read " + dir + ": " + listed.reason);
    return kCannotFinish;
  }
  for (IdentityFiles kind : {IdentityFiles::kOutputs, IdentityFiles::kSources}) {
    const std::vector<Identity> found = identities_in(*names, kind, std::nullopt, std::nullopt);
    if (found.size() > 1) return usage_error(dir + " holds more than one scenario");
    if (found.empty()) continue;
    const Model n = [&] {
      Model m;
      m.line_id = found[0].line_id;
      m.train_number = found[0].train_number;
      return m;
    }();
    if (kind == IdentityFiles::kSources) {
      return compile_in_memory(dir, found[0], d) ? -1 : kCannotFinish;
    }
    OutputBytes read;
    const bool ok = read_output_file(d, OutputKind::kRecords,
                                     join_path(dir, record_output_name(n)), false, &read.records) &&
                    read_output_file(d, OutputKind::kGrid, join_path(dir, grid_output_name(n)),
                                     false, &read.grid) &&
                    read_output_file(d, OutputKind::kLine, join_path(dir, line_output_name(n)),
                                     true, &read.line);
    if (ok) warn_when_sources_differ(dir, found[0], *names, read);
    return ok ? -1 : kCannotFinish;
  }
  return usage_error(dir + " holds neither the outputs nor the sources of a scenario");
}

// -1 when the side is read, else the exit status.
int read_side(const std::string& path, std::optional<OutputKind>& file_kind, DecodedScenario& d) {
  if (look_up_name(path, Links::kFollow).kind == NameKind::kDirectory) {
    return read_directory(path, d);
  }
  file_kind = output_kind_of_name(path);
  if (!file_kind) {
    return usage_error("cannot tell from its name which output " + path +
                       " is: name it *.sim, *_linea.dat or *.dat, or give two directories");
  }
  return read_output_file(d, *file_kind, path, false) ? -1 : kCannotFinish;
}

}  // namespace

int run_diff(const DiffOptions& opts) {
  DecodedScenario a, b;
  std::optional<OutputKind> kind_a, kind_b;
  if (int status = read_side(opts.a, kind_a, a); status >= 0) return status;
  if (int status = read_side(opts.b, kind_b, b); status >= 0) return status;
  if (kind_a != kind_b) {
    return usage_error("diff compares two directories or two outputs of the same kind");
  }
  const std::vector<Difference> differences = diff_scenarios(a, b);
  const bool written =
      write_stdout(opts.json ? differences_json(differences) : differences_text(differences));
  if (!written) return kCannotFinish;
  return differences.empty() ? 0 : 1;
}

}  // namespace compactor
