#include "app/cli.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string_view>

#include "app/author_tools.h"
#include "app/build_run.h"
#include "app/documents_command.h"
#include "app/decompile_command.h"
#include "app/identity.h"
#include "app/lsp_command.h"
#include "app/source_tools.h"
#include "app/standard_output.h"
#include "app/view_command.h"
#include "format/outputs.h"
#include "scenario/texts.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/set_record.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

constexpr const char* kVersion = "compactor 1.0.0";

// Every option of the program; the table of commands says which command takes which.
enum OptionId {
  kDir,
  kLineId,
  kTrain,
  kNoPlan,
  kDeleteSources,
  kWriteOnError,
  kWerror,
  kForce,
  kJson,
  kAs,
  kEvery,
  kOutput,
  kQuiet,
  kVerbose,
  kColor,
  kNoWait,
  kHelp,
  kVersionOption,
  kLength,
  kCheck,
  kOptionCount
};

struct OptionDescription {
  OptionId id;
  const char* long_name;  // "--line-id", or nullptr
  char short_name;        // 'q', or 0
  bool takes_value;       // as "--opt value", "--opt=value", "-o value" or "-ovalue"
  const char* missing;    // the usage error when its value is missing or empty
  const char* label;      // how the help shows it
  const char* help;
};

constexpr OptionDescription kOptions[] = {
    {kDir, "--dir", 0, true, "--dir needs a directory", "--dir DIR",
     "do the build run in DIR instead of the program's directory"},
    {kLineId, "--line-id", 0, true, "--line-id needs an identifier", "--line-id ID",
     "line identifier (default: found in DIR, else \"QUELDRANO 2\")"},
    {kTrain, "--train", 0, true, "--train needs a train number", "--train NUM",
     "train number (default: found in DIR, else \"555\")"},
    {kNoPlan, "--no-plan", 0, false, nullptr, "--no-plan",
     "do not build the plan of the line nor write (plot: read) the line output"},
    {kDeleteSources, "--delete-sources", 0, false, nullptr, "--delete-sources",
     "delete the sources after compiling them (kept by default)"},
    {kWriteOnError, "--write-on-error", 0, false, nullptr, "--write-on-error",
     "write the outputs even when the sources hold an error"},
    {kWerror, "--werror", 0, false, nullptr, "--werror",
     "treat warnings about the sources as errors (exit status 1)"},
    {kForce, "--force", 0, false, nullptr, "--force",
     "overwrite text files that differ from the scenario's texts"},
    {kJson, "--json", 0, false, nullptr, "--json", "JSON instead of text"},
    {kAs, "--as", 0, true, "--as needs sim, grid or line", "--as KIND",
     "read FILE as a record (sim), grid or line output"},
    {kEvery, "--every", 0, true, "--every needs a whole number of metres from 1", "--every N",
     "list the plan of the line every N metres"},
    {kOutput, nullptr, 'o', true, "-o needs a file name", "-o FILE",
     "where to write the picture or page (default DIR/ID_NUM.svg or .html)"},
    {kQuiet, "--quiet", 'q', false, nullptr, "-q, --quiet", "show nothing while working"},
    {kVerbose, "--verbose", 'v', false, nullptr, "-v, --verbose",
     "list each file written with its size"},
    {kColor, "--color", 0, true, "--color needs auto, always or never", "--color=WHEN",
     "colour the messages: auto (on a terminal, without NO_COLOR), always, never"},
    {kNoWait, "--no-wait", 0, false, nullptr, "--no-wait",
     "fail at once when another run is working in the directory (else wait for it)"},
    {kHelp, "--help", 'h', false, nullptr, "-h, --help", "show this help"},
    {kVersionOption, "--version", 0, false, nullptr, "--version", "show the version"},
    {kLength, "--length", 0, true, "--length needs a whole number of metres", "--length M",
     "the length of the new scenario's line in metres, 1000 to 1000000"},
    {kCheck, "--check", 0, false, nullptr, "--check",
     "list the sources that would change, change nothing (exit status 1 when one would)"},
};

constexpr bool options_in_order() {
  for (size_t i = 0; i < std::size(kOptions); ++i) {
    if (kOptions[i].id != static_cast<OptionId>(i)) return false;
  }
  return std::size(kOptions) == kOptionCount;
}
static_assert(options_in_order(), "kOptions lists every option once, in the order of OptionId");

