// Text as an editor sees it: lines, positions in them, edits, and file URIs. An editor ends a line
// at CR LF, at LF and at a lone CR, and counts the characters of a line in UTF-16 code units (or,
// when both sides agree, in bytes of UTF-8); the compile counts bytes. These functions translate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace compactor::lsp {

// How the characters of a line are counted.
enum class PositionEncoding : uint8_t { kUtf16, kUtf8 };

// A place in a document: a 0-based line and a 0-based character of it.
struct Position {
  int64_t line = 0;
  int64_t character = 0;
  bool operator==(const Position&) const = default;
};

struct Range {
  Position start;
  Position end;
  bool operator==(const Range&) const = default;
};

// Where each line of a text starts, as an editor breaks lines.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  Position position_of(int64_t offset, PositionEncoding encoding) const;
  // The byte offset of a position; a line or character past the end is clamped to it.
  int64_t offset_of(const Position& p, PositionEncoding encoding) const;
  size_t line_count() const { return starts_.size(); }
  // The bytes of line `line` without its line end.
  std::string_view line_text(size_t line) const;

 private:
  std::string_view text_;
  std::vector<int64_t> starts_;  // offset of each line's first byte
  std::vector<int64_t> ends_;    // offset of each line's line end (or of the end of the text)
};

// One change of a document: the whole text (no range), or a range replaced.
struct TextChange {
  std::optional<Range> range;
  std::string text;
};

// Applies the change to `text`.
void apply_change(std::string& text, const TextChange& change, PositionEncoding encoding);

// An edit as the editor applies it.
struct TextEdit {
  Range range;
  std::string new_text;
};

// The edits that turn every lone CR of the text into CR LF (none when it has no lone CR).
std::vector<TextEdit> lone_cr_edits(std::string_view text, PositionEncoding encoding);

// The path of a "file:" URI, its %XX escapes decoded ("file:///c%3A/x" is "c:/x"); nullopt for
// any other URI, and for one whose path holds a NUL byte.
std::optional<std::string> path_of_uri(std::string_view uri);
// A "file:" URI for an absolute path, with the bytes that a URI may not hold escaped.
std::string uri_of_path(std::string_view path);

// The directory part and the name part of a path ("" and the path when it has no separator).
std::string directory_of(std::string_view path);
std::string file_name_of(std::string_view path);

}  // namespace compactor::lsp
