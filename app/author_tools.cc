#include "app/author_tools.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "app/cli.h"
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

// Standard output as dump and plot write it: every write checked, the first error kept (glibc
// reports a full disk in fwrite itself, before any fflush).
class CheckedStdout {
 public:
  void write(std::string_view text) {
    if (error_ != 0) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) error_ = last_error();
  }

  // Flushes stdout. 0 when everything written reached it, else the error.
  int finish() {
    errno = 0;
    if (std::fflush(stdout) != 0 && error_ == 0) error_ = last_error();
    if (error_ == 0 && std::ferror(stdout)) error_ = EIO;
    return error_;
  }

 private:
  static int last_error() { return errno != 0 ? errno : EIO; }
  int error_ = 0;
};

// The exit status of a command once its output is written: `status` when all of it reached
// stdout; else 3 with "compactor: cannot write standard output: REASON". A reader that has gone
// (dump | head) ends the run quietly, as SIGPIPE ends it.
int status_after_output(CheckedStdout& out, int status) {
  int error = out.finish();
  if (error == 0) return status;
  if (error == EPIPE) end_by_signal(kSigPipe);
  std::fputs(
      format_note(std::string("cannot write standard output: ") + std::strerror(error)).c_str(),
      stderr);
  return 3;
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
  Model m;
  RunSummary summary;
  int status = compile_directory(m, opts, &summary);
  std::fputs(format_note(summary_line(summary.warnings, summary.errors)).c_str(), stderr);
  return status;
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
  CheckedStdout out;
  switch (*kind) {
    case OutputKind::kRecords: {
      auto items = decode_records(*bytes, error);
      if (!items) return decode_failure(path, error);
      out.write(dump_records(*items, bytes->size(), json));
      break;
    }
    case OutputKind::kGrid: {
      auto cells = decode_grid(*bytes, error);
      if (!cells) return decode_failure(path, error);
      out.write(dump_grid(*cells, bytes->size(), json));
      break;
    }
    case OutputKind::kLine: {
      auto plan = decode_line(*bytes, error);
      if (!plan) return decode_failure(path, error);
      out.write(dump_plan(*plan, bytes->size(), every, json));
      break;
    }
  }
  return status_after_output(out, 0);
}

int run_plot(const std::vector<std::string>& args) {
  std::string dir;
  std::string out_path;
  Model names;  // only the identity, for the file names
  names.line_id = kDefaultLineId;
  names.train_number = kDefaultTrainNumber;
  bool with_plan = true;
  bool quiet = false;
  bool no_wait = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (!take_value(args, i, out_path)) return usage_error("-o needs a file name");
    } else if (a == "--line-id") {
      if (!take_value(args, i, names.line_id)) return usage_error("--line-id needs an identifier");
    } else if (a == "--train") {
      if (!take_value(args, i, names.train_number)) {
        return usage_error("--train needs a train number");
      }
    } else if (a == "--no-plan") {
      with_plan = false;
    } else if (a == "--no-wait") {
      no_wait = true;
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a == "-v" || a == "--verbose") {
      quiet = false;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option '" + a + "' for plot");
    } else if (dir.empty()) {
      dir = a;
    } else {
      return usage_error("unexpected argument '" + a + "'");
    }
  }
  if (dir.empty()) return usage_error("plot needs a directory");
  if (std::string p = identities_problem(names.line_id, names.train_number); !p.empty()) {
    return usage_error(p);
  }
  if (out_path.empty()) {
    out_path = join_path(dir, names.line_id + "_" + names.train_number + ".svg");
  }

  // The outputs are read as one set: a run that writes them holds the directory until they are
  // all in place.
  DirectoryLock lock;
  if (int status = lock_run_directory(dir, LockMode::kShared, no_wait, quiet, lock); status >= 0) {
    return status;
  }
  PlotData data;
  data.line_id = names.line_id;
  data.train_number = names.train_number;
  DecodeError error;
  for (const PlotInput& input : plot_inputs(names, with_plan)) {
    const std::string path = join_path(dir, input.name);
    bool missing = false;
    std::optional<std::string> bytes = read_output(path, input.may_be_missing ? &missing : nullptr);
    if (missing) {
      if (!quiet) {
        std::fputs(format_note("no line output " + path + ": drawing the profiles only").c_str(),
                   stderr);
      }
      continue;
    }
    if (!bytes) return 3;
    if (!add_plot_input(data, input.kind, *bytes, error)) return decode_failure(path, error);
  }
  std::string svg = plot_svg(data);
  if (FileResult r = replace_file(out_path, svg); !r.ok) {
    std::fputs(format_note("cannot write " + out_path + ": " + r.reason).c_str(), stderr);
    return 3;
  }
  CheckedStdout out;
  if (!quiet) out.write("wrote " + out_path + " (" + std::to_string(svg.size()) + " bytes)\n");
  return status_after_output(out, 0);
}

}  // namespace compactor
