#include "app/build_run.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "compiler/compile.h"
#include "format/outputs.h"
#include "model/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tools/check.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

// The exit status of a run that could not finish.
constexpr int kCannotFinish = 3;

void print_written(const RunOptions& opts, const std::string& path) {
  if (!opts.verbose) return;
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  std::printf("wrote %s (%llu bytes)\n", path.c_str(),
              static_cast<unsigned long long>(ec ? 0 : size));
}

void print_error(const std::string& text) {
  end_wait();
  std::fputs(text.c_str(), stderr);
}

// "compactor: cannot VERB PATH: REASON" on stderr when `r` failed; true when it did not.
bool succeeded(const FileResult& r, const char* verb, const std::string& path) {
  if (r.ok) return true;
  print_error(format_note(std::string("cannot ") + verb + " " + path + ": " + r.reason));
  return false;
}

// A source as the compile takes it, and the identity of the file read; false when something
// stands at its name and cannot be read (a directory, a dangling symbolic link, no permission).
bool load_source(const std::string& dir, const std::string& name, SourceFile& f,
                 FileIdentity& identity) {
  f.name = name;
  std::string path = join_path(dir, name);
  FileResult r;
  f.bytes = read_file(path, r, kMaxSourceBytes, &identity);
  return r.missing || succeeded(r, "read", path);
}

// Deletes a source the compile has consumed, if it is still the file that was read. One that is
// gone already is no error; one that has changed since is kept, with a warning.
bool delete_consumed(const RunOptions& opts, const SourceFile& f, const FileIdentity& identity) {
  if (!opts.delete_sources || !f.consumed || !f.bytes) return true;
  std::string path = join_path(opts.dir, f.name);
  FileResult r;
  switch (delete_file_if_unchanged(path, identity, r)) {
    case DeleteOutcome::kDeleted:
      if (opts.verbose) std::printf("read and deleted %s\n", path.c_str());
      return true;
    case DeleteOutcome::kAlreadyGone:
      return true;
    case DeleteOutcome::kChanged:
      print_error(format_note("warning: kept " + path +
                              ": it is not the file that was read (it changed or was replaced)"));
      return true;
    case DeleteOutcome::kFailed:
      break;
  }
  return succeeded(r, "delete", path);
}

// The three outputs, each written to a temporary file first: only when all three are written are
// they renamed over the old ones, one after the other. The line output goes to its file in pieces
// as it is encoded: for a long line it is the largest file by far, and it is never held whole.
bool write_outputs(const RunOptions& opts, const Model& m) {
  StagedFiles staged;
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
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  std::vector<std::string> names;
  for (const ScenarioText& text : kScenarioTexts) names.push_back(text.name(m));
  names.push_back(line_output_name(m));
  names.push_back(record_output_name(m));
  names.push_back(grid_output_name(m));
  names.push_back(opts.line_id + "_" + opts.train_number + ".svg");
  return names;
}

// Takes the exclusive lock on opts.dir and removes what runs killed there left. -1 to go on.
int begin_writing_run(const RunOptions& opts, DirectoryLock& lock) {
  int status = lock_run_directory(opts.dir, LockMode::kExclusive, opts.no_wait, opts.quiet, lock);
  if (status >= 0) return status;
  for (const std::string& path : remove_stale_temporaries(opts.dir, names_written(opts))) {
    if (opts.verbose) std::printf("removed %s, left by a run that was stopped\n", path.c_str());
  }
  return -1;
}

// " Errore n. NNNN": the message of a run stopped by its stamps or integrity codes.
int stop_with_error_number(int32_t code) {
  show_fatal_message(" Errore n. " + std::to_string(code));
  return kCannotFinish;
}

int write_texts(const RunOptions& opts) {
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  for (const ScenarioText& text : kScenarioTexts) {
    std::string path = join_path(opts.dir, text.name(m));
    if (!succeeded(replace_file(path, text_from_table(text.table())), "write", path)) {
      return kCannotFinish;
    }
    print_written(opts, path);
  }
  return 0;
}

int compile_sources(Model& m, const RunOptions& opts, RunSummary* summary) {
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  Sources s;
  FileIdentity line_read, train_read;
  if (!load_source(opts.dir, line_source_name(m), s.line, line_read) ||
      !load_source(opts.dir, train_source_name(m), s.train, train_read)) {
    return kCannotFinish;
  }
  std::vector<Warning> warnings;
  if (opts.warnings) s.warnings = &warnings;
  s.max_kept_warnings = kShownWarnings;
  PassOutcome outcome = compile_model(m, opts.with_plan, s);
  for (const std::string& text : format_warnings(warnings, s)) print_error(text);
  const size_t warning_count = warnings.size() + s.warnings_not_kept;
  if (summary != nullptr) {
    summary->warnings = static_cast<int>(warning_count);
    summary->errors = m.error_code != 0 || outcome != PassOutcome::kReady ? 1 : 0;
  }
  switch (outcome) {
    case PassOutcome::kStampsSet:
      return stop_with_error_number(kErrStampsSet);
    case PassOutcome::kCodesSet:
      return stop_with_error_number(kErrCodesSet);
    case PassOutcome::kNoGrid:
      print_error(format_error(m, source_text(s, m.error_source.file)));
      print_error(format_note("no outputs written: the line source gave no line length"));
      return kCannotFinish;
    case PassOutcome::kReady:
      break;
  }
  if (opts.write_outputs && !write_outputs(opts, m)) return kCannotFinish;
  // Only now that every output is written: a run that cannot write them keeps its sources.
  if (!delete_consumed(opts, s.line, line_read) || !delete_consumed(opts, s.train, train_read)) {
    return kCannotFinish;
  }
  if (m.error_code != 0) {
    print_error(format_error(m, source_text(s, m.error_source.file)));
    return 1;
  }
  return opts.werror && warning_count > 0 ? 1 : 0;
}

}  // namespace

int lock_run_directory(const std::string& dir, LockMode mode, bool no_wait, bool quiet,
                       DirectoryLock& lock) {
  if (lock.try_take(dir, mode) != LockOutcome::kBusy) return -1;
  if (no_wait) {
    print_error(format_note("another run is working in " + dir + " (--no-wait: not waiting)"));
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

int write_sources(const RunOptions& opts) {
  DirectoryLock lock;
  if (int status = begin_writing_run(opts, lock); status >= 0) return status;
  return write_texts(opts);
}

int compile_directory(Model& m, const RunOptions& opts, RunSummary* summary) {
  DirectoryLock lock;
  if (opts.write_outputs || opts.delete_sources) {
    if (int status = begin_writing_run(opts, lock); status >= 0) return status;
  } else {
    int status = lock_run_directory(opts.dir, LockMode::kShared, opts.no_wait, opts.quiet, lock);
    if (status >= 0) return status;
  }
  return compile_sources(m, opts, summary);
}

int build_run(const RunOptions& opts) {
  RunOptions run = opts;
  run.line_id = kDefaultLineId;
  run.train_number = kDefaultTrainNumber;
  run.with_plan = 1;
  begin_wait(opts.quiet);
  DirectoryLock lock;
  int status = begin_writing_run(run, lock);
  if (status < 0) status = write_texts(run);
  if (status == 0) {
    Model m;
    status = compile_sources(m, run, nullptr);
  }
  end_wait();
  return status;
}

}  // namespace compactor