// The options every command takes, besides its own.
constexpr OptionId kEveryCommandTakes[] = {kColor, kHelp, kVersionOption};

// What the arguments said.
struct Invocation {
  std::string command;                                  // "" for the build run
  std::string operand;                                  // the command's DIR or FILE
  std::string second_operand;                           // diff's B
  std::optional<std::string> values[kOptionCount];      // "" for an option without a value
  std::vector<std::pair<OptionId, std::string>> given;  // each option as written, in order
  bool quiet = false;                                   // -q or -v, whichever came last
  bool verbose = false;
  bool has(OptionId id) const { return values[id].has_value(); }
};

struct CommandDescription {
  const char* name;             // "" for the build run
  const char* usage;            // after "usage: "
  const char* summary;          // its line in the list of commands
  const char* description;      // what it does, in its own help
  const char* operand;          // "DIR", "FILE" or "A B" (two); nullptr when it takes none
  const char* missing_operand;  // the usage error without it
  std::vector<OptionId> options;
  int (*run)(const Invocation& inv);
};

// --- What the commands run -----------------------------------------------------------------------

// --color: "auto" colours only on a terminal, and not when NO_COLOR is set to anything.
bool use_color(const Invocation& inv) {
  const std::string when = inv.values[kColor].value_or("auto");
  if (when != "auto") return when == "always";
  const char* no_color = std::getenv("NO_COLOR");
  if (no_color != nullptr && *no_color != '\0') return false;
  return stderr_takes_color();
}

RunOptions run_options(const Invocation& inv) {
  RunOptions opts;
  opts.dir = inv.operand;
  opts.quiet = inv.quiet;
  opts.verbose = inv.verbose;
  opts.with_plan = inv.has(kNoPlan) ? 0 : 1;
  opts.werror = inv.has(kWerror);
  opts.force = inv.has(kForce);
  opts.color = use_color(inv);
  opts.no_wait = inv.has(kNoWait);
  return opts;
}

Model scenario_of(const Identity& identity) {
  Model m;
  m.line_id = identity.line_id;
  m.train_number = identity.train_number;
  return m;
}

// -1 when the command's directory is one (or what stands there cannot be told), else the exit
// status of the problem, said: 3 when nothing stands at its name, as for any input that is not
// there; 2 when it is a file, which the author gave where the command takes a directory.
int directory_status(const Invocation& inv) {
  const NameKind kind = look_up_name(inv.operand, Links::kFollow).kind;
  if (kind == NameKind::kMissing) {
    const std::string problem = "cannot read " + inv.operand + ": the directory does not exist";
    report_problem_as_json("cannot-read", problem);
    std::fputs(format_note(problem).c_str(), stderr);
    return 3;
  }
  if (kind != NameKind::kUnknown && kind != NameKind::kDirectory) {
    return usage_error(inv.operand + " is a file, not a directory: compactor " + inv.command +
                       " takes the directory that holds the scenario's files");
  }
  return -1;
}

// The identity of the scenario in the command's directory: as given, the rest found there.
// -1 when it is fine, else the exit status of the usage error.
int choose_identity(const Invocation& inv, IdentityFiles kind, Identity& identity) {
  const std::optional<std::string>& line_id = inv.values[kLineId];
  const std::optional<std::string>& train_number = inv.values[kTrain];
  if (std::string p = identities_problem(line_id.value_or(kDefaultLineId),
                                         train_number.value_or(kDefaultTrainNumber));
      !p.empty()) {
    return usage_error(p);
  }
  if (std::string p = find_identity(inv.operand, kind, line_id, train_number, identity);
      !p.empty()) {
    return usage_error(p);
  }
  if (std::string p = identities_problem(identity.line_id, identity.train_number); !p.empty()) {
    return usage_error(p);
  }
  if (kind == IdentityFiles::kSources) {
    if (std::string p = output_name_taken(inv.operand, identity); !p.empty()) {
      return usage_error(p);
    }
  }
  return -1;
}

int run_build(const Invocation& inv) {
  RunOptions opts = run_options(inv);
  opts.dir = inv.has(kDir) ? *inv.values[kDir] : program_directory();
  return build_run(opts);
}

int run_sources(const Invocation& inv) {
  return write_sources(run_options(inv));
}

