// The warnings of a read: what the readers pass over, and what is likely a mistake.
#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "compiler/reader.h"
#include "syntax/encoding.h"

namespace compactor {

void LineSet::insert(const std::string& file, int32_t line) {
  std::vector<int32_t>& lines = by_file_[file];
  if (lines.empty() || lines.back() < line) {
    lines.push_back(line);
  } else if (auto at = std::lower_bound(lines.begin(), lines.end(), line); *at != line) {
    lines.insert(at, line);
  }
}

bool LineSet::contains(const std::string& file, int32_t line) const {
  auto it = by_file_.find(file);
  return it != by_file_.end() && std::binary_search(it->second.begin(), it->second.end(), line);
}

// Only one warning is kept per source line, the lowest rank first (settle_warnings). A candidate
// for the same line as the one before replaces it or is dropped at once, so that a line of a
// million stray fields holds one candidate, not a million.
namespace {

// A source line in the order warnings are given: the line source first, then by line number.
using LineKey = std::pair<int, int32_t>;

LineKey line_key(const ReaderContext& cx, const SourcePos& pos) {
  return {pos.file == cx.s.line.name ? 0 : 1, pos.line};
}

// After every line: the key of no line is as large.
constexpr LineKey kAfterEveryLine = {2, 0};

void keep_warning(ReaderContext& cx, Warning w) {
  size_t& kept = w.error ? cx.errors_kept : cx.warnings_kept;
  if (kept < cx.s.max_kept_warnings) {
    ++kept;
    cx.s.warnings->push_back(std::move(w));
  } else {
    ++(w.error ? cx.s.errors_not_kept : cx.s.warnings_not_kept);
  }
}

// What an unused field is, said once its whole line is read: not a keyword on a line that holds
// no record (so the line is not read), or a field beside a record.
std::string unused_field_text(const ReaderContext& cx, const WarningCandidate& w) {
  std::string shown = w.text.substr(0, w.text.find_last_not_of(' ') + 1);
  if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
  bool has_record = cx.record_lines.contains(w.pos.file, w.pos.line);
  const char* suggestion = closest_keyword(w.text, w.pos.file == cx.s.line.name);
  std::string text = "\"" + shown + "\" is not a record keyword, and " +
                     (has_record ? "the field is not read" : "the line is not read");
  if (suggestion != nullptr) text += std::string("; did you mean \"") + suggestion + "\"?";
  if (looks_like_comment(w.text)) text += "; a remark is written with a hyphen (\"- ...\")";
  return text;
}

// Turns the candidates of the lines before `bound` into warnings, in source order: one per line,
// the lowest rank first. Every line before `bound` has been read to its end, and no candidate of
// it comes later, so what its warning says (a record on the line, a quiet line) is final.
void settle_warnings(ReaderContext& cx, LineKey bound) {
  auto key = [&cx](const WarningCandidate& w) {
    return std::make_tuple(line_key(cx, w.pos), !w.error, w.rank);
  };
  std::stable_sort(
      cx.warnings.begin(), cx.warnings.end(),
      [&key](const WarningCandidate& a, const WarningCandidate& b) { return key(a) < key(b); });
  auto settled_end =
      std::partition_point(cx.warnings.begin(), cx.warnings.end(),
                           [&](const WarningCandidate& w) { return line_key(cx, w.pos) < bound; });
  std::set<std::tuple<std::string, int32_t, bool>> warned;
  for (auto it = cx.warnings.begin(); it != settled_end; ++it) {
    const WarningCandidate& w = *it;
    if (!warned.insert({w.pos.file, w.pos.line, w.error}).second) continue;
    if (w.unused_field && cx.quiet_lines.contains(w.pos.file, w.pos.line)) continue;
    keep_warning(
        cx, Warning{w.pos, w.unused_field ? unused_field_text(cx, w) : w.text, w.name, w.error});
  }
  cx.warnings.erase(cx.warnings.begin(), settled_end);
}

bool not_text(const ReaderContext& cx, const std::string& file) {
  return std::find(cx.not_text_files.begin(), cx.not_text_files.end(), file) !=
         cx.not_text_files.end();
}

void add_candidate(ReaderContext& cx, WarningCandidate w) {
  if (not_text(cx, w.pos.file)) return;
  // A line keeps one warning and one error: the candidate before of the same kind on the same
  // line, when there is one, keeps the lower rank.
  for (auto it = cx.warnings.rbegin(); it != cx.warnings.rend() && it - cx.warnings.rbegin() < 2;
       ++it) {
    if (it->pos.line != w.pos.line || it->pos.file != w.pos.file) break;
    if (it->error != w.error) continue;
    if (w.rank < it->rank) *it = std::move(w);
    return;
  }
  if (cx.warnings.size() >= cx.settle_warnings_at) {
    // The lines before `w`'s that hold candidates are read to their end: `w` stands where the
    // reader is (record_pos), or it is a warning found out of reading order (a lone CR or LF,
    // found before its source is read; a missing "[generale]", found after), and then no
    // candidate stands between the reader and it.
    settle_warnings(cx, line_key(cx, w.pos));
    cx.settle_warnings_at = std::max(kCandidatesBeforeSettling, 2 * cx.warnings.size());
  }
  cx.warnings.push_back(std::move(w));
}

}  // namespace

void warn(ReaderContext& cx, int rank, const char* name, std::string text) {
  if (cx.s.warnings == nullptr) return;
  add_candidate(cx, WarningCandidate{cx.record_pos, rank, std::move(text), false, name});
}

void warn(ReaderContext& cx, int rank, std::string text) {
  const char* name = rank == kRankMisplaced ? "misplaced-record"
                     : rank == kRankOffGrid ? "off-grid"
                                            : "unknown-keyword";
  warn(cx, rank, name, std::move(text));
}

void source_error(ReaderContext& cx, const SourcePos& pos, const char* name, std::string text) {
  if (cx.s.warnings == nullptr) return;
  WarningCandidate w{pos, 0, std::move(text), false, name};
  w.error = true;
  add_candidate(cx, std::move(w));
}

void source_error(ReaderContext& cx, const char* name, std::string text) {
  source_error(cx, cx.record_pos, name, std::move(text));
}

// A record keyword matched at the current record.
void matched_record(ReaderContext& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.record_lines.insert(cx.record_pos.file, cx.record_pos.line);
  cx.last_record_kind = cx.kind;
  cx.last_record_pos = cx.record_pos;
}

// A line whose leftover fields are expected (a curve without a plan).
void quiet_line(ReaderContext& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.quiet_lines.insert(cx.record_pos.file, cx.record_pos.line);
}

namespace {

// The number written just before the comma in front of `start` ("12" of "12,5"), or empty.
std::string_view number_before(std::string_view bytes, int64_t start) {
  if (start < 2 || bytes[static_cast<size_t>(start - 1)] != ',') return {};
  size_t end = static_cast<size_t>(start - 1);
  size_t first = end;
  while (first > 0 && bytes[first - 1] >= '0' && bytes[first - 1] <= '9') --first;
  return bytes.substr(first, end - first);
}

bool all_digits(std::string_view field) {
  return !field.empty() && field.find_first_not_of("0123456789") == std::string_view::npos;
}

// A field after the last value of the record on its line: what the record reads, and, for
// digits right after a number and a comma, how that comma split the number.
std::string stray_value_text(const ReaderContext& cx, std::string_view field) {
  const RecordKind& kind = *cx.last_record_kind;
  std::string shown(field.substr(0, field.find_last_not_of(" \t") + 1));
  if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
  std::string text = "\"" + shown + "\" is not read: the " + kind.keyword +
                     " record ends before it (" + std::to_string(kind.fields.size()) + " value" +
                     (kind.fields.size() == 1 ? "" : "s") + ":";
  const char* separator = " ";
  for (const FieldDescription& f : kind.fields) {
    text.append(separator).append(f.name);
    separator = ", ";
  }
  text += ")";
  std::string_view number = number_before(cx.parser->bytes(), cx.record_pos.offset);
  if (all_digits(number) && all_digits(shown)) {
    text += "; a number holds no comma: \"" + std::string(number) + "," + shown + "\" is read as " +
            std::string(number) + " and a field " + shown;
  }
  return text;
}

}  // namespace

// A keyword field that no record used: an error, unless it is empty, a remark or a section
// header. After a record's values on the record's line it is a stray value.
void unused_field(ReaderContext& cx, std::string_view field) {
  if (cx.s.warnings == nullptr) return;
  size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return;  // empty fields say nothing
  if (is_remark(field)) return;                 // hyphen fields are skipped on purpose
  if (field.find('[') != std::string_view::npos && field.find(']') != std::string_view::npos) {
    return;
  }
  if (cx.last_record_kind != nullptr && cx.last_record_pos.line == cx.record_pos.line &&
      cx.last_record_pos.file == cx.record_pos.file) {
    source_error(cx, "stray-value", stray_value_text(cx, field));
    return;
  }
  WarningCandidate w{cx.record_pos, kRankUnused, std::string(field), true, "unknown-keyword"};
  w.error = true;
  add_candidate(cx, std::move(w));
}

// A lone CR is an ordinary character of a field. A source that holds one was most likely saved
// with old Mac line ends, and its fields are then not the ones the author sees: the first one is
// reported.
void warn_lone_line_end(ReaderContext& cx, std::string_view bytes, const std::string& file) {
  if (cx.s.warnings == nullptr) return;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool lone_cr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
    if (!lone_cr) continue;
    cx.record_pos = source_position(bytes, file, static_cast<int64_t>(i));
    size_t more = 0;
    for (size_t k = i + 1; k < bytes.size(); ++k) {
      if (bytes[k] == '\r' && (k + 1 == bytes.size() || bytes[k + 1] != '\n')) ++more;
    }
    source_error(cx, "lone-cr",
                 "a line ends with CR alone; only CR LF or LF ends a line, so the text after it "
                 "is read as part of this field" +
                     (more == 0 ? std::string()
                                : " (" + std::to_string(more) + " more lone CR in this file)"));
    return;
  }
}

