// A file's last-write time in the FAT date and time form: local time in
// two-second slots. The image loader compares an S-record file and its
// converted image by these six fields only, so two times in the same slot
// count as equal.
#pragma once

#include <compare>
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
  // False when the file's real time lies outside the years the form can
  // hold (1980 to 2107) and the fields give the nearest time it can. Such a
  // time equals no time read from a file inside the range, so an S-record
  // file with it never counts as converted already.
  bool Exact = true;

  friend bool operator==(const FatTime &, const FatTime &) = default;
};

// A file time at the file system's full resolution. Only compared with
// other times of the same platform.
struct FileClock {
  int64_t Seconds = 0;
  int64_t Nanoseconds = 0;

  friend auto operator<=>(const FileClock &, const FileClock &) = default;
};

// Reads the last-write time and the last-change time of the file at path.
// The change time moves whenever the file's data or attributes change or
// the file is renamed, and no program can set it back: a file's change
// time is at least the moment it got its present name and contents.
bool GetFileClocks(const std::string &path, FileClock &lastWrite, FileClock &lastChange,
                   uint32_t &error);

// Reads the last-write time of the file at path. False with the platform's
// error code (errno, GetLastError()) in error when it cannot be read or has
// no FAT form.
bool GetLastWriteFatTime(const std::string &path, FatTime &time, uint32_t &error);

// Moves a time outside the FAT years to the nearest one inside them,
// clearing Exact; a time inside is left as it is.
void ClampToFatRange(FatTime &time);

// Sets the last-write time of the file at path to the start of the given
// two-second slot, so that GetLastWriteFatTime gives the same fields back.
bool SetLastWriteFatTime(const std::string &path, const FatTime &time, uint32_t &error);

} // namespace kestrune
