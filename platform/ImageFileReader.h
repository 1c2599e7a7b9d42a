// Read-only access to an image file, shared with other readers and hinted as
// a sequential scan, as each channel's programming step opens it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class ImageFileReader {
public:
  static constexpr uint64_t UnknownSize = ~uint64_t(0);

  virtual ~ImageFileReader() = default;
  // Opens an existing file for reading; false with LastError() on failure.
  virtual bool Open(const std::string &path) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;
  // The file's size in bytes; UnknownSize (with LastError()) when it cannot
  // be had, the file not being open among other reasons.
  virtual uint64_t Size() = 0;
  // Reads up to count bytes; fewer only at the end of the file.
  virtual bool Read(void *data, uint32_t count, uint32_t &received) = 0;
  uint32_t LastError() const { return LastErrorCode; }

protected:
  uint32_t LastErrorCode = 0;
};

std::unique_ptr<ImageFileReader> CreateImageFileReader();

// The platform's code for a file that ended before the bytes its size
// promised (ENODATA, ERROR_HANDLE_EOF).
uint32_t EndOfFileErrorCode();

// Raises the calling thread one step above normal priority where the
// platform allows it; a refusal is not an error.
void RaiseCurrentThreadPriority();

} // namespace kestrune