// The identity of the sources, and whether one of them stood there, from one look at the
// directory, with the usage problems choose_identity finds. nullopt when the directory cannot be
// listed (the caller then asks choose_identity).
std::optional<int> identity_from_one_look(const Invocation& inv, RunOptions& opts) {
  FileResult listed;
  const std::optional<std::vector<std::string>> names = list_directory(inv.operand, listed);
  if (!names) return std::nullopt;
  Identity identity;
  if (std::string p = find_identity_in(*names, inv.operand, IdentityFiles::kSources,
                                       inv.values[kLineId], inv.values[kTrain], identity);
      !p.empty()) {
    return usage_error(p);
  }
  if (std::string p = identities_problem(identity.line_id, identity.train_number); !p.empty()) {
    return usage_error(p);
  }
  if (std::string p = output_name_taken_in(*names, inv.operand, identity); !p.empty()) {
    return usage_error(p);
  }
  opts.line_id = identity.line_id;
  opts.train_number = identity.train_number;
  Model m;
  m.line_id = identity.line_id;
  m.train_number = identity.train_number;
  auto seen = [&names](const std::string& name) {
    return std::binary_search(names->begin(), names->end(), name);
  };
  opts.sources_seen = seen(line_source_name(m)) || seen(train_source_name(m));
  return -1;
}

// The options of compile and check, with the identity of the sources in the directory. -1 when
// they are good, else the exit status.
int sources_options(const Invocation& inv, RunOptions& opts) {
  opts = run_options(inv);
  if (std::string p = identities_problem(inv.values[kLineId].value_or(kDefaultLineId),
                                         inv.values[kTrain].value_or(kDefaultTrainNumber));
      !p.empty()) {
    return usage_error(p);
  }
  if (int status = directory_status(inv); status >= 0) return status;
  if (std::optional<int> status = identity_from_one_look(inv, opts)) return *status;
  Identity identity;
  if (int status = choose_identity(inv, IdentityFiles::kSources, identity); status >= 0) {
    return status;
  }
  opts.line_id = identity.line_id;
  opts.train_number = identity.train_number;
  return -1;
}

// A warning when the directory holds the outputs of another train of the same line whose train
// source is not there: most often the outputs of the train number the author had before, which
// this compile leaves beside its own.
void warn_of_other_outputs(const std::string& dir, const RunOptions& opts) {
  FileResult listed;
  const std::optional<std::vector<std::string>> names = list_directory(dir, listed);
  if (!names) return;
  for (const Identity& other :
       identities_in(*names, IdentityFiles::kOutputs, opts.line_id, std::nullopt)) {
    const Model m = scenario_of({other.line_id, other.train_number});
    if (other.train_number == opts.train_number ||
        std::binary_search(names->begin(), names->end(), train_source_name(m))) {
      continue;
    }
    const Model own = scenario_of({opts.line_id, opts.train_number});
    std::fputs(format_note("warning: " + dir + " holds " + record_output_name(m) +
                           ", an output of train \"" + other.train_number + "\" of line \"" +
                           other.line_id + "\", whose train source is not there; this compile "
                           "writes " + record_output_name(own) + " beside it")
                   .c_str(),
               stderr);
  }
}

int run_compile(const Invocation& inv) {
  RunOptions opts;
  if (int status = sources_options(inv, opts); status >= 0) return status;
  warn_of_other_outputs(inv.operand, opts);
  opts.delete_sources = inv.has(kDeleteSources);
  opts.durable = opts.delete_sources;
  opts.write_on_error = inv.has(kWriteOnError);
  opts.warnings = true;
  opts.summary = true;
  Model m;
  return compile_directory(m, opts);
}

int run_check_command(const Invocation& inv) {
  RunOptions opts;
  if (int status = sources_options(inv, opts); status >= 0) return status;
  opts.json = inv.has(kJson);
  return run_check(opts);
}

int run_documents_command(const Invocation& inv) {
  RunOptions opts;
  if (int status = sources_options(inv, opts); status >= 0) return status;
  return run_documents(opts);
}

int run_dump_command(const Invocation& inv) {
  return run_dump(DumpOptions{inv.operand, inv.has(kJson), inv.values[kAs], inv.values[kEvery]});
}

// The options of plot and view; -1 when they are good, else the exit status.
int outputs_options(const Invocation& inv, PlotOptions& opts) {
  if (int status = directory_status(inv); status >= 0) return status;
  if (int status = choose_identity(inv, IdentityFiles::kOutputs, opts.identity); status >= 0) {
    return status;
  }
  opts.dir = inv.operand;
  opts.out_path = inv.values[kOutput].value_or("");
  opts.with_plan = !inv.has(kNoPlan);
  opts.quiet = inv.quiet;
  opts.no_wait = inv.has(kNoWait);
  return -1;
}

