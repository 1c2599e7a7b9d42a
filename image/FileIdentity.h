// What tells one state of a file from another without reading it: its size,
// its last write time and, where the platform has them, the device and file
// numbers (a file replaced by a rename keeps its name, not its number).
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

struct FileIdentity {
  bool Exists = false;
  uint64_t Size = 0;
  int64_t WrittenNs = 0; // last write, nanoseconds since the platform's epoch
  uint64_t Device = 0;
  uint64_t Number = 0;

  bool operator==(const FileIdentity &) const = default;
};

// The file's identity now; Exists false when it cannot be looked at.
FileIdentity IdentifyFile(const std::string &path);

} // namespace kestrune
