// Where each field lands in one image, and what makes a scheme unfit for it.
#include "serial/SerialScheme.h"

#include <algorithm>
#include <cstdio>

namespace kestrune::serial {
namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

} // namespace

bool PlaceFields(const SerialScheme &scheme, uint64_t startAddress, uint64_t imageSize,
                 std::vector<PlacedField> &placed, std::string &error) {
  placed.clear();
  const uint64_t imageEnd = startAddress + imageSize; // one past the last byte
  const std::string range = Hex(startAddress) + ".." + Hex(imageEnd);
  for (const SchemeField &field : scheme.Fields) {
    const std::string where = "Serial field " + field.Name;
    uint64_t offset = 0;
    if (field.Address) {
      if (*field.Address < startAddress || *field.Address >= imageEnd) {
        error = where + " at " + Hex(*field.Address) + " lies outside the image (" + range + ")";
        return false;
      }
      offset = *field.Address - startAddress;
    } else {
      if (*field.Offset >= imageSize) {
        error = where + " at offset " + Hex(*field.Offset) + " lies outside the image (" +
                Hex(imageSize) + " bytes)";
        return false;
      }
      offset = *field.Offset;
    }
    if (offset + field.Length > imageSize) {
      error = "Image too short for serial field " + field.Name + ": it ends at " +
              Hex(startAddress + offset + field.Length) + ", the image at " + Hex(imageEnd);
      return false;
    }
    for (const PlacedField &other : placed) {
      if (offset < other.Offset + other.Field->Length && other.Offset < offset + field.Length) {
        error = where + " (" + Hex(startAddress + offset) + ", " + std::to_string(field.Length) +
                " bytes) overlaps serial field " + other.Field->Name + " (" +
                Hex(startAddress + other.Offset) + ", " + std::to_string(other.Field->Length) +
                " bytes)";
        return false;
      }
    }
    placed.push_back({&field, offset});
  }
  return true;
}

} // namespace kestrune::serial
