// The language server of the two sources, as a state machine: message bodies in, message bodies
// out. It reads no file and writes nothing itself: the caller hands it a way to read a source
// that is not open in the editor, and sends what it returns.
//
// Requests are answered as they come. Changes to a document are only noted; flush() compiles each
// scenario that changed since the last flush once, with the latest text of its sources, so a
// caller that hands over every message it has before it flushes compiles the latest text only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace compactor::lsp {

struct FileAccess {
  // The bytes of a file, or nullopt when it does not exist or cannot be read.
  std::function<std::optional<std::string>(const std::string& path)> read;
  // Why `read` gave no bytes for a path where something stands (a FIFO, a directory, a file
  // that may not be read): the system's reason; "" when nothing stands there. May be left out.
  std::function<std::string(const std::string& path)> why_unreadable;
  // The names of the files in a directory (empty when it cannot be read).
  std::function<std::vector<std::string>(const std::string& dir)> list;
};

struct ServerState;

class Server {
 public:
  explicit Server(FileAccess files);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Handles one message body; returns the bodies to send now.
  std::vector<std::string> receive(std::string_view body);
  // Bytes of the stream that made no message: the error to send.
  std::vector<std::string> framing_error(std::string_view reason);
  // Compiles every scenario that changed since the last flush; returns the diagnostics to send.
  std::vector<std::string> flush();

  // Whether the client has sent "exit", and the exit status it asks for: 0 after "shutdown",
  // else 1.
  bool exited() const;
  int exit_status() const;

 private:
  std::unique_ptr<ServerState> state_;
};

}  // namespace compactor::lsp
