#include "app/cli.h"

#include <cstdio>
#include <new>

#include "app/author_tools.h"
#include "app/build_run.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

constexpr const char* kVersion = "compactor 1.0.0";

constexpr const char* kHelp =
    "usage: compactor [--dir DIR] [-q|--quiet] [-v|--verbose] [--no-wait]\n"
    "       compactor sources DIR [--no-wait]\n"
    "       compactor compile DIR [--line-id ID] [--train NUM] [--no-plan] [--delete-sources]\n"
    "                             [--werror] [--no-wait]\n"
    "       compactor check DIR [--line-id ID] [--train NUM] [--no-plan] [--werror] [--no-wait]\n"
    "       compactor dump FILE [--json] [--as sim|grid|line] [--every N]\n"
    "       compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan]\n"
    "                          [--no-wait]\n"
    "\n"
    "With no command, does the build run of the scenario in the program's own directory (or in\n"
    "DIR): writes the five text files, compiles the line and train sources, deletes them and\n"
    "writes the three binary outputs.\n"
    "\n"
    "commands:\n"
    "  sources DIR      write only the five text files into DIR\n"
    "  compile DIR      compile the line and train sources in DIR into the binary outputs\n"
    "  check DIR        compile as compile does, report, and write and delete nothing\n"
    "  dump FILE        list the content of a binary output (by its name ending, or --as)\n"
    "  plot DIR         draw the binary outputs in DIR as an SVG picture\n"
    "\n"
    "options:\n"
    "  --dir DIR          do the build run in DIR instead of the program's directory\n"
    "  --line-id ID       line identifier of the sources (default \"QUELDRANO 2\")\n"
    "  --train NUM        train number of the sources (default \"555\")\n"
    "  --no-plan          do not build the plan of the line nor write the line output\n"
    "  --delete-sources   delete the sources after compiling them (kept by default)\n"
    "  --werror           treat warnings about the sources as errors (exit status 1)\n"
    "  --no-wait          fail at once when another run is working in the directory\n"
    "                     (without it the run waits for the other one to finish)\n"
    "  --json             dump: JSON instead of text\n"
    "  --as KIND          dump: read FILE as a record (sim), grid or line output\n"
    "  --every N          dump: list the plan of the line every N metres\n"
    "  -o FILE.svg        plot: where to write the picture (default DIR/ID_NUM.svg)\n"
    "  -q, --quiet        show nothing while working\n"
    "  -v, --verbose      list each file written with its size\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "exit status: 0 done, 1 done with a recorded error, 2 usage error, 3 run could not finish\n";

}  // namespace

int usage_error(const std::string& reason) {
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
  return "";
}

bool take_value(const std::vector<std::string>& args, size_t& i, std::string& out) {
  if (i + 1 >= args.size()) return false;
  out = args[++i];
  return true;
}

namespace {

// What the arguments of the build run, sources, compile and check said.
struct ParsedArguments {
  RunOptions opts;
  std::string command;  // "" for the build run
  std::string dir;
  bool have_dir_option = false;
  bool identity_given = false;
  bool plan_option = false;  // --no-plan or --werror
  bool delete_option = false;
};

bool is_directory_command(const std::string& word) {
  return word == "sources" || word == "compile" || word == "check";
}

// One option of the shared commands at args[i]. -1 when it was taken, else the exit status.
int take_option(const std::vector<std::string>& args, size_t& i, ParsedArguments& p) {
  const std::string& a = args[i];
  if (a == "-h" || a == "--help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (a == "--version") {
    std::printf("%s\n", kVersion);
    return 0;
  }
  if (a == "-q" || a == "--quiet") {
    p.opts.quiet = true;
  } else if (a == "-v" || a == "--verbose") {
    p.opts.verbose = true;
  } else if (a == "--dir") {
    if (!take_value(args, i, p.dir)) return usage_error("--dir needs a directory");
    p.have_dir_option = true;
  } else if (a == "--line-id") {
    if (!take_value(args, i, p.opts.line_id)) return usage_error("--line-id needs an identifier");
    p.identity_given = true;
  } else if (a == "--train") {
    if (!take_value(args, i, p.opts.train_number)) {
      return usage_error("--train needs a train number");
    }
    p.identity_given = true;
  } else if (a == "--no-plan") {
    p.opts.with_plan = 0;
    p.plan_option = true;
  } else if (a == "--delete-sources") {
    p.delete_option = true;
  } else if (a == "--no-wait") {
    p.opts.no_wait = true;
  } else if (a == "--werror") {
    p.opts.werror = true;
    p.plan_option = true;
  } else {
    return usage_error("unknown option '" + a + "'");
  }
  return -1;
}

// Reads every argument into `p`. -1 when they make a command to run, else the exit status.
int parse_arguments(const std::vector<std::string>& args, ParsedArguments& p) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!a.empty() && a[0] == '-') {
      if (int status = take_option(args, i, p); status >= 0) return status;
    } else if (p.command.empty()) {
      p.command = a;
      if (!is_directory_command(a)) return usage_error("unknown command '" + a + "'");
      if (i + 1 >= args.size()) return usage_error(p.command + " needs a directory");
      p.dir = args[++i];
    } else {
      return usage_error("unexpected argument '" + a + "'");
    }
  }
  if (std::string problem = identities_problem(p.opts.line_id, p.opts.train_number);
      !problem.empty()) {
    return usage_error(problem);
  }
  return -1;
}

