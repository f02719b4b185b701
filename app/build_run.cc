#include "app/build_run.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/keep_work.h"
#include "compiler/compile.h"
#include "compiler/record_check.h"
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

// A source's path as the author gave its directory: "." adds nothing.
std::string source_path(const std::string& dir, const std::string& name) {
  return dir == "." ? name : join_path(dir, name);
}

// A source as the compile takes it, named by its path as given; false when it exists and cannot
// be read.
bool load_source(const std::string& path, SourceFile& f) {
  f.name = path;
  if (!file_exists(path)) return true;
  FileResult r;
  f.bytes = read_file(path, r);
  return succeeded(r, "read", path);
}

bool delete_consumed(const RunOptions& opts, const SourceFile& f) {
  if (!opts.delete_sources || !f.consumed || !f.bytes) return true;
  const std::string& path = f.name;
  if (!succeeded(delete_file(path), "delete", path)) return false;
  if (opts.verbose) std::printf("read and deleted %s\n", path.c_str());
  return true;
}

// A source that holds the recorded error stays, whatever the options say.
bool delete_unless_in_error(const RunOptions& opts, const Model& m, const Sources& s,
                            const SourceFile& f) {
  if (!opts.delete_sources || !f.consumed || !f.bytes || !holds_the_error(m, s, f)) {
    return delete_consumed(opts, f);
  }
  print_error(format_note(f.name + " is kept: it holds the error", opts.color));
  return true;
}

bool write_output(const RunOptions& opts, const std::string& name, const std::string& bytes) {
  std::string path = join_path(opts.dir, name);
  if (!succeeded(replace_file(path, bytes), "write", path)) return false;
  print_written(opts, path);
  return true;
}

// The line output goes to its file in pieces as it is encoded: for a long line it is the largest
// file by far, and it is never held whole.
bool write_line_output(const RunOptions& opts, const Model& m) {
  std::string path = join_path(opts.dir, line_output_name(m));
  FileResult r = replace_file_in_pieces(
      path, [&m](const PieceWriter& write) { encode_line_output_in_pieces(m, write); });
  if (!succeeded(r, "write", path)) return false;
  print_written(opts, path);
  return true;
}

bool write_outputs(const RunOptions& opts, const Model& m) {
  if (opts.with_plan != 0 && !write_line_output(opts, m)) return false;
  return write_output(opts, record_output_name(m), encode_record_output(m)) &&
         write_output(opts, grid_output_name(m), encode_grid_output(m));
}

// A recorded error, without --write-on-error: the outputs already in the directory stay.
int keep_previous_outputs(const RunOptions& opts) {
  print_error(
      format_note("outputs not written: the sources hold an error; the previous outputs are kept "
                  "(--write-on-error writes them)",
                  opts.color));
  return 1;
}

// The five texts, written over whatever files hold their names.
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

}  // namespace

bool load_sources(const std::string& dir, const Model& names, Sources& s) {
  return load_source(source_path(dir, line_source_name(names)), s.line) &&
         load_source(source_path(dir, train_source_name(names)), s.train);
}

int write_sources(const RunOptions& opts) {
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
    std::string json = report_json(report);
    std::fwrite(json.data(), 1, json.size(), stdout);
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

// The exit status of a compile whose outputs are written.
int finished_status(const RunOptions& opts, const Model& m, const CheckReport& report) {
  if (m.error_code != 0 || report.errors > 0) return 1;
  return opts.werror && report.warnings > 0 ? 1 : 0;
}

}  // namespace

int compile_directory(Model& m, const RunOptions& opts) {
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  Sources s;
  if (!load_sources(opts.dir, m, s)) return kCannotFinish;
  std::vector<Warning> warnings;
  if (opts.warnings) s.warnings = &warnings;
  PassOutcome outcome = compile_model(m, opts.with_plan, s);
  CheckReport report = make_report(m, warnings);
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
      print_error(format_note(
          "no outputs written: the line source gave no line length the grid can be made from",
          opts.color));
    }
    status = kCannotFinish;
  } else if (m.error_code != 0 && opts.write_outputs && !opts.write_on_error) {
    print_report(opts, report, s);
    status = keep_previous_outputs(opts);
  } else {
    print_report(opts, report, s);
    if (opts.write_outputs && !write_outputs(opts, m)) return kCannotFinish;
    // Only now that every output is written: a run that cannot write them keeps its sources.
    if (!delete_unless_in_error(opts, m, s, s.line) ||
        !delete_unless_in_error(opts, m, s, s.train)) {
      return kCannotFinish;
    }
    status = finished_status(opts, m, report);
  }
  if (report.warnings > 0 || report.errors > 0 || !opts.write_outputs) print_summary(opts, report);
  return status;
}

int build_run(const RunOptions& opts) {
  RunOptions run = opts;
  run.line_id = kDefaultLineId;
  run.train_number = kDefaultTrainNumber;
  run.with_plan = 1;
  run.write_on_error = true;
  begin_wait(opts.quiet);
  // The desktop program has no console: a refusal shows in its message box (which adds the last
  // line break itself).
  std::string refusals = changed_texts(run);
  if (!refusals.empty()) show_fatal_message(refusals.substr(0, refusals.size() - 1));
  int status = refusals.empty() ? write_texts(run) : kCannotFinish;
  if (status == 0) {
    Model m;
    status = compile_directory(m, run);
  }
  end_wait();
  return status;
}

}  // namespace compactor
