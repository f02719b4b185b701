#include "app/author_tools.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/cli.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "scenario/texts.h"
#include "tools/check.h"
#include "tools/diagnostics.h"
#include "tools/dump.h"
#include "tools/plot.h"

namespace compactor {

namespace {

// A whole file, or "compactor: cannot read PATH: REASON" on stderr and nullopt.
std::optional<std::string> read_output(const std::string& path) {
  FileResult r;
  std::optional<std::string> bytes = read_file(path, r);
  if (!bytes) std::fputs(format_note("cannot read " + path + ": " + r.reason).c_str(), stderr);
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

void write_stdout(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int run_check(RunOptions opts) {
  opts.write_outputs = false;
  opts.delete_sources = false;
  opts.warnings = true;
  opts.list_record_failures = true;
  Model m;
  opts.summary = true;
  return compile_directory(m, opts);
}

int run_dump(const std::vector<std::string>& args) {
  std::string path;
  bool json = false;
  std::optional<OutputKind> kind;
  int every = 1;
  bool every_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--as") {
      if (i + 1 >= args.size()) return usage_error("--as needs sim, grid or line");
      kind = output_kind_of_word(args[++i]);
      if (!kind) return usage_error("--as takes sim, grid or line, not '" + args[i] + "'");
    } else if (a == "--every") {
      if (i + 1 >= args.size() || !parse_count(args[i + 1], every)) {
        return usage_error("--every needs a whole number of metres from 1");
      }
      ++i;
      every_given = true;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option '" + a + "' for dump");
    } else if (path.empty()) {
      path = a;
    } else {
      return usage_error("unexpected argument '" + a + "'");
    }
  }
  if (path.empty()) return usage_error("dump needs a file");
  if (!kind) kind = output_kind_of_name(path);
  if (!kind) {
    return usage_error("cannot tell from its name which output " + path +
                       " is: name it *.sim, *_linea.dat or *.dat, or give --as sim|grid|line");
  }
  if (every_given && *kind != OutputKind::kLine) {
    return usage_error("--every goes with the line output only");
  }
  std::optional<std::string> bytes = read_output(path);
  if (!bytes) return 3;
  DecodeError error;
  switch (*kind) {
    case OutputKind::kRecords: {
      auto items = decode_records(*bytes, error);
      if (!items) return decode_failure(path, error);
      write_stdout(dump_records(*items, bytes->size(), json));
      break;
    }
    case OutputKind::kGrid: {
      auto cells = decode_grid(*bytes, error);
      if (!cells) return decode_failure(path, error);
      write_stdout(dump_grid(*cells, bytes->size(), json));
      break;
    }
    case OutputKind::kLine: {
      auto plan = decode_line(*bytes, error);
      if (!plan) return decode_failure(path, error);
      write_stdout(dump_plan(*plan, bytes->size(), every, json));
      break;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 3;
}

int parse_outputs_request(const std::vector<std::string>& args, const std::string& command,
                          const std::string& extension, OutputsRequest& r) {
  r.names.line_id = kDefaultLineId;
  r.names.train_number = kDefaultTrainNumber;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (!take_value(args, i, r.out_path)) return usage_error("-o needs a file name");
    } else if (a == "--line-id") {
      if (!take_value(args, i, r.names.line_id)) {
        return usage_error("--line-id needs an identifier");
      }
    } else if (a == "--train") {
      if (!take_value(args, i, r.names.train_number)) {
        return usage_error("--train needs a train number");
      }
    } else if (a == "--no-plan") {
      r.with_plan = false;
    } else if (a == "-q" || a == "--quiet") {
      r.quiet = true;
    } else if (a == "-v" || a == "--verbose") {
      r.quiet = false;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option '" + a + "' for " + command);
    } else if (r.dir.empty()) {
      r.dir = a;
    } else {
      return usage_error("unexpected argument '" + a + "'");
    }
  }
  if (r.dir.empty()) return usage_error(command + " needs a directory");
  if (std::string p = identities_problem(r.names.line_id, r.names.train_number); !p.empty()) {
    return usage_error(p);
  }
  if (r.out_path.empty()) {
    r.out_path = join_path(r.dir, r.names.line_id + "_" + r.names.train_number + extension);
  }
  return -1;
}

int read_outputs(const OutputsRequest& r, PlotData& data) {
  data.line_id = r.names.line_id;
  data.train_number = r.names.train_number;
  DecodeError error;
  for (const PlotInput& input : plot_inputs(r.names, r.with_plan)) {
    const std::string path = join_path(r.dir, input.name);
    if (input.may_be_missing && !file_exists(path)) {
      if (!r.quiet) {
        std::fputs(format_note("no line output " + path + ": drawing the profiles only").c_str(),
                   stderr);
      }
      continue;
    }
    std::optional<std::string> bytes = read_output(path);
    if (!bytes) return 3;
    if (!add_plot_input(data, input.kind, *bytes, error)) return decode_failure(path, error);
  }
  return -1;
}

bool outputs_older_than_sources(const OutputsRequest& r) {
  std::optional<std::filesystem::file_time_type> oldest_output, newest_source;
  for (const PlotInput& input : plot_inputs(r.names, r.with_plan)) {
    std::error_code ec;
    auto t = std::filesystem::last_write_time(join_path(r.dir, input.name), ec);
    if (!ec && (!oldest_output || t < *oldest_output)) oldest_output = t;
  }
  for (const std::string& name : {line_source_name(r.names), train_source_name(r.names)}) {
    std::error_code ec;
    auto t = std::filesystem::last_write_time(join_path(r.dir, name), ec);
    if (!ec && (!newest_source || t > *newest_source)) newest_source = t;
  }
  return oldest_output && newest_source && *oldest_output < *newest_source;
}

bool warn_if_outputs_older(const OutputsRequest& r) {
  if (!outputs_older_than_sources(r)) return false;
  if (!r.quiet) {
    std::fputs(format_note("the outputs in " + r.dir +
                           " are older than the sources beside them: they do not show the "
                           "sources' last changes; compile again")
                   .c_str(),
               stderr);
  }
  return true;
}

bool write_page(const OutputsRequest& r, const std::string& bytes) {
  if (FileResult f = replace_file(r.out_path, bytes); !f.ok) {
    std::fputs(format_note("cannot write " + r.out_path + ": " + f.reason).c_str(), stderr);
    return false;
  }
  if (!r.quiet) std::printf("wrote %s (%zu bytes)\n", r.out_path.c_str(), bytes.size());
  return true;
}

int run_plot(const std::vector<std::string>& args) {
  OutputsRequest r;
  if (int status = parse_outputs_request(args, "plot", ".svg", r); status >= 0) return status;
  PlotData data;
  if (int status = read_outputs(r, data); status >= 0) return status;
  warn_if_outputs_older(r);
  return write_page(r, plot_svg(data)) ? 0 : 3;
}

}  // namespace compactor
