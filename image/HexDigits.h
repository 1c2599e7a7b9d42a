// The hexadecimal field parsers of the S-record reader. The text they are
// given has been checked to hold only hexadecimal digits, in either case.
#pragma once

#include <cstdint>

namespace kestrune {

// The value of one digit character, or -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// The byte that the two digits at text give, first digit high.
inline uint8_t HexByteValue(const char *text) {
  return static_cast<uint8_t>((HexDigitValue(text[0]) << 4) | HexDigitValue(text[1]));
}

// Addresses of 4, 6 or 8 digits, most significant byte first.
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
