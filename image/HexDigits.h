// The hexadecimal field parsers of the S-record reader. No character is
// rejected: each one gives the low four bits of its value after the letters
// are moved down next to the digits, so "a" reads like "A", "G" gives 0 and
// ":" gives 3. Malformed text yields whatever its characters give.
#pragma once

#include <cstdint>

namespace kestrune {

// The value of one digit character.
inline uint8_t HexDigitValue(char c) {
  auto b = static_cast<uint8_t>(c);
  uint8_t v = b > 0x39 ? static_cast<uint8_t>(b - 0x37) : b;
  return v & 0x0F;
}

// The byte that the two characters at text give, first digit high.
inline uint8_t HexByteValue(const char *text) {
  return static_cast<uint8_t>((HexDigitValue(text[0]) << 4) | HexDigitValue(text[1]));
}

// Addresses of 4, 6 or 8 characters, most significant byte first.
inline uint32_t HexAddress16(const char *text) {
  return (uint32_t{HexByteValue(text)} << 8) | HexByteValue(text + 2);
}
inline uint32_t HexAddress24(const char *text) {
  return (HexAddress16(text) << 8) | HexByteValue(text + 4);
}
inline uint32_t HexAddress32(const char *text) {
  return (HexAddress24(text) << 8) | HexByteValue(text + 6);
}

} // namespace kestrune
