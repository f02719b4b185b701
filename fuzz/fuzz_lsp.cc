// The language server's message reader and protocol on arbitrary bytes. The first byte sets the
// size of the pieces the stream arrives in (1 to 256 bytes); the rest is the stream. Every
// message the reader finds goes to the server, which is flushed after each piece as the command
// does. Whatever arrives, the server answers only with JSON-RPC messages, and a message framed
// again reads back the same.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_compile.h"
#include "tools/lsp_framing.h"
#include "tools/lsp_server.h"

namespace {

void check_sent(const std::vector<std::string>& bodies) {
  for (const std::string& b : bodies) {
    nlohmann::json m = nlohmann::json::parse(b, nullptr, false);
    FUZZ_CHECK(!m.is_discarded() && m.is_object());
    FUZZ_CHECK(m.value("jsonrpc", "") == "2.0");
    FUZZ_CHECK(m.contains("id") != m.contains("method"));
  }
}

void check_reframed(const std::string& body) {
  compactor::lsp::MessageReader again;
  again.feed(compactor::lsp::frame_message(body));
  std::optional<compactor::lsp::Frame> f = again.next();
  FUZZ_CHECK(f && f->is_message && f->body == body && again.pending() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace compactor;
  if (size == 0) return 0;
  const size_t piece = 1 + data[0];
  std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  // A disk that holds nothing: every source the server compiles comes from an open document.
  lsp::FileAccess files;
  files.read = [](const std::string&) { return std::optional<std::string>(); };
  files.list = [](const std::string&) { return std::vector<std::string>(); };
  lsp::Server server(files);
  lsp::MessageReader reader;
  for (size_t at = 0; at < stream.size() && !server.exited(); at += piece) {
    reader.feed(stream.substr(at, piece));
    FUZZ_CHECK(reader.pending() <= stream.size());
    while (std::optional<lsp::Frame> f = reader.next()) {
      if (f->is_message) {
        check_reframed(f->body);
        check_sent(server.receive(f->body));
      } else {
        FUZZ_CHECK(!f->error.empty());
        check_sent(server.framing_error(f->error));
      }
      if (server.exited()) break;
    }
    check_sent(server.flush());
  }
  FUZZ_CHECK(server.exit_status() == 0 || server.exit_status() == 1);
  return 0;
}
