#include "tests/test_support.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/build_run.h"
#include "scenario/texts.h"

namespace compactor::test {

// --- Source texts ----------------------------------------------------------------------------

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

SourceText SourceText::default_line() {
  return SourceText(text_from_table(line_source_table()));
}

SourceText SourceText::default_train() {
  return SourceText(text_from_table(train_source_table()));
}

SourceText SourceText::line(int64_t length, const std::vector<std::string>& features) {
  std::vector<std::string> lines = {"[generale]", "lunghezza percorso, " + std::to_string(length),
                                    "[curve]"};
  lines.insert(lines.end(), features.begin(), features.end());
  lines.push_back("[fine]");
  return SourceText(crlf(lines));
}

SourceText SourceText::train(const std::vector<std::string>& records) {
  std::vector<std::string> lines = {"[generale]"};
  lines.insert(lines.end(), records.begin(), records.end());
  lines.push_back("[fine]");
  return SourceText(crlf(lines));
}

SourceText& SourceText::replace(std::string_view from, std::string_view to) {
  const size_t at = text_.find(from);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no \"" << from << "\" in the source";
    return *this;
  }
  text_.replace(at, from.size(), to);
  return *this;
}

size_t SourceText::find_line(std::string_view line_start) const {
  for (size_t at = 0; at < text_.size();) {
    if (std::string_view(text_).substr(at).starts_with(line_start)) return at;
    const size_t end = text_.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  ADD_FAILURE() << "no line of the source begins with \"" << line_start << "\"";
  return std::string::npos;
}

SourceText& SourceText::insert_before(std::string_view line_start,
                                      const std::vector<std::string>& lines) {
  const size_t at = find_line(line_start);
  if (at != std::string::npos) text_.insert(at, crlf(lines));
  return *this;
}

SourceText& SourceText::erase_line(std::string_view line_start) {
  const size_t at = find_line(line_start);
  if (at == std::string::npos) return *this;
  const size_t end = text_.find('\n', at);
  text_.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  return *this;
}

SourceText& SourceText::set_field(std::string_view line_start, size_t field,
                                  std::string_view value) {
  const size_t line = find_line(line_start);
  if (line == std::string::npos) return *this;
  const size_t line_end = text_.find_first_of("\r\n", line);
  size_t begin = line;
  for (size_t i = 0; i < field; ++i) {
    begin = text_.find(',', begin);
    if (begin >= line_end) {
      ADD_FAILURE() << "no field " << field << " in the line \"" << line_start << "...\"";
      return *this;
    }
    ++begin;
  }
  size_t end = std::min(text_.find(',', begin), line_end);
  begin = std::min(text_.find_first_not_of(' ', begin), end);
  while (end > begin && text_[end - 1] == ' ') --end;
  text_.replace(begin, end - begin, value);
  return *this;
}

// --- Compile in memory -----------------------------------------------------------------------

Compiled compile_in_memory(std::optional<std::string> line, std::optional<std::string> train,
                           const CompileOptions& options) {
  Compiled c;
  c.m.line_id = kDefaultLineId;
  c.m.train_number = kDefaultTrainNumber;
  c.s.line = SourceFile{kLineSource, std::move(line), false};
  c.s.train = SourceFile{kTrainSource, std::move(train), false};
  if (options.collect_warnings) c.s.warnings = &c.warnings;
  if (options.read_only) {
    read_sources(c.m, c.s, options.with_plan != 0);
  } else {
    c.outcome = compile_model(c.m, options.with_plan, c.s);
  }
  c.s.warnings = nullptr;  // it points into `c`, which the caller receives moved
  return c;
}

int count_kind(const Model& m, uint8_t kind) {
  int n = 0;
  for (const TrackCell& c : m.track_grid) n += c.kind == kind ? 1 : 0;
  return n;
}

// --- Bytes, files and directories ------------------------------------------------------------

uint64_t fingerprint(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

int u8_at(const std::string& b, size_t i) {
  return static_cast<unsigned char>(b.at(i));
}

uint32_t u16_at(const std::string& b, size_t i) {
  return static_cast<uint32_t>(u8_at(b, i) | (u8_at(b, i + 1) << 8));
}

int32_t i16_at(const std::string& b, size_t i) {
  return static_cast<int16_t>(static_cast<uint16_t>(u16_at(b, i)));
}

int32_t i32_at(const std::string& b, size_t i) {
  return static_cast<int32_t>(u16_at(b, i) | (u16_at(b, i + 2) << 16));
}

double f64_at(const std::string& b, size_t i) {
  uint64_t bits = 0;
  for (int k = 7; k >= 0; --k) {
    bits = (bits << 8) | static_cast<uint64_t>(u8_at(b, i + static_cast<size_t>(k)));
  }
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) ADD_FAILURE() << "cannot write " << p;
}

std::map<std::string, std::string> snapshot(const fs::path& dir, Contents contents) {
  std::map<std::string, std::string> state;
  if (!fs::exists(dir)) return state;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(e.path(), dir).string();
    if (e.is_directory()) {
      state[name] = "<dir>";
      continue;
    }
    std::string bytes = read_bytes(e.path());
    state[name] = contents == Contents::kBytes
                      ? std::move(bytes)
                      : std::to_string(bytes.size()) + ":" + std::to_string(fingerprint(bytes));
  }
  return state;
}