int run_plot_command(const Invocation& inv) {
  PlotOptions opts;
  if (int status = outputs_options(inv, opts); status >= 0) return status;
  return run_plot(opts);
}

int run_view_command(const Invocation& inv) {
  PlotOptions opts;
  if (int status = outputs_options(inv, opts); status >= 0) return status;
  return run_view(opts);
}

int run_fmt_command(const Invocation& inv) {
  return run_fmt(FmtOptions{inv.operand, inv.has(kCheck), inv.quiet, inv.has(kNoWait)});
}

int run_new_command(const Invocation& inv) {
  if (!inv.has(kLength)) return usage_error("new needs --length M");
  return run_new(NewOptions{inv.operand, *inv.values[kLength],
                            inv.values[kLineId].value_or(kDefaultLineId),
                            inv.values[kTrain].value_or(kDefaultTrainNumber), inv.has(kForce),
                            inv.quiet, inv.verbose, inv.has(kNoWait)});
}

int run_diff_command(const Invocation& inv) {
  return run_diff(DiffOptions{inv.operand, inv.second_operand, inv.has(kJson)});
}

int run_decompile_command(const Invocation& inv) {
  DecompileOptions opts;
  if (int status = choose_identity(inv, IdentityFiles::kOutputs, opts.identity); status >= 0) {
    return status;
  }
  opts.dir = inv.operand;
  opts.out_dir = inv.values[kOutput].value_or("");
  opts.force = inv.has(kForce);
  opts.quiet = inv.quiet;
  opts.no_wait = inv.has(kNoWait);
  return run_decompile(opts);
}

int run_lsp_command(const Invocation&) {
  return run_lsp({});
}

// --- The table of commands -----------------------------------------------------------------------

