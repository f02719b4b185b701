#include "syntax/encoding.h"

#include <algorithm>
#include <array>

namespace compactor {

namespace {

bool starts_with(std::string_view bytes, std::string_view mark) {
  return bytes.substr(0, mark.size()) == mark;
}

// The encoding a byte order mark at the start names, or kEightBit for none.
SourceEncoding from_mark(std::string_view bytes) {
  using namespace std::string_view_literals;
  if (starts_with(bytes, "\xFF\xFE\x00\x00"sv)) return SourceEncoding::kUtf32Le;
  if (starts_with(bytes, "\x00\x00\xFE\xFF"sv)) return SourceEncoding::kUtf32Be;
  if (starts_with(bytes, "\xFF\xFE"sv)) return SourceEncoding::kUtf16Le;
  if (starts_with(bytes, "\xFE\xFF"sv)) return SourceEncoding::kUtf16Be;
  return SourceEncoding::kEightBit;
}

// From the NUL bytes at each place modulo 4 of the first bytes: in UTF-16 LE the odd places hold
// them (the high byte of each ASCII character), in UTF-32 LE the places 1 to 3, and so on.
SourceEncoding from_nuls(std::string_view bytes) {
  const size_t n = std::min<size_t>(bytes.size(), 65536) / 4 * 4;
  if (n == 0) return SourceEncoding::kNotText;
  std::array<size_t, 4> nuls{};
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] == '\0') ++nuls[i % 4];
  }
  const size_t quarter = n / 4;
  // Most of a place's bytes NUL, or hardly any: a text of ASCII characters in a wider encoding
  // is not all ASCII, so "most" leaves room for other letters.
  auto most = [quarter](size_t c) { return c * 10 >= quarter * 9; };
  auto few = [quarter](size_t c) { return c * 10 <= quarter; };
  if (few(nuls[0]) && most(nuls[1]) && most(nuls[2]) && most(nuls[3])) {
    return SourceEncoding::kUtf32Le;
  }
  if (most(nuls[0]) && most(nuls[1]) && most(nuls[2]) && few(nuls[3])) {
    return SourceEncoding::kUtf32Be;
  }
  if (few(nuls[0]) && few(nuls[2]) && most(nuls[1]) && most(nuls[3])) {
    return SourceEncoding::kUtf16Le;
  }
  if (most(nuls[0]) && most(nuls[2]) && few(nuls[1]) && few(nuls[3])) {
    return SourceEncoding::kUtf16Be;
  }
  return SourceEncoding::kNotText;
}

}  // namespace

EncodingFound detect_encoding(std::string_view bytes) {
  EncodingFound found;
  size_t nul = bytes.find('\0');
  found.first_nul = nul == std::string_view::npos ? -1 : static_cast<int64_t>(nul);
  found.encoding = from_mark(bytes);
  if (found.encoding != SourceEncoding::kEightBit) {
    found.byte_order_mark = true;
  } else if (found.first_nul >= 0) {
    found.encoding = from_nuls(bytes);
  }
  return found;
}

const char* encoding_name(SourceEncoding encoding) {
  switch (encoding) {
    case SourceEncoding::kEightBit:
      return "8-bit text";
    case SourceEncoding::kUtf16Le:
      return "UTF-16 (little-endian)";
    case SourceEncoding::kUtf16Be:
      return "UTF-16 (big-endian)";
    case SourceEncoding::kUtf32Le:
      return "UTF-32 (little-endian)";
    case SourceEncoding::kUtf32Be:
      return "UTF-32 (big-endian)";
    case SourceEncoding::kNotText:
      break;
  }
  return "not text";
}

}  // namespace compactor