bool check_encoding(ReaderContext& cx, std::string_view bytes, const std::string& file) {
  const EncodingFound found = detect_encoding(bytes);
  if (found.encoding == SourceEncoding::kEightBit) return true;
  std::string text;
  if (found.encoding == SourceEncoding::kNotText) {
    text = "the file is not text: it holds a NUL byte at offset " + std::to_string(found.first_nul);
  } else {
    text = std::string("the file is ") + encoding_name(found.encoding) +
           (found.byte_order_mark ? " with a byte order mark" : ", found by its NUL bytes");
  }
  text += "; a source is 8-bit text (ASCII, Latin-1 or UTF-8): save it as one";
  source_error(cx, SourcePos{file, 0, 0, -1}, "encoding", std::move(text));
  cx.not_text_files.push_back(file);
  return false;
}

namespace {

std::string hex_bytes(std::string_view bytes) {
  const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += hex[u >> 4];
    out += hex[u & 15];
  }
  return out;
}

// The length of a UTF-8 sequence of 2 to 4 bytes at `at`, or 0 when none starts there.
size_t multibyte_at(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto u = static_cast<unsigned char>(text[at + k]);
    if (u < 0x80 || u > 0xBF) return 0;
  }
  return length;
}

}  // namespace

void warn_text_characters(ReaderContext& cx, const char* noun, int64_t start,
                          std::string_view text) {
  if (cx.s.warnings == nullptr) return;
  for (size_t at = 0; at < text.size(); ++at) {
    const auto u = static_cast<unsigned char>(text[at]);
    const size_t length = multibyte_at(text, at);
    // A lone CR has an error of its own.
    if ((length == 0 && u >= 0x20 && u != 0x7F) || u == '\r') continue;
    std::string what;
    if (length > 0) {
      const std::string count = std::to_string(length);
      what.append("\"").append(text.substr(at, length)).append("\", a UTF-8 character of ");
      what.append(count).append(" bytes; the field holds one byte per character, and the ");
      what.append(count).append(" bytes ").append(hex_bytes(text.substr(at, length)));
      what.append(" are stored as they are");
    } else {
      what = std::string(u == '\t' ? "a tab" : "a control character") + ", stored as the byte " +
             hex_bytes(text.substr(at, 1));
    }
    const SourcePos pos =
        source_position(cx.parser->bytes(), *cx.file, start + static_cast<int64_t>(at));
    WarningCandidate w{pos, kRankMisplaced, std::string("the ") + noun + " holds " + what, false,
                       "text-character"};
    add_candidate(cx, std::move(w));
    return;
  }
}

void warn_off_grid(ReaderContext& cx, const char* what, int64_t position) {
  if (position % 50 == 0) return;
  warn(cx, kRankOffGrid,
       std::string(what) + " at " + std::to_string(position) +
           " m is not a multiple of 50 m; it is placed in the nearest 50 m cell");
}

void finish_warnings(ReaderContext& cx) {
  if (cx.s.warnings == nullptr) return;
  settle_warnings(cx, kAfterEveryLine);
}

}  // namespace compactor