const CommandDescription kCommands[] = {
    {"",
     "compactor [--dir DIR] [--force] [-q|--quiet] [-v|--verbose] [--no-wait]",
     "",
     "With no command, does the build run of the scenario in the program's own directory (or\n"
     "in DIR): writes the five text files, compiles the line and train sources, deletes them\n"
     "and writes the three binary outputs. A text file there that differs from the text the\n"
     "run would write stops the run before anything is written (exit status 3), unless\n"
     "--force.\n",
     nullptr,
     nullptr,
     {kDir, kForce, kQuiet, kVerbose, kNoWait},
     run_build},
    {"sources",
     "compactor sources DIR [--force] [-q|--quiet] [-v|--verbose] [--no-wait]",
     "write only the five text files into DIR",
     "Writes the five text files of the default scenario into DIR (which must exist): a\n"
     "starting point for a scenario of your own. A file there that differs from the text it\n"
     "would write is named and left alone, and nothing is written (exit status 3), unless\n"
     "--force.\n",
     "DIR",
     "sources needs a directory",
     {kForce, kQuiet, kVerbose, kNoWait},
     run_sources},
    {"compile",
     "compactor compile DIR [--line-id ID] [--train NUM] [--no-plan] [--delete-sources]\n"
     "                             [--write-on-error] [--werror] [--no-wait]",
     "compile the line and train sources in DIR into the binary outputs",
     "Compiles the line source ID_linea.txt and the train source ID_NUM-.txt in DIR into the\n"
     "three binary outputs in DIR. ID and NUM are found from the sources in DIR when it holds\n"
     "one scenario's (else \"QUELDRANO 2\" and \"555\"); --line-id and --train choose among\n"
     "several. When the sources hold an error, no output is written and those already in DIR\n"
     "are kept, unless --write-on-error. The sources are kept unless --delete-sources, and a\n"
     "source that holds the error is kept even then.\n",
     "DIR",
     "compile needs a directory",
     {kLineId, kTrain, kNoPlan, kDeleteSources, kWriteOnError, kWerror, kQuiet, kVerbose,
      kNoWait},
     run_compile},
    {"check",
     "compactor check DIR [--line-id ID] [--train NUM] [--no-plan] [--werror] [--json]\n"
     "                           [--no-wait]",
     "compile as compile does, report, and write and delete nothing",
     "Compiles the sources in DIR as compile does and reports each warning, every record that\n"
     "cannot be read and every error, ending with a summary line that names the outcome;\n"
     "writes and deletes nothing. With --json the report is one JSON document on stdout.\n",
     "DIR",
     "check needs a directory",
     {kLineId, kTrain, kNoPlan, kWerror, kJson, kQuiet, kVerbose, kNoWait},
     run_check_command},
    {"documents",
     "compactor documents DIR [--line-id ID] [--train NUM] [--force] [-q|--quiet]\n"
     "                               [-v|--verbose] [--no-wait]",
     "write the slow-order form and timetable card made from the sources in DIR",
     "Compiles the sources in DIR and writes the driver's slow-order form and timetable card\n"
     "made from them, in the default scenario's page layout, and a first notes file when none\n"
     "is there. What no source gives (the second speed, the recovery margins, classification,\n"
     "blocked mass) stays blank. A document there that differs from the one it would write is\n"
     "named and left alone, and nothing is written (exit status 3), unless --force; sources\n"
     "that hold an error write nothing (exit status 1).\n",
     "DIR",
     "documents needs a directory",
     {kLineId, kTrain, kForce, kQuiet, kVerbose, kNoWait},
     run_documents_command},
    {"dump",
     "compactor dump FILE [--json] [--as sim|grid|line] [--every N]",
     "list the content of a binary output (by its name ending, or --as)",
     "Lists a binary output, recognised by its name (.sim, _linea.dat, .dat) or by --as: the\n"
     "records by field, the grid cells that are not all zero with the name of their kind, or\n"
     "the plan of the line as 'metre x y' lines. A file that does not fit its format is\n"
     "refused with the offset where it stops making sense.\n",
     "FILE",
     "dump needs a file",
     {kJson, kAs, kEvery},
     run_dump_command},
    {"plot",
     "compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan]\n"
     "                          [--no-wait]",
     "draw the binary outputs in DIR as an SVG picture",
     "Draws the binary outputs in DIR (ID_NUM.sim, ID_NUM.dat and ID_linea.dat) as one SVG\n"
     "picture: the plan of the line with its stations, tunnels and signals, and the gradient\n"
     "and speed-limit profiles. ID and NUM are found from the outputs in DIR when it holds one\n"
     "scenario's (else \"QUELDRANO 2\" and \"555\").\n",
     "DIR",
     "plot needs a directory",
     {kOutput, kLineId, kTrain, kNoPlan, kQuiet, kVerbose, kNoWait},
     run_plot_command},
    {"view",
     "compactor view DIR [-o FILE.html] [--line-id ID] [--train NUM] [--no-plan]\n"
     "                          [--no-wait]",
     "write the binary outputs in DIR as an interactive page",
     "Writes one self-contained HTML page (default DIR/ID_NUM.html) that shows the binary\n"
     "outputs in DIR: the plan of the line to pan and zoom, with every station, tunnel, signal,\n"
     "board, code point and slow order, the linked profiles below it, a find box, and, when the\n"
     "sources are in DIR, the warnings and errors of check at their places. It opens from disk\n"
     "in any current browser, with no network.\n",
     "DIR",
     "view needs a directory",
     {kOutput, kLineId, kTrain, kNoPlan, kQuiet, kVerbose, kNoWait},
     run_view_command},
    {"fmt",
     "compactor fmt DIR|FILE [--check] [-q|--quiet] [--no-wait]",
     "rewrite sources in the canonical layout",
     "Rewrites the source FILE, or the line and train sources in DIR (ID_linea.txt,\n"
     "ID_NUM-.txt), in the canonical layout of the default sources: CR LF line ends and no\n"
     "blank before a line's first field. Only blanks and line ends that no reading sees\n"
     "change, so the outputs stay byte for byte the same; a source with errors is formatted\n"
     "all the same. With --check it writes nothing, lists the sources that would change and\n"
     "exits with status 1 when there is one.\n",
     "DIR|FILE",
     "fmt needs a directory or a file",
     {kCheck, kQuiet, kNoWait},
     run_fmt_command},
    {"new",
     "compactor new DIR --length M [--line-id ID] [--train NUM] [--force] [-q|--quiet]\n"
     "                         [-v|--verbose] [--no-wait]",
     "write the smallest complete scenario of a given length",
     "Writes a line source and a train source into DIR (made when missing; its parent must\n"
     "exist) for a line of M metres (1000 to 1000000): every section, one station at each\n"
     "end, a remark above the values to make your own, in the canonical layout. They compile\n"
     "with no error and no warning. A file there that differs is named and left alone, and\n"
     "nothing is written (exit status 3), unless --force.\n",
     "DIR",
     "new needs a directory",
     {kLength, kLineId, kTrain, kForce, kQuiet, kVerbose, kNoWait},
     run_new_command},
    {"diff",
     "compactor diff A B [--json]",
     "show what differs between two compiled scenarios",
     "Compares two compiled scenarios field by field: two directories of outputs, two\n"
     "directories of sources (compiled first, in memory, with the plan; nothing is written),\n"
     "or two outputs of the same kind. Each difference is one line in the scenario's terms:\n"
     "the station or record, the grid cell with its place and kind, the runs of points of\n"
     "the plan. Exit status 0 when they are the same, 1 when they differ, as diff.\n",
     "A B",
     "diff needs two directories or two files",
     {kJson},
     run_diff_command},
    {"decompile",
     "compactor decompile DIR [-o OUTDIR] [--line-id ID] [--train NUM] [--force]\n"
     "                                [--no-wait]",
     "write the sources of the binary outputs in DIR",
     "Reads the binary outputs in DIR (ID_NUM.sim, ID_NUM.dat and, when it is there,\n"
     "ID_linea.dat) and writes a line source and a train source into OUTDIR (default DIR; made\n"
     "when missing, its parent must exist) that compile back to the same bytes. Code points\n"
     "the compile inserts are left out. What no source can give is named, the rest is\n"
     "written, and the exit status is 1. Anything that stands at a source's name already (a\n"
     "link too) is left alone (exit status 3) unless --force, which puts a file in its place.\n",
     "DIR",
     "decompile needs a directory",
     {kOutput, kLineId, kTrain, kForce, kQuiet, kVerbose, kNoWait},
     run_decompile_command},
    {"lsp",
     "compactor lsp",
     "serve editors as a language server on standard input and output",
     "Serves an editor as a language server (LSP, JSON-RPC with Content-Length framing) on\n"
     "standard input and output: diagnostics as you type, with the same words as check, hover\n"
     "on every field, completion of keywords, an outline and quick fixes. docs/editors.md\n"
     "tells how to use it from VS Code and Neovim.\n",
     nullptr,
     nullptr,
     {},
     run_lsp_command},
};

