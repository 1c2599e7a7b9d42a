// File system helpers the tests share whose system calls differ between
// Linux and Windows: a fresh scratch directory, and setting and reading a
// file's last-write time in whole seconds since 1970 (UTC).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace kestrune::test {

// A new, empty directory under the system's temporary directory, its name
// starting with prefix. Throws when none can be made.
std::filesystem::path MakeScratchDirectory(const std::string &prefix);

// Sets the last-write time (and the access time to the same second);
// throws on failure. Paths are UTF-8.
void SetLastWriteSeconds(const std::string &path, int64_t seconds, int64_t nanoseconds = 0);
int64_t LastWriteSeconds(const std::string &path);

// Copies a file as the system's own copy does when told to keep times
// (cp -p, the Explorer's copy): the copy has the original's last-write
// time and a change time of its own. Throws on failure.
void CopyKeepingTime(const std::string &from, const std::string &to);

// The local calendar time of a moment, as the C library sees it.
bool LocalCalendarTime(int64_t seconds, std::tm &local);

} // namespace kestrune::test
