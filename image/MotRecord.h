// One line of S-record text taken apart and checked. Data records (S1, S2,
// S3) and termination records (S7, S8, S9) must be whole: hexadecimal
// digits only (either case), as many as the count says, and the checksum
// right. Every other line, the header (S0) and count (S5, S6) records
// included, is left alone, as is a line that does not begin with an
// upper-case "S".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

enum class MotLineKind {
  Other,       // not looked at
  Data,        // S1, S2 or S3, well-formed
  Termination, // S7, S8 or S9, well-formed
  Bad,         // a data or termination record that is not well-formed
};

struct MotRecord {
  uint32_t Address = 0;
  uint32_t DataLength = 0;    // data bytes, count less the overhead
  const char *Data = nullptr; // the first data character within the line
};

// The line as NextLine gives it, without its line end; lineEnded is false
// for a last line that the input ends inside, lineCut for a line longer
// than the reader takes. For Data the record is filled in; for Bad the
// problem says what is wrong, in words for the operator.
MotLineKind ParseMotLine(std::string_view line, bool lineEnded, bool lineCut, MotRecord &record,
                         std::string &problem);

// Whether the record's data runs past the top of the 32-bit address space.
inline bool RunsPastTop(const MotRecord &record) {
  return uint64_t{record.Address} + record.DataLength > 0xFFFFFFFFu;
}

} // namespace kestrune