const OptionDescription& option(OptionId id) {
  return kOptions[id];
}

const CommandDescription* command_named(std::string_view name) {
  for (const CommandDescription& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// --- Reading the arguments -----------------------------------------------------------------------

struct Reading {
  Invocation inv;
  std::vector<std::string> words;  // the command and its operands
  std::string problem;             // the first usage problem, in the order of the arguments
};

void note_problem(Reading& r, const std::string& problem) {
  if (r.problem.empty()) r.problem = problem;
}

void record(Reading& r, const OptionDescription& o, const std::string& written, std::string value) {
  r.inv.values[o.id] = std::move(value);
  r.inv.given.emplace_back(o.id, written);
  if (o.id == kQuiet || o.id == kVerbose) {
    r.inv.quiet = o.id == kQuiet;
    r.inv.verbose = o.id == kVerbose;
  }
}

// "--name", "--name=value" or "--name value" at args[i].
void take_long(const std::vector<std::string>& args, size_t& i, Reading& r) {
  const std::string& a = args[i];
  const size_t equals = a.find('=');
  const std::string name = a.substr(0, equals);
  const OptionDescription* o = nullptr;
  for (const OptionDescription& candidate : kOptions) {
    if (candidate.long_name != nullptr && name == candidate.long_name) o = &candidate;
  }
  if (o == nullptr) return note_problem(r, "unknown option '" + a + "'");
  if (!o->takes_value) {
    if (equals != std::string::npos) return note_problem(r, name + " takes no value");
    return record(r, *o, name, "");
  }
  if (equals != std::string::npos) return record(r, *o, name, a.substr(equals + 1));
  if (i + 1 >= args.size()) return note_problem(r, o->missing);
  record(r, *o, name, args[++i]);
}

// "-q", "-vq", "-o FILE" or "-oFILE" at args[i].
void take_short(const std::vector<std::string>& args, size_t& i, Reading& r) {
  const std::string& a = args[i];
  for (size_t j = 1; j < a.size(); ++j) {
    const std::string written = std::string("-") + a[j];
    const OptionDescription* o = nullptr;
    for (const OptionDescription& candidate : kOptions) {
      if (candidate.short_name != 0 && a[j] == candidate.short_name) o = &candidate;
    }
    if (o == nullptr) return note_problem(r, "unknown option '" + written + "'");
    if (!o->takes_value) {
      record(r, *o, written, "");
      continue;
    }
    if (j + 1 < a.size()) return record(r, *o, written, a.substr(j + 1));
    if (i + 1 >= args.size()) return note_problem(r, o->missing);
    return record(r, *o, written, args[++i]);
  }
}

void take_word(Reading& r, const std::string& word) {
  if (r.words.empty() && (word.empty() || command_named(word) == nullptr)) {
    note_problem(r, "unknown command '" + word + "'");
  }
  r.words.push_back(word);
}

// Options anywhere, "--" ending them.
Reading read_arguments(const std::vector<std::string>& args) {
  Reading r;
  // The system reads a path only up to a NUL: an argument holding one is refused, not cut short.
  for (const std::string& a : args) {
    if (a.find('\0') != std::string::npos) note_problem(r, "an argument holds a NUL byte");
  }
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || a.empty() || a[0] != '-') {
      take_word(r, a);
    } else if (a == "--") {
      options_ended = true;
    } else if (a == "-") {
      note_problem(r, "unknown option '-'");
    } else if (a[1] == '-') {
      take_long(args, i, r);
    } else {
      take_short(args, i, r);
    }
  }
  if (!r.words.empty()) r.inv.command = r.words.front();
  return r;
}

