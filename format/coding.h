// Little-endian encoding of the binary outputs, one field at a time. The put functions write at p
// and return the end of what they wrote; the get functions read at p.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace compactor {

inline char* put_u8(char* p, uint8_t v) {
  p[0] = static_cast<char>(v);
  return p + 1;
}

inline char* put_u16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
  return p + 2;
}

inline char* put_i16(char* p, int16_t v) {
  return put_u16(p, static_cast<uint16_t>(v));
}

inline char* put_u32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return p + 4;
}

inline char* put_i32(char* p, int32_t v) {
  return put_u32(p, static_cast<uint32_t>(v));
}

inline char* put_f64(char* p, double v) {
  const auto bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return p + 8;
}

inline uint16_t get_u16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t get_i16(const unsigned char* p) {
  return static_cast<int16_t>(get_u16(p));
}
inline uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t get_i32(const unsigned char* p) {
  return static_cast<int32_t>(get_u32(p));
}
inline double get_f64(const unsigned char* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

// A field of a record or a cell, by the type of the model's member: the number little-endian,
// a text as its 16-bit length followed by its bytes. Texts are limited to 65535 bytes when they
// are read, so the length always fits.
inline char* put_field(char* p, uint8_t v) {
  return put_u8(p, v);
}
inline char* put_field(char* p, int16_t v) {
  return put_i16(p, v);
}
inline char* put_field(char* p, int32_t v) {
  return put_i32(p, v);
}
inline char* put_field(char* p, const std::string& text) {
  p = put_u16(p, static_cast<uint16_t>(text.size()));
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// The same fields read back from p, which then moves past the field. The caller has made sure
// that the bytes are there.
inline void get_field(const unsigned char*& p, uint8_t& v) {
  v = p[0];
  p += 1;
}
inline void get_field(const unsigned char*& p, int16_t& v) {
  v = get_i16(p);
  p += 2;
}
inline void get_field(const unsigned char*& p, int32_t& v) {
  v = get_i32(p);
  p += 4;
}
inline void get_field(const unsigned char*& p, std::string& text) {
  const size_t n = get_u16(p);
  text.assign(reinterpret_cast<const char*>(p + 2), n);
  p += 2 + n;
}

}  // namespace compactor
