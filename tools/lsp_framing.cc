#include "tools/lsp_framing.h"

#include <algorithm>
#include <cctype>

namespace compactor::lsp {

namespace {

constexpr std::string_view kLengthHeader = "content-length:";
constexpr std::string_view kBlockEnd = "\r\n\r\n";

bool equal_any_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Where "Content-Length:" (any case) next starts in `text` at or after `from`, or npos.
size_t find_length_header(std::string_view text, size_t from) {
  for (size_t i = from; i + kLengthHeader.size() <= text.size(); ++i) {
    if (equal_any_case(text.substr(i, kLengthHeader.size()), kLengthHeader)) return i;
  }
  return std::string_view::npos;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The body length a header block gives, or nullopt with the reason when it gives none: every
// line must be "Name: value", and Content-Length a decimal number within the limit.
std::optional<size_t> body_length(std::string_view block, std::string& reason) {
  std::optional<size_t> length;
  while (!block.empty()) {
    size_t eol = block.find("\r\n");
    std::string_view line = block.substr(0, eol);
    block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      reason = "a header line is not \"Name: value\"";
      return std::nullopt;
    }
    if (!equal_any_case(line.substr(0, colon + 1), kLengthHeader)) continue;
    std::string_view value = trimmed(line.substr(colon + 1));
    bool digits =
        !value.empty() && value.size() <= 12 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoull(std::string(value)) > kMaxBodyBytes) {
      reason = "Content-Length is not a length up to " + std::to_string(kMaxBodyBytes);
      return std::nullopt;
    }
    length = static_cast<size_t>(std::stoull(std::string(value)));
  }
  if (!length) reason = "a header block without Content-Length";
  return length;
}

}  // namespace

void MessageReader::feed(std::string_view bytes) {
  buffer_.append(bytes);
}

void MessageReader::consume(size_t count) {
  start_ += count;
  // The bytes read are dropped once they make up most of the buffer.
  if (start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

// Passes over the unread bytes up to the next "Content-Length:" at or after `from` (relative to
// the unread bytes), or over all of them but a tail that may begin one.
std::optional<Frame> MessageReader::skip_to_next_header(size_t from, std::string error) {
  std::string_view unread = std::string_view(buffer_).substr(start_);
  size_t next = find_length_header(unread, from);
  if (next == std::string_view::npos) {
    next = unread.size() > kLengthHeader.size() ? unread.size() - kLengthHeader.size() : 0;
    next = std::max(next, std::min(from, unread.size()));
  }
  consume(next);
  return Frame{false, "", std::move(error)};
}

std::optional<Frame> MessageReader::next() {
  std::string_view unread = std::string_view(buffer_).substr(start_);
  size_t block_end = unread.find(kBlockEnd);
  if (block_end == std::string_view::npos) {
    if (unread.size() <= kMaxHeaderBytes) return std::nullopt;
    return skip_to_next_header(
        1, "a header block longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
  }
  if (block_end > kMaxHeaderBytes) {
    return skip_to_next_header(
        1, "a header block longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
  }
  std::string reason;
  std::optional<size_t> length = body_length(unread.substr(0, block_end), reason);
  if (!length) {
    // Bytes that make no header: the message resumes at the next Content-Length, if the block
    // holds one further on, or else after the block.
    size_t resume = find_length_header(unread.substr(0, block_end), 1);
    if (resume == std::string_view::npos) resume = block_end + kBlockEnd.size();
    consume(resume);
    return Frame{false, "", reason};
  }
  size_t body_start = block_end + kBlockEnd.size();
  if (unread.size() - body_start < *length) return std::nullopt;
  Frame frame{true, std::string(unread.substr(body_start, *length)), ""};
  consume(body_start + *length);
  return frame;
}

std::string frame_message(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out.append(body);
  return out;
}

std::string body_shape_problem(std::string_view body) {
  size_t depth = 0;
  size_t values = 1;
  bool in_string = false;
  bool escaped = false;
  for (char c : body) {
    if (in_string) {
      in_string = escaped || c != '"';
      escaped = !escaped && c == '\\';
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) {
        return "the message nests deeper than " + std::to_string(kMaxNesting) + " levels";
      }
      ++values;
    } else if (c == ']' || c == '}') {
      depth -= depth > 0 ? 1 : 0;
    } else if (c == ',' && ++values > kMaxValues) {
      return "the message holds more than " + std::to_string(kMaxValues) + " values";
    }
  }
  return "";
}

}  // namespace compactor::lsp