// --- Checking them against the command -----------------------------------------------------------

bool takes(const CommandDescription& c, OptionId id) {
  for (OptionId every : kEveryCommandTakes) {
    if (id == every) return true;
  }
  for (OptionId own : c.options) {
    if (id == own) return true;
  }
  return false;
}

// "the build run", "compile and check", "compile, check and plot".
std::string commands_taking(OptionId id) {
  std::vector<std::string> names;
  for (const CommandDescription& c : kCommands) {
    if (takes(c, id)) names.push_back(*c.name == '\0' ? "the build run" : c.name);
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

// How many operands a command takes: none, one, or two when its operand names two ("A B").
size_t operand_count(const CommandDescription& c) {
  if (c.operand == nullptr) return 0;
  return std::string_view(c.operand).find(' ') == std::string_view::npos ? 1 : 2;
}

// The first problem of the operands, the options the command does not take and the values of
// the options; "" when there is none.
std::string problem_of(const CommandDescription& c, const Reading& r) {
  const size_t operands = r.words.empty() ? 0 : r.words.size() - 1;
  const size_t allowed = operand_count(c);
  if (operands > allowed) return "unexpected argument '" + r.words[allowed + 1] + "'";
  if (operands < allowed) return c.missing_operand;
  for (size_t i = 1; i <= allowed; ++i) {
    if (r.words[i].empty()) return std::string(c.missing_operand) + ", not an empty string";
  }
  for (const auto& [id, written] : r.inv.given) {
    if (!takes(c, id)) return written + " goes with " + commands_taking(id) + " only";
  }
  for (OptionId id : {kDir, kOutput}) {
    if (r.inv.has(id) && r.inv.values[id]->empty()) {
      return std::string(option(id).missing) + ", not an empty string";
    }
  }
  const std::string color = r.inv.values[kColor].value_or("auto");
  if (color != "auto" && color != "always" && color != "never") {
    return "--color takes auto, always or never, not '" + color + "'";
  }
  return "";
}

// --- The help ------------------------------------------------------------------------------------

constexpr const char* kExitStatus =
    "exit status: 0 done, 1 done with a recorded error, 2 usage error, 3 run could not finish\n";

std::string option_line(OptionId id) {
  std::string label = option(id).label;
  label.resize(std::max<size_t>(label.size() + 1, 19), ' ');
  return "  " + label + option(id).help + "\n";
}

std::string general_help() {
  std::string text;
  for (const CommandDescription& c : kCommands) {
    text += std::string(text.empty() ? "usage: " : "       ") + c.usage + "\n";
  }
  text += "       compactor COMMAND --help\n\n";
  text += kCommands[0].description;
  text += "\ncommands:\n";
  for (const CommandDescription& c : kCommands) {
    if (*c.name == '\0') continue;
    std::string label = std::string(c.name) + " " + (c.operand != nullptr ? c.operand : "");
    label.resize(17, ' ');
    text += "  " + label + c.summary + "\n";
  }
  text +=
      "\noptions, before or after the command (--opt=value as --opt value, -vq as -v -q; \"--\"\n"
      "ends the options):\n";
  for (const OptionDescription& o : kOptions) text += option_line(o.id);
  return text + "\n" + kExitStatus;
}

std::string command_help(const CommandDescription& c) {
  std::string text = std::string("usage: ") + c.usage + "\n\n" + c.description + "\noptions:\n";
  for (OptionId id : c.options) text += option_line(id);
  for (OptionId id : kEveryCommandTakes) text += option_line(id);
  return text + "\n" + kExitStatus;
}

// The help of the command named, or the general help.
std::string help_text(const std::string& command) {
  const CommandDescription* c = command_named(command);
  return c == nullptr || *c->name == '\0' ? general_help() : command_help(*c);
}

}  // namespace

int usage_error(const std::string& reason) {
  report_problem_as_json("usage", reason);
  std::fputs(format_note(reason).c_str(), stderr);
  std::fputs("compactor: try 'compactor --help'\n", stderr);
  return 2;
}

std::string identity_problem(const std::string& value) {
  if (value.empty()) return "is empty";
  if (value.size() > 64) return "is longer than 64 bytes";
  if (value == "." || value == "..") return "is \".\" or \"..\"";
  for (char c : value) {
    if (c == '/' || c == '\\') return "holds a path separator";
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      return "holds a character that is not printable ASCII";
    }
  }
  return "";
}

