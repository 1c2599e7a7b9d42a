// Numbers and bytes as hexadecimal text, for the operator and for records:
// upper-case numbers padded to a width, lower-case byte strings (digests,
// identification bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrune {

// value in upper-case hex, at least digits digits (1 to 8).
inline std::string UpperHex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// Bytes as lower-case hex, two digits each.
inline std::string LowerHexBytes(const uint8_t *bytes, size_t length) {
  static const char Digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    text += Digits[bytes[i] >> 4];
    text += Digits[bytes[i] & 15];
  }
  return text;
}

} // namespace kestrune
