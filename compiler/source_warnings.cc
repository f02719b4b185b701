// The warnings of a read: what the readers pass over, and what is likely a mistake.
#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "compiler/reader.h"

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
  if (cx.s.warnings->size() < cx.s.max_kept_warnings) {
    cx.s.warnings->push_back(std::move(w));
  } else {
    ++cx.s.warnings_not_kept;
  }
}

// Turns the candidates of the lines before `bound` into warnings, in source order: one per line,
// the lowest rank first. Every line before `bound` has been read to its end, and no candidate of
// it comes later, so what its warning says (a record on the line, a quiet line) is final.
void settle_warnings(ReaderContext& cx, LineKey bound) {
  auto key = [&cx](const WarningCandidate& w) {
    return std::make_tuple(line_key(cx, w.pos), w.rank);
  };
  std::stable_sort(
      cx.warnings.begin(), cx.warnings.end(),
      [&key](const WarningCandidate& a, const WarningCandidate& b) { return key(a) < key(b); });
  auto settled_end =
      std::partition_point(cx.warnings.begin(), cx.warnings.end(),
                           [&](const WarningCandidate& w) { return line_key(cx, w.pos) < bound; });
  std::set<std::pair<std::string, int32_t>> warned;
  for (auto it = cx.warnings.begin(); it != settled_end; ++it) {
    const WarningCandidate& w = *it;
    if (!warned.insert({w.pos.file, w.pos.line}).second) continue;
    if (w.unused_field && cx.quiet_lines.contains(w.pos.file, w.pos.line)) continue;
    std::string text = w.text;
    if (w.unused_field) {
      std::string shown = text.substr(0, text.find_last_not_of(' ') + 1);
      if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
      bool has_record = cx.record_lines.contains(w.pos.file, w.pos.line);
      const char* suggestion = closest_keyword(text, w.pos.file == cx.s.line.name);
      text = "\"" + shown + "\" is not a record keyword; " +
             (suggestion != nullptr ? std::string("did you mean \"") + suggestion + "\"?"
              : has_record          ? "the field is ignored"
                                    : "the line is ignored");
    }
    keep_warning(cx, Warning{w.pos, text, w.name});
  }
  cx.warnings.erase(cx.warnings.begin(), settled_end);
}

void add_candidate(ReaderContext& cx, WarningCandidate w) {
  if (!cx.warnings.empty()) {
    WarningCandidate& last = cx.warnings.back();
    if (last.pos.line == w.pos.line && last.pos.file == w.pos.file) {
      if (w.rank < last.rank) last = std::move(w);
      return;
    }
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

// A record keyword matched at the current record.
void matched_record(ReaderContext& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.record_lines.insert(cx.record_pos.file, cx.record_pos.line);
}

// A line whose leftover fields are expected (a curve without a plan).
void quiet_line(ReaderContext& cx) {
  if (cx.s.warnings == nullptr) return;
  cx.quiet_lines.insert(cx.record_pos.file, cx.record_pos.line);
}

// A keyword field that no record used.
void unused_field(ReaderContext& cx, std::string_view field) {
  if (cx.s.warnings == nullptr) return;
  size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return;  // empty fields say nothing
  if (is_remark(field)) return;                 // hyphen fields are skipped on purpose
  if (field.find('[') != std::string_view::npos && field.find(']') != std::string_view::npos) {
    return;
  }
  add_candidate(cx, WarningCandidate{cx.record_pos, kRankUnused, std::string(field), true,
                                     "unknown-keyword"});
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
    warn(cx, kRankMisplaced, "lone-cr",
         "a line ends with CR alone; only CR LF or LF ends a line, so the text after it is read "
         "as part of this field");
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
