// One line of S-record text taken apart as a data record (S1, S2, S3).
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrune {

struct MotRecord {
  uint32_t Address = 0;
  uint32_t DataLength = 0;    // data bytes, count less the overhead
  const char *Data = nullptr; // the first data character within the line
};

// Takes one read of the reader (at most 79 characters, ending in a line feed
// unless the line was longer or the input ended) as a data record. False for
// every line that is no S1, S2 or S3 record, and for a record that does not
// fit: a count below its overhead (address bytes and checksum), data that
// runs past the characters of the line, or data that runs past the top of
// the 32-bit address space. The line's trailing line feed and carriage
// return are not characters of the record; the checksum is not looked at.
bool ParseMotRecord(std::string_view line, MotRecord &record);

} // namespace kestrune
