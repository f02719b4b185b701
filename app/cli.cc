#include "app/cli.h"

#include <cstdio>

#include "app/author_tools.h"
#include "app/build_run.h"
#include "tools/diagnostics.h"
#include "platform/platform.h"

namespace compactor {

namespace {

constexpr const char* kVersion = "compactor 1.0.0";

constexpr const char* kHelp =
    "usage: compactor [--dir DIR] [-q|--quiet] [-v|--verbose]\n"
    "       compactor sources DIR\n"
    "       compactor compile DIR [--line-id ID] [--train NUM] [--no-plan] [--delete-sources]\n"
    "                             [--werror]\n"
    "       compactor check DIR [--line-id ID] [--train NUM] [--no-plan] [--werror]\n"
    "       compactor dump FILE [--json] [--as sim|grid|line] [--every N]\n"
    "       compactor plot DIR [-o FILE.svg] [--line-id ID] [--train NUM] [--no-plan]\n"
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

int run_command_line(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "dump" || args[0] == "plot")) {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
      if (a == "-h" || a == "--help") {
        std::fputs(kHelp, stdout);
        return 0;
      }
    }
    return args[0] == "dump" ? run_dump(rest) : run_plot(rest);
  }
  RunOptions opts;
  std::string command;
  std::string dir;
  bool have_dir_option = false;
  bool identity_given = false;
  bool plan_option = false;
  bool delete_option = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("%s\n", kVersion);
      return 0;
    } else if (a == "-q" || a == "--quiet") {
      opts.quiet = true;
    } else if (a == "-v" || a == "--verbose") {
      opts.verbose = true;
    } else if (a == "--dir") {
      if (!take_value(args, i, dir)) return usage_error("--dir needs a directory");
      have_dir_option = true;
    } else if (a == "--line-id") {
      if (!take_value(args, i, opts.line_id)) return usage_error("--line-id needs an identifier");
      identity_given = true;
    } else if (a == "--train") {
      if (!take_value(args, i, opts.train_number)) {
        return usage_error("--train needs a train number");
      }
      identity_given = true;
    } else if (a == "--no-plan") {
      opts.with_plan = 0;
      plan_option = true;
    } else if (a == "--delete-sources") {
      delete_option = true;
    } else if (a == "--werror") {
      opts.werror = true;
      plan_option = true;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option '" + a + "'");
    } else if (command.empty()) {
      command = a;
      if (command != "sources" && command != "compile" && command != "check") {
        return usage_error("unknown command '" + a + "'");
      }
      if (i + 1 >= args.size()) return usage_error(command + " needs a directory");
      dir = args[++i];
    } else {
      return usage_error("unexpected argument '" + a + "'");
    }
  }
  if (std::string p = identities_problem(opts.line_id, opts.train_number); !p.empty()) {
    return usage_error(p);
  }
  if (command.empty()) {
    if (identity_given || plan_option || delete_option) {
      return usage_error("--line-id, --train, --no-plan and --delete-sources go with compile");
    }
    opts.dir = have_dir_option ? dir : program_directory();
    return build_run(opts);
  }
  if (have_dir_option) return usage_error("--dir goes with the build run only");
  opts.dir = dir;
  if (command == "sources") {
    if (identity_given || plan_option || delete_option) {
      return usage_error("sources takes no option but --quiet and --verbose");
    }
    return write_sources(opts);
  }
  if (command == "check") {
    if (delete_option)
      return usage_error("check deletes nothing: --delete-sources goes with compile");
    return run_check(opts);
  }
  opts.delete_sources = delete_option;
  opts.warnings = true;
  Model m;
  return compile_directory(m, opts);
}

}  // namespace compactor
