// What a source's bytes are encoded in, as far as the compile cares: 8-bit text (ASCII, Latin-1,
// UTF-8 with or without its byte order mark), or something the field lexer cannot read as text.
#pragma once

#include <cstdint>
#include <string_view>

namespace compactor {

enum class SourceEncoding : uint8_t {
  kEightBit,  // one byte per character, no NUL
  kUtf16Le,
  kUtf16Be,
  kUtf32Le,
  kUtf32Be,
  kNotText,  // NUL bytes in no pattern of a wider encoding
};

struct EncodingFound {
  SourceEncoding encoding = SourceEncoding::kEightBit;
  bool byte_order_mark = false;  // the file starts with the encoding's byte order mark
  int64_t first_nul = -1;        // where the first NUL byte stands (-1: none)
};

// The encoding of a whole source: its byte order mark when it has one (UTF-32 before UTF-16,
// whose mark starts UTF-32 LE's), else the places of its NUL bytes in the first 64 KiB: a text of
// 16 or 32 bits per character holds a NUL in the high bytes of every ASCII character.
EncodingFound detect_encoding(std::string_view bytes);

// "UTF-16 (little-endian) with a byte order mark", "not text".
const char* encoding_name(SourceEncoding encoding);

}  // namespace compactor
