#include "serial/FieldEncoding.h"

#include <algorithm>
#include <cctype>

namespace kestrune::serial {
namespace {

bool AllOf(const std::string &text, int (*is)(int)) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [is](char c) { return is((unsigned char)c) != 0; });
}

bool PadLeft(std::string digits, char pad, uint32_t length, std::vector<uint8_t> &bytes,
             std::string &error) {
  if (digits.size() > length) {
    error = "\"" + digits + "\" needs " + std::to_string(digits.size()) + " characters, the field has " +
            std::to_string(length);
    return false;
  }
  digits.insert(0, length - digits.size(), pad);
  bytes.assign(digits.begin(), digits.end());
  return true;
}

std::string UpperHexDigits(uint64_t value) {
  static const char *const Digits = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), Digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return text;
}

bool PackBcd(const std::string &digits, uint32_t length, std::vector<uint8_t> &bytes,
             std::string &error) {
  if (!AllOf(digits, isdigit)) {
    error = "\"" + digits + "\" is not decimal digits, as bcd needs";
    return false;
  }
  if (digits.size() > 2 * uint64_t(length)) {
    error = "\"" + digits + "\" needs " + std::to_string((digits.size() + 1) / 2) +
            " bytes of bcd, the field has " + std::to_string(length);
    return false;
  }
  std::string padded = std::string(2 * length - digits.size(), '0') + digits;
  bytes.assign(length, 0);
  for (uint32_t i = 0; i < length; ++i)
    bytes[i] = uint8_t((padded[2 * i] - '0') << 4 | (padded[2 * i + 1] - '0'));
  return true;
}

bool Binary(uint64_t value, bool little, uint32_t length, std::vector<uint8_t> &bytes,
            std::string &error) {
  if (length < 8 && value >> (8 * length) != 0) {
    error = std::to_string(value) + " does not fit in " + std::to_string(length) + " bytes";
    return false;
  }
  bytes.assign(length, 0);
  for (uint32_t i = 0; i < length && i < 8; ++i) {
    uint8_t byte = uint8_t(value >> (8 * i));
    bytes[little ? i : length - 1 - i] = byte;
  }
  return true;
}

// Hex bytes of a list line, separators ':', '-' and ' ' allowed.
bool HexBytes(const std::string &line, std::vector<uint8_t> &out, std::string &error) {
  std::string digits;
  for (char c : line) {
    if (c == ':' || c == '-' || c == ' ')
      continue;
    if (!std::isxdigit((unsigned char)c)) {
      error = "\"" + line + "\" is not hex bytes";
      return false;
    }
    digits += c;
  }
  if (digits.empty() || digits.size() % 2 != 0) {
    error = "\"" + line + "\" is not whole hex bytes";
    return false;
  }
  out.clear();
  for (size_t i = 0; i < digits.size(); i += 2)
    out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return true;
}

bool EncodeLine(const std::string &line, Encoding encoding, uint32_t length,
                std::vector<uint8_t> &bytes, std::string &error) {
  switch (encoding) {
  case Encoding::Ascii:
    if (AllOf(line, isdigit))
      return PadLeft(line, '0', length, bytes, error);
    if (line.size() > length) {
      error = "\"" + line + "\" needs " + std::to_string(line.size()) +
              " characters, the field has " + std::to_string(length);
      return false;
    }
    bytes.assign(line.begin(), line.end());
    bytes.resize(length, 0);
    return true;
  case Encoding::Hex: {
    if (!AllOf(line, isxdigit)) {
      error = "\"" + line + "\" is not hex digits";
      return false;
    }
    std::string upper = line;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return char(std::toupper((unsigned char)c)); });
    return PadLeft(upper, '0', length, bytes, error);
  }
  case Encoding::Bcd:
    return PackBcd(line, length, bytes, error);
  case Encoding::Little:
  case Encoding::Big: {
    std::vector<uint8_t> given;
    if (!HexBytes(line, given, error))
      return false;
    if (given.size() > length) {
      error = "\"" + line + "\" is " + std::to_string(given.size()) + " bytes, the field has " +
              std::to_string(length);
      return false;
    }
    // Written as given, most significant byte first, for be; reversed for le.
    bytes.assign(length - given.size(), 0);
    bytes.insert(bytes.end(), given.begin(), given.end());
    if (encoding == Encoding::Little)
      std::reverse(bytes.begin(), bytes.end());
    return true;
  }
  }
  return false;
}

} // namespace

std::optional<Encoding> ParseEncoding(const std::string &name) {
  if (name == "ascii")
    return Encoding::Ascii;
  if (name == "hex")
    return Encoding::Hex;
  if (name == "bcd")
    return Encoding::Bcd;
  if (name == "le")
    return Encoding::Little;
  if (name == "be")
    return Encoding::Big;
  return std::nullopt;
}

const char *EncodingName(Encoding encoding) {
  switch (encoding) {
  case Encoding::Ascii:
    return "ascii";
  case Encoding::Hex:
    return "hex";
  case Encoding::Bcd:
    return "bcd";
  case Encoding::Little:
    return "le";
  case Encoding::Big:
    return "be";
  }
  return "?";
}

bool EncodeValue(const SerialValue &value, Encoding encoding, uint32_t length,
                 std::vector<uint8_t> &bytes, std::string &error) {
  if (!value.IsNumber)
    return EncodeLine(value.Text, encoding, length, bytes, error);
  switch (encoding) {
  case Encoding::Ascii:
    return PadLeft(std::to_string(value.Number), '0', length, bytes, error);
  case Encoding::Hex:
    return PadLeft(UpperHexDigits(value.Number), '0', length, bytes, error);
  case Encoding::Bcd:
    return PackBcd(std::to_string(value.Number), length, bytes, error);
  case Encoding::Little:
  case Encoding::Big:
    return Binary(value.Number, encoding == Encoding::Little, length, bytes, error);
  }
  return false;
}

std::string FieldText(const SerialValue &value, Encoding encoding,
                      const std::vector<uint8_t> &bytes) {
  if (encoding != Encoding::Ascii && encoding != Encoding::Hex)
    return value.Text;
  std::string text(bytes.begin(), bytes.end());
  // Text padded with 0x00 reads as the text itself.
  while (!text.empty() && text.back() == '\0')
    text.pop_back();
  return text;
}

} // namespace kestrune::serial
