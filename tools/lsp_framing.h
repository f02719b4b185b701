// The message framing of the language server: each message is a header block ("Content-Length:
// N", other headers allowed, each line ended by CR LF, the block by an empty line) followed by a
// body of exactly N bytes. The reader takes the bytes as they come, in pieces of any size, and
// finds its way back to the next header after bytes that make no message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace compactor::lsp {

// A header block longer than this, or a body longer than this, makes no message.
constexpr size_t kMaxHeaderBytes = 8192;
constexpr size_t kMaxBodyBytes = size_t{256} << 20;

// What the reader found next: a message body, or bytes that made no message and why.
struct Frame {
  bool is_message = false;
  std::string body;   // the body, when is_message
  std::string error;  // why the bytes were passed over, when not
};

class MessageReader {
 public:
  // Adds bytes read from the stream.
  void feed(std::string_view bytes);
  // The next message, or bytes passed over; nullopt when more bytes are needed.
  std::optional<Frame> next();
  // Bytes held that make no whole message yet.
  size_t pending() const { return buffer_.size() - start_; }

 private:
  std::optional<Frame> skip_to_next_header(size_t from, std::string error);
  void consume(size_t count);

  std::string buffer_;
  size_t start_ = 0;  // where the unread bytes begin
};

// A body with its header block.
std::string frame_message(std::string_view body);

// A body whose arrays and objects nest deeper than this, or that holds more values than this, is
// refused before it is parsed: the parsed tree would take the stack (its copies and comparisons
// recurse) or many times the body's size in memory. An editor's messages nest a dozen levels at
// most, and their long texts are single strings.
constexpr size_t kMaxNesting = 64;
constexpr size_t kMaxValues = size_t{1} << 20;

// Why a message body must not be parsed (too deep, too many values), or "". Looks at the bytes
// once, outside strings; says nothing about whether they are JSON.
std::string body_shape_problem(std::string_view body);

}  // namespace compactor::lsp
