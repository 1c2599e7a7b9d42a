// Read-only access for the image loader to a file that must be a regular
// file (or a link to one). Anything else (a FIFO, a device such as
// /dev/zero, a socket, a directory) is refused at open, without waiting for
// a writer on a FIFO. The size is 64 bits wide, and the file is read again
// from its start through the same open file, so what a pass reads is the
// file that was opened and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class RegularFileReader {
public:
  virtual ~RegularFileReader() = default;

  // Opens path for reading. False with LastError(), or, when the path names
  // something other than a regular file or a directory, with NotRegular()
  // naming it ("a FIFO", "a character device", ...). A directory fails with
  // the platform's code for one (EISDIR, ERROR_ACCESS_DENIED).
  virtual bool Open(const std::string &path) = 0;
  virtual void Close() = 0;
  // The file's size when it was opened.
  uint64_t Size() const { return FileSize; }
  // Reads up to count bytes; received 0 means the end.
  virtual bool Read(void *data, size_t count, size_t &received) = 0;
  // Goes back to the first byte.
  virtual bool Rewind() = 0;

  uint32_t LastError() const { return LastErrorCode; }
  // What the path named when it was no regular file; empty otherwise.
  const std::string &NotRegular() const { return Kind; }
  // Whether the path named a directory (where the platform tells).
  bool WasDirectory() const { return Directory; }

protected:
  uint64_t FileSize = 0;
  uint32_t LastErrorCode = 0;
  std::string Kind;
  bool Directory = false;
};

std::unique_ptr<RegularFileReader> CreateRegularFileReader();

} // namespace kestrune
