// Read-only access to an image file, shared with other readers and hinted as
// a sequential scan, as each channel's programming step opens it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class ImageFileReader {
public:
  virtual ~ImageFileReader() = default;
  // Opens an existing file for reading; false with LastError() on failure.
  virtual bool Open(const std::string &path) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;
  // The size's low 32 bits; 0xFFFFFFFF when the file is not open.
  virtual uint32_t Size() = 0;
  virtual bool Read(void *data, uint32_t count, uint32_t &received) = 0;
  uint32_t LastError() const { return LastErrorCode; }

protected:
  uint32_t LastErrorCode = 0;
};

std::unique_ptr<ImageFileReader> CreateImageFileReader();

// Raises the calling thread one step above normal priority where the
// platform allows it; a refusal is not an error.
void RaiseCurrentThreadPriority();

} // namespace kestrune
