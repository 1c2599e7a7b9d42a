// Writes a new file that takes the place of another one only when it is
// complete: the image loader writes its converted image under a fresh name
// beside the target, syncs it to disk and then moves it over the target, so
// that no reader ever finds a partial file under the target's name.
//
// While it is written the temporary is locked (POSIX: flock; Windows: the
// open handle), so that RemoveDeadTemporaries can tell a temporary whose
// writer died from one still being written. On POSIX a temporary being
// written is removed when SIGINT, SIGTERM or SIGHUP ends the process
// through the signal's default action.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class FileWriter {
public:
  virtual ~FileWriter() = default;

  // Creates a locked file that did not exist before, beside target, named
  // by TemporaryNameFor(target). False with LastError().
  virtual bool CreateUnique(const std::string &target) = 0;
  // The name CreateUnique chose; empty before.
  const std::string &Path() const { return FilePath; }

  // Writes count bytes at offset, all of them or fail.
  virtual bool WriteAt(uint64_t offset, const void *data, size_t count) = 0;
  // Pushes everything written so far to the disk.
  virtual bool SyncToDisk() = 0;
  // Closes the file and gives up its lock; reports a failure of the last
  // deferred writes. The file may be renamed or removed before it is
  // closed, and should be, so that it is never left unlocked.
  virtual bool Close() = 0;

  // The platform's error code of the last failure (errno, GetLastError()).
  uint32_t LastError() const { return LastErrorCode; }

protected:
  std::string FilePath;
  uint32_t LastErrorCode = 0;
};

std::unique_ptr<FileWriter> CreateFileWriter();

// A candidate name for a temporary beside target: target's directory, its
// file name (cut short where needed, so that the whole name fits the 255
// bytes a file name may have), ".~" and eight random hex digits; every
// call picks new digits.
std::string TemporaryNameFor(const std::string &target);
// Whether fileName (without its directory) is the name of one of the
// temporaries that TemporaryNameFor(target) gives.
bool IsTemporaryNameFor(const std::string &fileName, const std::string &target);

// Removes the temporaries beside target that no live writer holds (left by
// a process that was killed). Returns how many were removed.
int RemoveDeadTemporaries(const std::string &target);

// Moves from over to, replacing any file of that name in one step.
bool ReplaceFileWith(const std::string &from, const std::string &to, uint32_t &error);

// Removes a file; used to clean up a file that will not be finished.
bool RemoveFile(const std::string &path);

} // namespace kestrune
