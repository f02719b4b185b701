#include "platform/temporaries.h"

#include <chrono>

namespace compactor {

namespace {

constexpr char kSuffixLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kSuffixLength = 6;

bool is_suffix_letter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string temporary_name(const std::string& path, int64_t pid, uint32_t attempt) {
  // Names differ from one run to the next, so that a file a dead run left rarely stands in the
  // way; O_EXCL (CREATE_NEW) makes a name that does stand in the way no harm.
  static const uint64_t start =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  static uint32_t made = 0;
  uint64_t mix = (start ^ (uint64_t{attempt} << 32) ^ made++) * 0x9E3779B97F4A7C15ull;
  std::string suffix;
  for (int i = 0; i < kSuffixLength; ++i) {
    suffix += kSuffixLetters[(mix >> 40) % 36];
    mix *= 0x9E3779B97F4A7C15ull;
    mix ^= mix >> 29;
  }
  return path + ".tmp-" + std::to_string(pid) + "-" + suffix;
}

bool is_temporary_of(const std::string& entry, const std::string& name, int64_t& pid) {
  const std::string prefix = name + ".tmp-";
  if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = entry.substr(prefix.size());
  size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 18) return false;
  if (rest.size() != dash + 1 + kSuffixLength) return false;
  pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return false;
    pid = pid * 10 + (rest[i] - '0');
  }
  for (size_t i = dash + 1; i < rest.size(); ++i) {
    if (!is_suffix_letter(rest[i])) return false;
  }
  return true;
}

}  // namespace compactor
