// A file's last-write time in the FAT date and time form: local time in
// two-second slots. The image loader compares an S-record file and its
// converted image by these six fields only, so two times in the same slot
// count as equal.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

struct FatTime {
  int Year = 0;       // full year, e.g. 2024
  int Month = 0;      // 1..12
  int Day = 0;        // 1..31
  int Hour = 0;       // 0..23
  int Minute = 0;     // 0..59
  int TwoSeconds = 0; // seconds / 2, 0..29

  friend bool operator==(const FatTime &, const FatTime &) = default;
};

// Reads the last-write time of the file at path. False with the platform's
// error code (errno, GetLastError()) in error when it cannot be read or has
// no FAT form.
bool GetLastWriteFatTime(const std::string &path, FatTime &time, uint32_t &error);

// Sets the last-write time of the file at path to the start of the given
// two-second slot, so that GetLastWriteFatTime gives the same fields back.
bool SetLastWriteFatTime(const std::string &path, const FatTime &time, uint32_t &error);

} // namespace kestrune
