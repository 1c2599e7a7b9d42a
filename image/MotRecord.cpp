#include "image/MotRecord.h"

#include "image/HexDigits.h"
#include "image/MotInput.h"

#include <cstdio>

namespace kestrune {
namespace {

std::string HexByteText(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// A character for the operator: itself when printable, else its code.
std::string CharacterText(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b > 0x20 && b < 0x7F)
    return std::string("'") + c + "'";
  return "character " + HexByteText(b);
}

// Address bytes of each record type that is checked; 0 for the others.
size_t AddressBytes(char type) {
  switch (type) {
  case '1':
  case '9':
    return 2;
  case '2':
  case '8':
    return 3;
  case '3':
  case '7':
    return 4;
  default:
    return 0;
  }
}

MotLineKind Bad(std::string &problem, std::string text) {
  problem = std::move(text);
  return MotLineKind::Bad;
}

} // namespace

MotLineKind ParseMotLine(std::string_view line, bool lineEnded, bool lineCut, MotRecord &record,
                         std::string &problem) {
  if (line.size() < 2 || line[0] != 'S')
    return MotLineKind::Other;
  const size_t addressBytes = AddressBytes(line[1]);
  if (addressBytes == 0)
    return MotLineKind::Other;
  const bool isData = line[1] <= '3';
  if (lineCut)
    return Bad(problem, "the line is longer than " + std::to_string(MotInput::MaxLine) +
                            " characters");
  // Blanks after the checksum are no part of the record.
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);

  for (size_t i = 2; i < line.size(); ++i)
    if (HexDigitValue(line[i]) < 0)
      return Bad(problem, CharacterText(line[i]) + " in column " + std::to_string(i + 1) +
                              " is not a hexadecimal digit");
  const char *cutShort = "the record is cut short by the end of the file";
  if (line.size() < 4)
    return Bad(problem, lineEnded ? "the record has no count" : cutShort);
  const unsigned count = HexByteValue(line.data() + 2);
  const size_t digits = line.size() - 4;
  if (digits != 2 * size_t{count}) {
    std::string detail = "count " + HexByteText(count) + " needs " + std::to_string(2 * count) +
                         " digits after it, the record has " + std::to_string(digits);
    if (!lineEnded && digits < 2 * size_t{count})
      return Bad(problem, std::string(cutShort) + " (" + detail + ")");
    return Bad(problem, detail);
  }
  if (count < addressBytes + 1)
    return Bad(problem, "count " + HexByteText(count) + " is too small for an S" + line[1] +
                            " record");

  unsigned sum = 0;
  for (size_t i = 2; i + 2 < line.size(); i += 2)
    sum += HexByteValue(line.data() + i);
  const unsigned expected = ~sum & 0xFFu;
  const unsigned checksum = HexByteValue(line.data() + line.size() - 2);
  if (checksum != expected)
    return Bad(problem, "checksum " + HexByteText(checksum) + " is wrong, the record's bytes give " +
                            HexByteText(expected));
  if (!isData)
    return MotLineKind::Termination;

  const char *address = line.data() + 4;
  record.Address = addressBytes == 2   ? HexAddress16(address)
                   : addressBytes == 3 ? HexAddress24(address)
                                       : HexAddress32(address);
  record.DataLength = static_cast<uint32_t>(count - addressBytes - 1);
  record.Data = address + 2 * addressBytes;
  return MotLineKind::Data;
}

} // namespace kestrune