namespace {

long this_process() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

}  // namespace

ScratchDir::ScratchDir(std::u8string_view prefix) : creator_(this_process()) {
  static unsigned made = 0;  // directories this process made: a fresh name for each
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string suffix = std::to_string(creator_) + "-" + std::to_string(++made);
    std::u8string name(prefix);
    for (char c : suffix) name += static_cast<char8_t>(c);
    std::error_code ec;
    if (fs::create_directory(base / name, ec)) {  // false when the name is taken
      path_ = base / name;
      return;
    }
  }
  ADD_FAILURE() << "cannot make a scratch directory under " << base;
}

ScratchDir::~ScratchDir() {
  if (path_.empty() || this_process() != creator_) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

const Model& default_model() {
  static Model model;
  static const bool made = [] {
    ScratchDir dir;
    RunOptions opts;
    opts.dir = dir.str();
    opts.quiet = true;
    opts.write_outputs = false;
    EXPECT_EQ(write_sources(opts), 0);
    EXPECT_EQ(compile_directory(model, opts), 0);
    return true;
  }();
  (void)made;
  return model;
}

#ifndef _WIN32
// --- Child processes (POSIX) -----------------------------------------------------------------

namespace {

// In the child: stdin from /dev/null, stdout and stderr into the files, the working directory,
// the file size limit. False when one of them cannot be set up.
bool set_up_child(const ScratchDir& scratch, rlim_t file_size_limit) {
  const int null_fd = open("/dev/null", O_RDONLY);
  const int out_fd = open(scratch.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err_fd = open(scratch.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (null_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(scratch.path().c_str()) != 0) return false;
  dup2(null_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (file_size_limit > 0) {
    struct rlimit limit = {file_size_limit, file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    signal(SIGXFSZ, SIG_IGN);
  }
  return true;
}

}  // namespace

Result run_in_child(const std::function<int()>& body, rlim_t file_size_limit) {
  ScratchDir scratch;
  const pid_t pid = fork();
  if (pid == 0) {
    const int status = set_up_child(scratch, file_size_limit) ? body() : 127;
    std::fflush(nullptr);
    _exit(status);
  }
  Result r;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
    ADD_FAILURE() << "cannot run a child process";
    return r;
  }
  if (WIFEXITED(wstatus)) r.exit_status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  r.out = read_bytes(scratch.file("stdout"));
  r.err = read_bytes(scratch.file("stderr"));
  return r;
}

Result run_program(const std::string& program, const std::vector<std::string>& args,
                   rlim_t file_size_limit) {
  std::vector<std::string> store = {program};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  Result r = run_in_child(
      [&argv] {
        execv(argv[0], argv.data());
        return 127;
      },
      file_size_limit);
  if (r.exit_status == 127) ADD_FAILURE() << "cannot run " << program << "\n" << r.err;
  return r;
}

Result run_compactor(const std::vector<std::string>& args, rlim_t file_size_limit) {
  return run_program(COMPACTOR_BINARY, args, file_size_limit);
}

const DefaultBuildRun& default_run() {
  static DefaultBuildRun run;
  static const bool made = [] {
    run.result = run_compactor({"--dir", run.dir.str()});
    EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
    return true;
  }();
  (void)made;
  return run;
}
#endif  // _WIN32

}  // namespace compactor::test
