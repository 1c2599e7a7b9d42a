// Reading and writing 16- and 32-bit numbers in the two byte orders the
// handset's files and line use: little-endian in the .bif header, big-endian
// on the line (frame lengths, sums, addresses, failure records).
#pragma once

#include <cstdint>

namespace kestrune {

inline uint32_t ReadLittleEndian32(const uint8_t *at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

inline uint32_t ReadBigEndian32(const uint8_t *at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

inline void WriteLittleEndian32(uint8_t *at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
  at[2] = uint8_t(value >> 16);
  at[3] = uint8_t(value >> 24);
}

inline void WriteBigEndian16(uint8_t *at, uint32_t value) {
  at[0] = uint8_t(value >> 8);
  at[1] = uint8_t(value);
}

inline void WriteBigEndian32(uint8_t *at, uint32_t value) {
  at[0] = uint8_t(value >> 24);
  at[1] = uint8_t(value >> 16);
  at[2] = uint8_t(value >> 8);
  at[3] = uint8_t(value);
}

} // namespace kestrune
