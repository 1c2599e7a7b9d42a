#include "image/MotRecord.h"

#include "image/HexDigits.h"

namespace kestrune {

bool ParseMotRecord(std::string_view line, MotRecord &record) {
  if (line.size() < 2 || line[0] != 'S')
    return false;
  if (line.back() == '\n')
    line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);

  // Address digits and overhead bytes (address bytes and checksum) by type.
  size_t addressDigits = 0;
  switch (line[1]) {
  case '1':
    addressDigits = 4;
    break;
  case '2':
    addressDigits = 6;
    break;
  case '3':
    addressDigits = 8;
    break;
  default:
    return false;
  }
  const size_t dataPosition = 4 + addressDigits;
  if (line.size() < dataPosition)
    return false;
  const uint32_t overhead = static_cast<uint32_t>(addressDigits / 2 + 1);
  const uint32_t count = HexByteValue(line.data() + 2);
  if (count < overhead)
    return false;
  const uint32_t length = count - overhead;
  if (dataPosition + 2 * size_t{length} > line.size())
    return false;

  const char *address = line.data() + 4;
  record.Address = addressDigits == 4   ? HexAddress16(address)
                   : addressDigits == 6 ? HexAddress24(address)
                                        : HexAddress32(address);
  if (uint64_t{record.Address} + length > 0xFFFFFFFFu)
    return false;
  record.DataLength = length;
  record.Data = line.data() + dataPosition;
  return true;
}

} // namespace kestrune