std::string identities_problem(const std::string& line_id, const std::string& train_number) {
  if (std::string p = identity_problem(line_id); !p.empty()) return "the line id " + p;
  if (std::string p = identity_problem(train_number); !p.empty()) return "the train number " + p;
  if (std::string shared = shared_file_name({line_id, train_number}); !shared.empty()) {
    return "the line id \"" + line_id + "\" and train number \"" + train_number +
           "\" give two files the same name, \"" + shared + "\"";
  }
  return "";
}

int run_command_line(const std::vector<std::string>& args) {
  Reading r = read_arguments(args);
  if (r.inv.has(kHelp)) {
    write_stdout(help_text(r.inv.command));
    return 0;
  }
  if (r.inv.has(kVersionOption)) {
    std::printf("%s\n", kVersion);
    return 0;
  }
  set_problems_as_json(r.inv.command == "check" && r.inv.has(kJson));
  if (!r.problem.empty()) return usage_error(r.problem);
  const CommandDescription& c = *command_named(r.inv.command);
  if (std::string p = problem_of(c, r); !p.empty()) return usage_error(p);
  if (c.operand != nullptr) r.inv.operand = r.words[1];
  if (r.words.size() > 2) r.inv.second_operand = r.words[2];
  return c.run(r.inv);
}

namespace {

// The tests' fault seam: with COMPACTOR_TEST_END_AT_STEP=N in the environment, the run ends at
// once before the N-th step of its commits (platform/set_record.h), as a SIGKILL or a crash would
// end it: no handler, no destructor, exit status 137.
long g_end_at_step = 0;

void end_at_step(CommitStep, const std::string&) {
  if (--g_end_at_step == 0) std::_Exit(137);
}

void arm_fault_seam() {
  const char* value = std::getenv("COMPACTOR_TEST_END_AT_STEP");
  if (value == nullptr) return;
  g_end_at_step = std::strtol(value, nullptr, 10);
  if (g_end_at_step > 0) set_commit_step_hook(end_at_step);
}

}  // namespace

int run_program(const std::vector<std::string>& args) {
  arm_fault_seam();
  // A signal that ends a run (SIGINT, SIGTERM, SIGHUP and the others; Ctrl-C on Windows): the
  // handler has removed the run's temporary files; the run ends as the signal ends a program,
  // with status 128 + N as a shell shows it.
  install_interrupt_handlers(end_by_signal);
  try {
    return finish_stdout(run_command_line(args));
  } catch (const std::bad_alloc&) {
    // The files being written were removed on the way here; the old ones are whole.
    remove_temporary_files();
    end_wait();
    std::fputs("compactor: out of memory\n", stderr);
    return 3;
  }
}

}  // namespace compactor
