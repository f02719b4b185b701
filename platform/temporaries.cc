#include "platform/temporaries.h"

#include <chrono>
#include <string_view>

namespace compactor {

namespace {

constexpr char kSuffixLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kSuffixLength = 6;
constexpr std::string_view kMark = ".tmp-";

bool is_suffix_letter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Whether a byte of UTF-8 continues a character rather than starting one.
bool continues_character(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The part of a file's name that its temporary name keeps before `suffix`: all of it, unless the
// name is legal and the suffix would make it too long; then its longest start, in whole
// characters, that leaves room for the suffix.
std::string temporary_stem(const std::string& name, const std::string& suffix) {
  const size_t whole = name_length(name);
  if (whole > kLongestName || whole + name_length(suffix) <= kLongestName) return name;
  const size_t room = kLongestName - name_length(suffix);
  size_t end = 0, used = 0;
  while (end < name.size()) {
    size_t next = end + 1;
    while (next < name.size() && continues_character(name[next])) ++next;
    const size_t units = name_length(name.substr(end, next - end));
    if (used + units > room) break;
    used += units;
    end = next;
  }
  return name.substr(0, end);
}

}  // namespace

std::string temporary_name(const std::string& path, int64_t pid, uint32_t attempt) {
  // Names differ from one run to the next, so that a file a dead run left rarely stands in the
  // way; O_EXCL (CREATE_NEW) makes a name that does stand in the way no harm.
  static const uint64_t start =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  static uint32_t made = 0;
  uint64_t mix = (start ^ (uint64_t{attempt} << 32) ^ made++) * 0x9E3779B97F4A7C15ull;
  std::string suffix = std::string(kMark) + std::to_string(pid) + "-";
  for (int i = 0; i < kSuffixLength; ++i) {
    suffix += kSuffixLetters[(mix >> 40) % 36];
    mix *= 0x9E3779B97F4A7C15ull;
    mix ^= mix >> 29;
  }
  size_t name_start = path.size();
  while (name_start > 0 && !is_path_separator(path[name_start - 1])) --name_start;
  return path.substr(0, name_start) + temporary_stem(path.substr(name_start), suffix) + suffix;
}

// Read from the end: six letters, a dash, the process id and ".tmp-"; what comes before them is
// the name, or the start of it that temporary_name keeps.
bool is_temporary_of(const std::string& entry, const std::string& name, int64_t& pid) {
  if (entry.size() < kSuffixLength + 1) return false;
  size_t at = entry.size() - kSuffixLength;
  for (size_t i = at; i < entry.size(); ++i) {
    if (!is_suffix_letter(entry[i])) return false;
  }
  if (entry[--at] != '-') return false;
  const size_t digits_end = at;
  while (at > 0 && is_digit(entry[at - 1])) --at;
  if (at == digits_end || digits_end - at > 18) return false;
  if (at < kMark.size() || entry.compare(at - kMark.size(), kMark.size(), kMark) != 0) {
    return false;
  }
  pid = 0;
  for (size_t i = at; i < digits_end; ++i) pid = pid * 10 + (entry[i] - '0');
  const size_t stem_end = at - kMark.size();
  return entry.compare(0, stem_end, temporary_stem(name, entry.substr(stem_end))) == 0;
}

std::string directory_of(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && !is_path_separator(path[end - 1])) --end;
  if (end == 0) return ".";
  return end == 1 ? path.substr(0, 1) : path.substr(0, end - 1);
}

}  // namespace compactor
