#include "app/lsp_command.h"

#include "app/build_run.h"
#include "app/cli.h"
#include "app/standard_output.h"
#include "platform/files.h"
#include "platform/server_io.h"
#include "tools/lsp_framing.h"
#include "tools/lsp_server.h"

namespace compactor {

namespace {

// At most this many bytes are taken from standard input before the changes they hold are
// compiled, so that a client that never pauses still sees diagnostics.
constexpr size_t kBytesPerRound = size_t{16} << 20;

// The server's only way to the disk: a source that is not open in the editor, read whole when a
// scenario it belongs to is compiled (at most the size of a source the compile accepts), and the
// names of the files beside a line source.
lsp::FileAccess disk_access() {
  lsp::FileAccess files;
  files.read = [](const std::string& path) -> std::optional<std::string> {
    if (!file_exists(path)) return std::nullopt;
    FileResult r;
    return read_file(path, r, kMaxSourceBytes);
  };
  files.why_unreadable = [](const std::string& path) -> std::string {
    FileResult r;
    if (read_file(path, r, kMaxSourceBytes)) return "";
    return r.missing ? "" : r.reason;
  };
  // A compile of a directory begins by listing it: a set a killed run left there is settled
  // first, as any command does.
  files.list = [](const std::string& dir) {
    settle_without_lock(dir);
    return file_names_in(dir);
  };
  return files;
}

constexpr int kSent = -1;

// Sends the messages: kSent, else the exit status. An editor that has gone (a closed pipe) ends
// the server quietly with 1, as an exit without shutdown does; any other failure is told, 3.
int send(const std::vector<std::string>& bodies) {
  std::string out;
  for (const std::string& b : bodies) out += lsp::frame_message(b);
  std::string reason;
  if (out.empty() || write_standard_output(out, reason)) return kSent;
  return reason.empty() ? 1 : report_stdout_failure(reason);
}

// Waits for input, then takes whatever else has already arrived. False at the end of the input.
bool read_round(std::string& chunk) {
  InputStatus status = read_standard_input(chunk, true);
  while (status == InputStatus::kData && chunk.size() < kBytesPerRound) {
    status = read_standard_input(chunk, false);
  }
  return status != InputStatus::kEnd;
}

}  // namespace

int run_lsp(const std::vector<std::string>& args) {
  if (!args.empty()) return usage_error("lsp takes no argument");
  keep_running_on_closed_output();
  lsp::Server server(disk_access());
  lsp::MessageReader reader;
  std::string chunk;
  for (;;) {
    bool open = read_round(chunk);
    reader.feed(chunk);
    chunk.clear();
    // Every message that has arrived is handled before anything is compiled: of changes that
    // come faster than a compile, only the latest text is compiled.
    while (std::optional<lsp::Frame> frame = reader.next()) {
      int status = send(frame->is_message ? server.receive(frame->body)
                                          : server.framing_error(frame->error));
      if (server.exited()) return server.exit_status();
      if (status != kSent) return status;
    }
    if (int status = send(server.flush()); status != kSent) return status;
    if (!open) return server.exit_status();
  }
}

}  // namespace compactor
