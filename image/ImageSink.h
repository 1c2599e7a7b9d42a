// Where the placement pass writes: a writable, seekable image file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune {

class ImageSink {
public:
  virtual ~ImageSink() = default;
  // Moves the write position to offset bytes from the beginning.
  virtual bool Seek(uint64_t offset) = 0;
  // Writes count bytes at the write position and moves it past them.
  virtual bool Write(const uint8_t *data, size_t count) = 0;
  // Hands everything written so far to the file.
  virtual bool Flush() = 0;
};

} // namespace kestrune
