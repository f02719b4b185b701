// Little-endian encoding of the binary outputs, one field at a time.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace compactor {

inline void put_u8(std::string& out, uint8_t v) {
  out.push_back(static_cast<char>(v));
}

inline void put_u16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

inline void put_i16(std::string& out, int16_t v) {
  put_u16(out, static_cast<uint16_t>(v));
}

inline void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline void put_i32(std::string& out, int32_t v) {
  put_u32(out, static_cast<uint32_t>(v));
}

inline void put_f64(std::string& out, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
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
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace compactor
