// Writes a new file that takes the place of another one only when it is
// complete: the image loader writes its converted image under a fresh name
// beside the target, syncs it to disk and then moves it over the target, so
// that no reader ever finds a partial file under the target's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class FileWriter {
public:
  virtual ~FileWriter() = default;

  // Creates a file that did not exist before, named prefix followed by a
  // few characters chosen to make the name unique. False with LastError().
  virtual bool CreateUnique(const std::string &prefix) = 0;
  // The name CreateUnique chose; empty before.
  const std::string &Path() const { return FilePath; }

  // Writes count bytes at offset, all of them or fail.
  virtual bool WriteAt(uint64_t offset, const void *data, size_t count) = 0;
  // Pushes everything written so far to the disk.
  virtual bool SyncToDisk() = 0;
  // Closes the file; reports a failure of the last deferred writes.
  virtual bool Close() = 0;

  // The platform's error code of the last failure (errno, GetLastError()).
  uint32_t LastError() const { return LastErrorCode; }

protected:
  std::string FilePath;
  uint32_t LastErrorCode = 0;
};

std::unique_ptr<FileWriter> CreateFileWriter();

// A candidate name for CreateUnique: prefix, ".~" and eight random hex
// digits; every call picks new digits.
std::string TemporaryNameFor(const std::string &prefix);

// Moves from over to, replacing any file of that name in one step.
bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error);

// Removes a file; used to clean up a file that will not be finished.
bool RemoveFile(const std::string &path);

} // namespace kestrune
