// How a field's value becomes the bytes written into the unit.
//  ascii: decimal digits, zero-padded on the left to the field's length
//  hex:   upper-case hex digits, zero-padded on the left
//  bcd:   two decimal digits a byte, high nibble first, zero-padded
//  le/be: the number in binary, least or most significant byte first
// A list line is text for ascii (digits alone are zero-padded like a
// number, other text is padded on the right with 0x00 bytes), hex digits
// for hex, decimal digits for bcd and hex bytes ("0A1B2C", "0a:1b:2c") for
// le and be. A value that does not fit the field's length is refused.
#pragma once

#include "serial/SerialValue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::serial {

enum class Encoding { Ascii, Hex, Bcd, Little, Big };

std::optional<Encoding> ParseEncoding(const std::string &name);
const char *EncodingName(Encoding encoding);

// The field's bytes, or false with the reason (without the field's name).
bool EncodeValue(const SerialValue &value, Encoding encoding, uint32_t length,
                 std::vector<uint8_t> &bytes, std::string &error);

// The value as records and front ends show it: the characters written for
// ascii and hex, the source's own text otherwise.
std::string FieldText(const SerialValue &value, Encoding encoding,
                      const std::vector<uint8_t> &bytes);

} // namespace kestrune::serial
