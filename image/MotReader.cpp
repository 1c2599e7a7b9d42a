#include "image/MotReader.h"

#include "image/HexDigits.h"
#include "image/MotRecord.h"

namespace kestrune {

// The image data follows the 8-byte header of the .bif.
static constexpr uint64_t ImageDataOffset = 8;

uint32_t ScanMotRange(MotInput &input, uint32_t &start) {
  start = 0xFFFFFFFFu;
  uint32_t highest = 0;
  uint32_t highestLength = 0;
  bool remembered = false;
  std::string_view line;
  while (input.NextLine(line)) {
    MotRecord record;
    if (!ParseMotRecord(line, record))
      continue;
    if (!remembered || record.Address > highest) {
      remembered = true;
      highest = record.Address;
      highestLength = record.DataLength;
    }
    if (record.Address < start)
      start = record.Address;
  }
  return remembered ? highest + highestLength : 0;
}

bool WriteMotImage(MotInput &input, ImageSink &image, uint32_t start) {
  if (!image.Seek(ImageDataOffset))
    return false;
  uint64_t current = 0;
  uint8_t bytes[40];
  std::string_view line;
  while (input.NextLine(line)) {
    MotRecord record;
    if (!ParseMotRecord(line, record))
      continue;
    // Every record lies at or above the start the scan found; one below it
    // can only come from a file that changed since, and would land far
    // outside the image. A record that fits its read holds at most 35 bytes.
    if (record.Address < start || record.DataLength > sizeof bytes)
      continue;
    uint64_t offset = record.Address - start;
    if (offset != current && !image.Seek(ImageDataOffset + offset))
      return false;
    for (uint32_t i = 0; i < record.DataLength; ++i)
      bytes[i] = HexByteValue(record.Data + 2 * i);
    if (!image.Write(bytes, record.DataLength))
      return false;
    current = offset + record.DataLength;
  }
  return image.Flush();
}

} // namespace kestrune
