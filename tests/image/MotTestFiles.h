// Helpers for the image tests: S-record lines with correct counts and
// checksums, a scratch directory, file contents and times.
#pragma once

#include "image/ImageSink.h"
#include "platform/Utf8Paths.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrune::test {

using Bytes = std::vector<uint8_t>;

// One S1, S2 or S3 record (type '1', '2', '3') with its line ending.
std::string Srec(char type, uint32_t address, const Bytes &data, const char *ending = "\n");

// Bytes first, first + 1, ... (wrapping).
Bytes Counting(size_t count, uint8_t first = 0);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string operator/(const std::string &name) const {
    return Utf8FromPath(Path / PathFromUtf8(name));
  }
  const std::filesystem::path &path() const { return Path; }
  // Names of the files in the directory, sorted.
  std::vector<std::string> Names() const;

private:
  std::filesystem::path Path;
};

void WriteFile(const std::string &path, const std::string &text);
Bytes ReadFile(const std::string &path);

// Last-write times in whole system-clock seconds (plus nanoseconds).
void SetFileTime(const std::string &path, int64_t seconds, int64_t nanoseconds = 0);
int64_t FileTimeSeconds(const std::string &path);

// An image sink in memory that remembers its seeks.
class MemoryImageSink final : public ImageSink {
public:
  bool Seek(uint64_t offset) override;
  bool Write(const uint8_t *data, size_t count) override;
  bool Flush() override { return true; }

  Bytes Image;            // holes read as 0x00
  std::vector<uint64_t> Seeks;

private:
  uint64_t Position = 0;
};

} // namespace kestrune::test
