#include "app/build_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "app/keep_work.h"
#include "app/standard_output.h"
#include "compiler/compile.h"
#include "compiler/record_check.h"
#include "format/outputs.h"
#include "model/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/set_record.h"
#include "tools/check.h"
#include "tools/diagnostics.h"
#include "tools/document_check.h"

namespace compactor {

namespace {

// The exit status of a run that could not finish.
constexpr int kCannotFinish = 3;

void print_written(const RunOptions& opts, const std::string& path) {
  if (!opts.verbose) return;
  const NameFacts written = look_up_name(path, Links::kFollow);
  const uint64_t size = written.kind == NameKind::kFile ? written.identity.size : 0;
  std::printf("wrote %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(size));
}

void print_error(const std::string& text) {
  end_wait();
  std::fputs(text.c_str(), stderr);
}

// "compactor: cannot VERB PATH: REASON" on stderr when `r` failed; true when it did not.
bool succeeded(const FileResult& r, const char* verb, const std::string& path) {
  if (r.ok) return true;
  const std::string problem = std::string("cannot ") + verb + " " + path + ": " + r.reason;
  report_problem_as_json(std::string("cannot-") + verb, problem);
  print_error(format_note(problem));
  return false;
}

// A source's path as the author gave its directory: "." adds nothing.
std::string source_path(const std::string& dir, const std::string& name) {
  return dir == "." ? name : join_path(dir, name);
}

// A source as the compile takes it, named by its path as given, and the identity of the file
// read; false when something stands at its name and cannot be read.
bool load_source(const std::string& path, SourceFile& f, FileIdentity& identity) {
  f.name = path;
  FileResult r;
  f.bytes = read_file(path, r, kMaxSourceBytes, &identity);
  return r.missing || succeeded(r, "read", path);
}

// Deletes a source the compile has consumed, if it is still the file that was read. One that is
// gone already is no error; one that has changed since is kept, with a warning.
bool delete_consumed(const RunOptions& opts, const SourceFile& f, const FileIdentity& identity) {
  if (!opts.delete_sources || !f.consumed || !f.bytes) return true;
  const std::string& path = f.name;
  FileResult r;
  switch (delete_file_if_unchanged(path, identity, r)) {
    case DeleteOutcome::kDeleted:
      if (opts.verbose) std::printf("read and deleted %s\n", path.c_str());
      return true;
    case DeleteOutcome::kAlreadyGone:
      return true;
    case DeleteOutcome::kChanged:
      print_error(format_note("warning: kept " + path +
                                  ": it is not the file that was read (it changed or was replaced)",
                              opts.color));
      return true;
    case DeleteOutcome::kFailed:
      break;
  }
  return succeeded(r, "delete", path);
}

// A model that carries only the scenario's names, which every file name is made from.
Model scenario_names(const RunOptions& opts) {
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  return m;
}

// A train source in `names` other than the scenario's own that reads the scenario's line source:
// ID_NUM-.txt with the same ID, unless a line source of a longer ID (ID_X_linea.txt for
// ID_X_NUM-.txt) stands beside it and claims it. "" when there is none.
std::string other_train_of_line(const RunOptions& opts, const std::vector<std::string>& names) {
  const Model m = scenario_names(opts);
  const std::string start = opts.line_id + "_", end = "-.txt", own = train_source_name(m);
  auto has = [&names](const std::string& name) {
    return std::binary_search(names.begin(), names.end(), name);
  };
  for (const std::string& name : names) {
    if (name == own || name.size() <= start.size() + end.size() || name.rfind(start, 0) != 0 ||
        name.compare(name.size() - end.size(), end.size(), end) != 0) {
      continue;
    }
    const std::string number = name.substr(start.size(), name.size() - start.size() - end.size());
    bool claimed = false;
    for (size_t at = number.find('_'); at != std::string::npos && !claimed;
         at = number.find('_', at + 1)) {
      claimed = has(start + number.substr(0, at) + "_linea.txt");
    }
    if (!claimed) return name;
  }
  return "";
}

// Whether the line source must stay because another train source of its line is beside it.
bool line_source_still_needed(const RunOptions& opts, const SourceFile& line) {
  if (!opts.delete_sources || !line.consumed || !line.bytes) return false;
  FileResult listed;
  const auto names = list_directory(opts.dir, listed);
  if (!names) return false;
  const std::string other = other_train_of_line(opts, *names);
  if (other.empty()) return false;
  print_error(format_note("kept " + line.name + ": the train source " + other +
                              " beside it reads the same line",
                          opts.color));
  return true;
}

// Whether the report holds an error of the program's own about `f`.
bool holds_own_error(const CheckReport& report, const SourceFile& f) {
  return std::any_of(
      report.diagnostics.begin(), report.diagnostics.end(), [&f](const Diagnostic& d) {
        return d.severity == Diagnostic::Severity::kError && !d.name.empty() && d.file == f.name;
      });
}

// A source that holds the recorded error, or an error of the program's own, stays, whatever the
// options say.
bool delete_unless_in_error(const RunOptions& opts, const Model& m, const Sources& s,
                            const CheckReport& report, const SourceFile& f,
                            const FileIdentity& identity) {
  if (!opts.delete_sources || !f.consumed || !f.bytes ||
      !(holds_the_error(m, s, f) || holds_own_error(report, f))) {
    return delete_consumed(opts, f, identity);
  }
  print_error(format_note(f.name + " is kept: it holds the error", opts.color));
  return true;
}

// The three outputs, each written to a temporary file first: only when all three are written are
// they renamed over the old ones, one after the other. The line output goes to its file in pieces
// as it is encoded: for a long line it is the largest file by far, and it is never held whole.
bool write_outputs(const RunOptions& opts, const Model& m) {
  StagedFiles staged;
  if (opts.durable) staged.make_durable();
  std::vector<std::string> paths;
  if (opts.with_plan != 0) {
    paths.push_back(join_path(opts.dir, line_output_name(m)));
    FileResult r = staged.add(
        paths.back(), [&m](const PieceWriter& write) { encode_line_output_in_pieces(m, write); });
    if (!succeeded(r, "write", paths.back())) return false;
  }
  paths.push_back(join_path(opts.dir, record_output_name(m)));
  if (!succeeded(staged.add(paths.back(), encode_record_output(m)), "write", paths.back())) {
    return false;
  }
  paths.push_back(join_path(opts.dir, grid_output_name(m)));
  if (!succeeded(staged.add(paths.back(), encode_grid_output(m)), "write", paths.back())) {
    return false;
  }
  std::string failed_path;
  if (!succeeded(staged.commit(failed_path), "write", failed_path)) return false;
  for (const std::string& path : paths) print_written(opts, path);
  return true;
}

// The names a run in a directory writes there, whose temporary files it may find left behind.
std::vector<std::string> names_written(const RunOptions& opts) {
  const Model m = scenario_names(opts);
  std::vector<std::string> names;
  for (const ScenarioText& text : kScenarioTexts) names.push_back(text.name(m));
  names.push_back(line_output_name(m));
  names.push_back(record_output_name(m));
  names.push_back(grid_output_name(m));
  for (const char* page : {".svg", ".html"}) {
    names.push_back(opts.line_id + "_" + opts.train_number + page);
  }
  return names;
}

// Removes what runs killed in opts.dir left there; the caller holds the exclusive lock.
void remove_stale(const RunOptions& opts) {
  for (const std::string& path : remove_stale_temporaries(opts.dir, names_written(opts))) {
    if (opts.verbose) std::printf("removed %s, left by a run that was stopped\n", path.c_str());
  }
}

// Takes the exclusive lock on opts.dir and removes what runs killed there left. -1 to go on,
// else the exit status.
int begin_writing_run(const RunOptions& opts, DirectoryLock& lock) {
  int status = lock_run_directory(opts.dir, LockMode::kExclusive, opts.no_wait, opts.quiet, lock);
  if (status >= 0) return status;
  remove_stale(opts);
  return -1;
}

// Whether the line or the train source stands in opts.dir.
bool any_source_exists(const RunOptions& opts) {
  const Model names = scenario_names(opts);
  return file_exists(source_path(opts.dir, line_source_name(names))) ||
         file_exists(source_path(opts.dir, train_source_name(names)));
}

// Whether the record output, which every compile writes, stands in opts.dir.
bool outputs_exist(const RunOptions& opts) {
  const Model names = scenario_names(opts);
  return file_exists(join_path(opts.dir, record_output_name(names)));
}

// A recorded error, without --write-on-error: the outputs already in the directory stay.
int keep_previous_outputs(const RunOptions& opts, bool only_warnings) {
  print_error(format_note(std::string("outputs not written: ") +
                              (only_warnings ? "--werror makes the warnings fail the compile"
                                             : "the sources hold an error") +
                              "; the previous outputs are kept (--write-on-error writes them)",
                          opts.color));
  return 1;
}

// The five texts, written over whatever files hold their names, put in place as one set.
int write_texts(const RunOptions& opts) {
  const Model m = scenario_names(opts);
  StagedFiles staged;
  std::vector<std::string> paths;
  for (const ScenarioText& text : kScenarioTexts) {
    paths.push_back(join_path(opts.dir, text.name(m)));
    if (!succeeded(staged.add(paths.back(), text_from_table(text.table())), "write",
                   paths.back())) {
      return kCannotFinish;
    }
  }
  std::string failed_path;
  if (!succeeded(staged.commit(failed_path), "write", failed_path)) return kCannotFinish;
  for (const std::string& path : paths) print_written(opts, path);
  return 0;
}

}  // namespace

bool load_sources(const std::string& dir, const Model& names, Sources& s, SourcesRead* read) {
  SourcesRead identities;
  if (read == nullptr) read = &identities;
  return load_source(source_path(dir, line_source_name(names)), s.line, read->line) &&
         load_source(source_path(dir, train_source_name(names)), s.train, read->train);
}

namespace {

// Takes the lock, waiting as lock_run_directory says.
int take_lock(const std::string& dir, LockMode mode, bool no_wait, bool quiet,
              DirectoryLock& lock) {
  if (lock.try_take(dir, mode) != LockOutcome::kBusy) return -1;
  if (no_wait) {
    const std::string problem = "another run is working in " + dir + " (--no-wait: not waiting)";
    report_problem_as_json("busy", problem);
    print_error(format_note(problem));
    return kCannotFinish;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (lock.try_take(dir, mode) != LockOutcome::kBusy) return -1;
  }
  if (!quiet) print_error(format_note("waiting for another run in " + dir + " to finish"));
  lock.wait();
  return -1;
}

}  // namespace

int settle_directory(const std::string& dir) {
  const InterruptedSets sets = settle_interrupted_sets(dir);
  if (sets.finished > 0) {
    print_error(format_note("finished the outputs of a run that was interrupted"));
  }
  if (sets.restored > 0) {
    print_error(format_note(
        "removed the unfinished outputs of a run that was interrupted; the previous ones stand"));
  }
  return succeeded(sets.failure, "write", sets.failed_path) ? -1 : kCannotFinish;
}

int settle_without_lock(const std::string& dir) {
  if (!interrupted_set_in(dir)) return -1;
  DirectoryLock lock;
  return lock_run_directory(dir, LockMode::kExclusive, false, false, lock);
}

std::string make_directory_if_missing(const std::string& dir, bool& created) {
  const FileResult made = make_directory(dir, created);
  return made.ok ? "" : "cannot create the directory " + dir + ": " + made.reason;
}

int lock_run_directory(const std::string& dir, LockMode mode, bool no_wait, bool quiet,
                       DirectoryLock& lock) {
  if (int status = take_lock(dir, mode, no_wait, quiet, lock); status >= 0) return status;
  if (!interrupted_set_in(dir)) return -1;
  // A set a killed run left is finished before anything is read; that takes the exclusive lock.
  if (mode == LockMode::kShared) {
    if (int status = take_lock(dir, LockMode::kExclusive, no_wait, quiet, lock); status >= 0) {
      return status;
    }
  }
  return settle_directory(dir);
}

int write_sources(const RunOptions& opts) {
  DirectoryLock lock;
  if (int status = begin_writing_run(opts, lock); status >= 0) return status;
  if (std::string refusals = changed_texts(opts); !refusals.empty()) {
    print_error(refusals);
    return kCannotFinish;
  }
  return write_texts(opts);
}

namespace {

// What the compile reported, on stderr (or as JSON on stdout), and the summary line.
void print_report(const RunOptions& opts, const CheckReport& report, const Sources& s) {
  if (opts.json) {
    write_stdout(report_json(report, &s));
    return;
  }
  for (const std::string& text : format_report(report, s, opts.color)) print_error(text);
}

void print_summary(const RunOptions& opts, const CheckReport& report) {
  if (opts.json || !opts.summary) return;
  std::string line = summary_line(report);
  if (opts.werror && report.warnings > 0) line += "; with --werror the warnings fail it";
  print_error(format_note(line, opts.color));
}

// Whether the compile fails: an error recorded, one of the program's own, or, with --werror, a
// warning. The outputs are built as without the program's own errors and the warnings.
bool compile_fails(const RunOptions& opts, const Model& m, const CheckReport& report) {
  return m.error_code != 0 || report.errors > 0 || (opts.werror && report.warnings > 0);
}

// The driver's document of `name` in opts.dir, when one can be read there.
std::optional<DriverDocument> read_document(const RunOptions& opts, const std::string& name) {
  const std::string path = source_path(opts.dir, name);
  FileResult r;
  std::optional<std::string> bytes = read_file(path, r);
  if (!bytes) return std::nullopt;
  return DriverDocument{path, std::move(*bytes)};
}

// What check says about the slow-order form and the timetable card beside the train source.
void add_document_warnings(const RunOptions& opts, const Model& m, const Sources& s,
                           std::vector<Warning>& warnings) {
  if (!opts.check_documents || !s.train.bytes) return;
  const std::optional<DriverDocument> form = read_document(opts, slow_order_form_name(m));
  const std::optional<DriverDocument> card = read_document(opts, timetable_card_name(m));
  for (Warning& w : stale_document_warnings(form, card, m.train_number, s.train)) {
    warnings.push_back(std::move(w));
  }
}

// compile_directory once the directory is locked.
int compile_sources(Model& m, const RunOptions& opts) {
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  Sources s;
  SourcesRead read;
  if (!load_sources(opts.dir, m, s, &read)) return kCannotFinish;
  std::vector<Warning> warnings;
  if (opts.warnings) s.warnings = &warnings;
  s.max_kept_warnings = kShownWarnings;
  PassOutcome outcome = compile_model(m, opts.with_plan, s);
  add_document_warnings(opts, m, s, warnings);
  CheckReport report = make_report(m, warnings, s.warnings_not_kept, s.errors_not_kept);
  if (opts.list_record_failures) add_record_failures(report, check_records(s, opts.with_plan), m);
  int status = 0;
  if (outcome == PassOutcome::kStampsSet || outcome == PassOutcome::kCodesSet) {
    int32_t code = outcome == PassOutcome::kStampsSet ? kErrStampsSet : kErrCodesSet;
    add_run_error(report, code);
    if (!opts.json) report.diagnostics.pop_back();  // shown as the run's own message below
    print_report(opts, report, s);
    if (!opts.json) show_fatal_message(" Errore n. " + std::to_string(code));
    status = kCannotFinish;
  } else if (outcome == PassOutcome::kNoGrid) {
    print_report(opts, report, s);
    if (!opts.json) {
      const std::string reason = "the line source gave no line length the grid can be made from";
      print_error(format_note(opts.write_outputs ? "no outputs written: " + reason : reason,
                              opts.color));
    }
    status = kCannotFinish;
  } else if (compile_fails(opts, m, report) && opts.write_outputs && !opts.write_on_error) {
    print_report(opts, report, s);
    status = keep_previous_outputs(opts, report.errors == 0);
  } else {
    print_report(opts, report, s);
    if (opts.write_outputs && !write_outputs(opts, m)) return kCannotFinish;
    // Only now that every output is written: a run that cannot write them keeps its sources.
    if ((!line_source_still_needed(opts, s.line) &&
         !delete_unless_in_error(opts, m, s, report, s.line, read.line)) ||
        !delete_unless_in_error(opts, m, s, report, s.train, read.train)) {
      return kCannotFinish;
    }
    status = compile_fails(opts, m, report) ? 1 : 0;
  }
  if (report.warnings > 0 || report.errors > 0 || !opts.write_outputs) print_summary(opts, report);
  return status;
}

}  // namespace

int compile_directory(Model& m, const RunOptions& opts) {
  // The one look before the lock: the one that found the scenario, when a command made it.
  const bool had_sources =
      opts.sources_seen.has_value() ? *opts.sources_seen : any_source_exists(opts);
  DirectoryLock lock;
  const LockMode mode =
      opts.write_outputs || opts.delete_sources ? LockMode::kExclusive : LockMode::kShared;
  if (int status = lock_run_directory(opts.dir, mode, opts.no_wait, opts.quiet, lock);
      status >= 0) {
    return status;
  }
  if (had_sources && !any_source_exists(opts) && outputs_exist(opts)) {
    // Another run compiled and deleted them while this one was taking or waiting for the lock.
    // A compile has nothing left to do: the outputs are already made from them. A check still
    // reports on what stands there now (error 101).
    if (opts.write_outputs) {
      print_error(format_note("nothing to compile in " + opts.dir +
                                  ": another run compiled and deleted the sources as this one "
                                  "started",
                              opts.color));
      return 0;
    }
    if (!opts.json) {
      print_error(format_note(
          "another run compiled and deleted the sources in " + opts.dir + " as this check started",
          opts.color));
    }
  }
  if (mode == LockMode::kExclusive) remove_stale(opts);
  return compile_sources(m, opts);
}

int build_run(const RunOptions& opts) {
  RunOptions run = opts;
  run.line_id = kDefaultLineId;
  run.train_number = kDefaultTrainNumber;
  run.with_plan = 1;
  run.write_on_error = true;
  begin_wait(opts.quiet);
  DirectoryLock lock;
  if (int status = begin_writing_run(run, lock); status >= 0) {
    end_wait();
    return status;
  }
  // The desktop program has no console: a refusal shows in its message box (which adds the last
  // line break itself).
  std::string refusals = changed_texts(run);
  if (!refusals.empty()) show_fatal_message(refusals.substr(0, refusals.size() - 1));
  int status = refusals.empty() ? write_texts(run) : kCannotFinish;
  if (status == 0) {
    Model m;
    status = compile_sources(m, run);
  }
  end_wait();
  return status;
}

}  // namespace compactor
