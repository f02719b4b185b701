#include "tools/lsp_text.h"

#include <algorithm>
#include <cctype>

#include "tools/source_fixes.h"

namespace compactor::lsp {

namespace {

// The length in bytes of the UTF-8 sequence that starts at text[i], or 1 for a byte
// that starts no valid sequence (a Latin-1 byte counts as one character).
size_t sequence_length(std::string_view text, size_t i) {
  auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t n = 1;
  if ((lead >> 5) == 0x6) {
    n = 2;
  } else if ((lead >> 4) == 0xE) {
    n = 3;
  } else if ((lead >> 3) == 0x1E) {
    n = 4;
  }
  if (i + n > text.size()) return 1;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 1;
  }
  return n;
}

// Code units of one character of `bytes` bytes.
int64_t units_of(size_t bytes, PositionEncoding encoding) {
  if (encoding == PositionEncoding::kUtf8) return static_cast<int64_t>(bytes);
  return bytes == 4 ? 2 : 1;
}

bool is_unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    ends_.push_back(static_cast<int64_t>(i));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    starts_.push_back(static_cast<int64_t>(i + 1));
  }
  ends_.push_back(static_cast<int64_t>(text.size()));
}

std::string_view LineIndex::line_text(size_t line) const {
  if (line >= starts_.size()) return {};
  return text_.substr(static_cast<size_t>(starts_[line]),
                      static_cast<size_t>(ends_[line] - starts_[line]));
}

Position LineIndex::position_of(int64_t offset, PositionEncoding encoding) const {
  offset = std::clamp<int64_t>(offset, 0, static_cast<int64_t>(text_.size()));
  size_t line = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                    starts_.begin() - 1);
  int64_t stop = std::min(offset, ends_[line]);
  Position p{static_cast<int64_t>(line), 0};
  for (size_t i = static_cast<size_t>(starts_[line]); static_cast<int64_t>(i) < stop;) {
    size_t n = sequence_length(text_, i);
    p.character += units_of(n, encoding);
    i += n;
  }
  return p;
}

int64_t LineIndex::offset_of(const Position& p, PositionEncoding encoding) const {
  if (p.line < 0) return 0;
  if (static_cast<size_t>(p.line) >= starts_.size()) return static_cast<int64_t>(text_.size());
  size_t line = static_cast<size_t>(p.line);
  int64_t units = 0;
  size_t i = static_cast<size_t>(starts_[line]);
  while (static_cast<int64_t>(i) < ends_[line] && units < p.character) {
    size_t n = sequence_length(text_, i);
    units += units_of(n, encoding);
    i += n;
  }
  return static_cast<int64_t>(i);
}

void apply_change(std::string& text, const TextChange& change, PositionEncoding encoding) {
  if (!change.range) {
    text = change.text;
    return;
  }
  LineIndex index(text);
  int64_t start = index.offset_of(change.range->start, encoding);
  int64_t end = std::max(start, index.offset_of(change.range->end, encoding));
  text.replace(static_cast<size_t>(start), static_cast<size_t>(end - start), change.text);
}

std::vector<TextEdit> lone_cr_edits(std::string_view text, PositionEncoding encoding) {
  std::vector<TextEdit> edits;
  std::optional<LineIndex> index;
  for (const SourceFix& fix : line_end_fixes(text)) {
    if (!index) index.emplace(text);
    edits.push_back(TextEdit{
        {index->position_of(fix.start, encoding), index->position_of(fix.end, encoding)},
        fix.new_text});
  }
  return edits;
}

std::optional<std::string> path_of_uri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  std::string_view rest = uri.substr(kScheme.size());
  size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  rest = rest.substr(slash);  // an authority ("localhost") is passed over
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hex_value(rest[i + 1]) >= 0 &&
        hex_value(rest[i + 2]) >= 0) {
      path.push_back(static_cast<char>(hex_value(rest[i + 1]) * 16 + hex_value(rest[i + 2])));
      i += 2;
    } else {
      path.push_back(rest[i]);
    }
  }
  // A NUL ends a path where the system reads it: "/a/x%00/etc/passwd" would open "/a/x".
  if (path.find('\0') != std::string::npos) return std::nullopt;
  // "/c:/dir" is the Windows path "c:/dir".
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':' &&
      std::isalpha(static_cast<unsigned char>(path[1]))) {
    path.erase(0, 1);
  }
  return path;
}

std::string uri_of_path(std::string_view path) {
  std::string uri = "file://";
  if (path.empty() || (path[0] != '/')) uri.push_back('/');
  constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : path) {
    unsigned char c = static_cast<unsigned char>(ch == '\\' ? '/' : ch);
    if (is_unreserved(c)) {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 0xF]);
    }
  }
  return uri;
}

std::string directory_of(std::string_view path) {
  size_t at = path.find_last_of("/\\");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at));
}

std::string file_name_of(std::string_view path) {
  size_t at = path.find_last_of("/\\");
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

}  // namespace compactor::lsp