int run_build(ParsedArguments& p) {
  if (p.identity_given || p.plan_option || p.delete_option) {
    return usage_error("--line-id, --train, --no-plan and --delete-sources go with compile");
  }
  p.opts.dir = p.have_dir_option ? p.dir : program_directory();
  return build_run(p.opts);
}

int run_sources(ParsedArguments& p) {
  if (p.identity_given || p.plan_option || p.delete_option) {
    return usage_error("sources takes no option but --quiet, --verbose and --no-wait");
  }
  return write_sources(p.opts);
}

int run_check_command(ParsedArguments& p) {
  if (p.delete_option) {
    return usage_error("check deletes nothing: --delete-sources goes with compile");
  }
  return run_check(p.opts);
}

int run_compile(ParsedArguments& p) {
  p.opts.delete_sources = p.delete_option;
  p.opts.warnings = true;
  Model m;
  return compile_directory(m, p.opts);
}

// The commands that take their arguments whole.
struct OwnParserCommand {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
};

constexpr OwnParserCommand kOwnParserCommands[] = {{"dump", run_dump}, {"plot", run_plot}};

// The build run ("") and the commands on a directory of sources.
struct DirectoryCommand {
  const char* name;
  int (*run)(ParsedArguments& p);
};

constexpr DirectoryCommand kDirectoryCommands[] = {{"", run_build},
                                                   {"sources", run_sources},
                                                   {"check", run_check_command},
                                                   {"compile", run_compile}};

bool asks_for_help(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") return true;
  }
  return false;
}

}  // namespace

int run_command_line(const std::vector<std::string>& args) {
  for (const OwnParserCommand& c : kOwnParserCommands) {
    if (args.empty() || args[0] != c.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (asks_for_help(rest)) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    return c.run(rest);
  }
  ParsedArguments p;
  if (int status = parse_arguments(args, p); status >= 0) return status;
  if (!p.command.empty() && p.have_dir_option) {
    return usage_error("--dir goes with the build run only");
  }
  p.opts.dir = p.dir;
  for (const DirectoryCommand& c : kDirectoryCommands) {
    if (p.command == c.name) return c.run(p);
  }
  return usage_error("unknown command '" + p.command + "'");
}

namespace {

// An interrupt (SIGINT, SIGTERM, SIGHUP, Ctrl-C): the handler has removed the run's temporary
// files; the run ends as the signal ends a program, with status 128 + N as a shell shows it.
void end_interrupted_run(int signal_number) {
  end_by_signal(signal_number);
}

}  // namespace

int run_program(const std::vector<std::string>& args) {
  install_interrupt_handlers(end_interrupted_run);
  try {
    return run_command_line(args);
  } catch (const std::bad_alloc&) {
    // The files being written were removed on the way here; the old ones are whole.
    remove_temporary_files();
    end_wait();
    std::fputs("compactor: out of memory\n", stderr);
    return 3;
  }
}

}  // namespace compactor
