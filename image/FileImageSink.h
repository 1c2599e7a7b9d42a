// An image sink on a file being written. Contiguous writes are gathered in
// a buffer and reach the file as one large write; a seek elsewhere hands
// the gathered bytes over first. Memory use is the buffer, whatever the
// size of the image.
#pragma once

#include "image/ImageSink.h"
#include "platform/FileWriter.h"

#include <vector>

namespace kestrune {

class FileImageSink final : public ImageSink {
public:
  explicit FileImageSink(FileWriter &file, size_t bufferSize = size_t{1} << 20);

  bool Seek(uint64_t offset) override;
  bool Write(const uint8_t *data, size_t count) override;
  bool Flush() override;

  // Writes count copies of value at the write position.
  bool Fill(uint8_t value, uint64_t count);

  // The platform's error code of the failed write.
  uint32_t LastError() const { return File.LastError(); }

private:
  FileWriter &File;
  std::vector<uint8_t> Buffer;
  size_t Pending = 0;       // bytes gathered in the buffer
  uint64_t PendingAt = 0;   // file offset of the first gathered byte
};

} // namespace kestrune
