// The hexadecimal field parsers of the S-record reader. The text they are
// given has been checked to hold only hexadecimal digits, in either case.
#pragma once

#include <array>
#include <cstdint>

namespace kestrune {

// A table rather than comparisons: the digits of image data come in no
// order a branch predictor could learn.
inline constexpr std::array<int8_t, 256> HexDigitTable = [] {
  std::array<int8_t, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
               : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
               : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                      : int8_t{-1};
  return table;
}();

// The value of one digit character, or -1 for any other character.
inline int HexDigitValue(char c) { return HexDigitTable[static_cast<uint8_t>(c)]; }

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
