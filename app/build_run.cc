#include "app/build_run.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/diagnostics.h"
#include "app/files.h"
#include "app/platform.h"
#include "output/outputs.h"
#include "output/percorso.h"
#include "sources/writers.h"

namespace compactor {

namespace {

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

SourceFile load_source(const std::string& dir, const std::string& name) {
  SourceFile f;
  f.name = name;
  std::string path = join_path(dir, name);
  if (!file_exists(path)) return f;
  FileResult r;
  f.bytes = read_file(path, r);
  if (!f.bytes) {
    print_error(format_note("cannot read " + path + ": " + r.reason));
    std::exit(3);
  }
  return f;
}

void delete_consumed(const RunOptions& opts, const SourceFile& f) {
  if (!opts.delete_sources || !f.consumed || !f.bytes) return;
  std::string path = join_path(opts.dir, f.name);
  FileResult r = delete_file(path);
  if (!r.ok) {
    print_error(format_note("cannot delete " + path + ": " + r.reason));
    std::exit(3);
  }
  if (opts.verbose) std::printf("read and deleted %s\n", path.c_str());
}

void write_output(const RunOptions& opts, const std::string& name, const std::string& bytes) {
  std::string path = join_path(opts.dir, name);
  write_file_or_exit(path, bytes);
  print_written(opts, path);
}

// The line output goes to its file in pieces as it is encoded: for a long line it is the largest
// file by far, and it is never held whole.
void write_line_output(const RunOptions& opts, const Model& m) {
  std::string path = join_path(opts.dir, line_output_name(m));
  write_file_in_pieces_or_exit(
      path, [&m](const PieceWriter& write) { encode_line_output_in_pieces(m, write); });
  print_written(opts, path);
}

}  // namespace

[[noreturn]] void errore(const std::string& a) {
  show_fatal_and_exit(" Errore n. " + a);
}

int write_sources(const RunOptions& opts) {
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  dati_linea(m, opts.dir);
  print_written(opts, join_path(opts.dir, linea_file_name(m)));
  dati_treno(m, opts.dir);
  print_written(opts, join_path(opts.dir, treno_file_name(m)));
  dati_note(m, opts.dir);
  print_written(opts, join_path(opts.dir, note_file_name(m)));
  dati_rallentamenti(m, opts.dir);
  print_written(opts, join_path(opts.dir, rallentamenti_file_name(m)));
  dati_scheda(m, opts.dir);
  print_written(opts, join_path(opts.dir, scheda_file_name(m)));
  return 0;
}

int memorizza_percorso(Model& m, const RunOptions& opts, RunSummary* summary) {
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  Sources s;
  s.line = load_source(opts.dir, linea_file_name(m));
  s.train = load_source(opts.dir, treno_file_name(m));
  std::vector<Warning> warnings;
  if (opts.warnings) s.warnings = &warnings;
  PassOutcome outcome = compile_model(m, opts.write_line_file, s);
  auto source_of = [&](const std::string& file) -> std::string_view {
    if (file == s.line.name && s.line.bytes) return *s.line.bytes;
    if (file == s.train.name && s.train.bytes) return *s.train.bytes;
    return {};
  };
  // A source full of stray lines would otherwise bury the report under its warnings.
  constexpr size_t kShownWarnings = 200;
  for (size_t i = 0; i < warnings.size() && i < kShownWarnings; ++i) {
    print_error(format_warning(warnings[i].pos, source_of(warnings[i].pos.file), warnings[i].text));
  }
  if (warnings.size() > kShownWarnings) {
    print_error(
        format_note(std::to_string(warnings.size() - kShownWarnings) + " more warnings not shown"));
  }
  if (summary != nullptr) {
    summary->warnings = static_cast<int>(warnings.size());
    summary->errors = m.error_code != 0 || outcome != PassOutcome::kReady ? 1 : 0;
  }
  switch (outcome) {
    case PassOutcome::kStampsSet:
      errore("1250");
    case PassOutcome::kCodesSet:
      errore("1251");
    case PassOutcome::kNoGrid:
      print_error(format_error(m, source_of(m.error_source.file)));
      print_error(format_note("no outputs written: the line source gave no line length"));
      return 3;
    case PassOutcome::kReady:
      break;
  }
  if (opts.write_outputs) {
    if (m.write_line_file != 0) write_line_output(opts, m);
    write_output(opts, record_output_name(m), encode_record_output(m));
    write_output(opts, grid_output_name(m), encode_grid_output(m));
  }
  // Only now that every output is written: a run that cannot write them keeps its sources.
  delete_consumed(opts, s.line);
  delete_consumed(opts, s.train);
  if (m.error_code != 0) {
    print_error(format_error(m, source_of(m.error_source.file)));
    return 1;
  }
  return opts.werror && !warnings.empty() ? 1 : 0;
}

int Form_Load(const RunOptions& opts) {
  RunOptions run = opts;
  run.line_id = "QUELDRANO 2";
  run.train_number = "555";
  run.write_line_file = 1;
  begin_wait(opts.quiet);
  write_sources(run);
  Model m;
  int status = memorizza_percorso(m, run);
  end_wait();
  return status;
}

}  // namespace compactor
