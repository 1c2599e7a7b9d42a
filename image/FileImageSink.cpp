#include "image/FileImageSink.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

FileImageSink::FileImageSink(FileWriter &file, size_t bufferSize)
    : File(file), Buffer(std::max<size_t>(bufferSize, 64)) {}

bool FileImageSink::Flush() {
  if (Pending == 0)
    return true;
  bool ok = File.WriteAt(PendingAt, Buffer.data(), Pending);
  PendingAt += Pending;
  Pending = 0;
  return ok;
}

bool FileImageSink::Seek(uint64_t offset) {
  if (offset == PendingAt + Pending)
    return true;
  if (!Flush())
    return false;
  PendingAt = offset;
  return true;
}

bool FileImageSink::Write(const uint8_t *data, size_t count) {
  while (count > 0) {
    if (Pending == Buffer.size() && !Flush())
      return false;
    size_t take = std::min(count, Buffer.size() - Pending);
    std::memcpy(Buffer.data() + Pending, data, take);
    Pending += take;
    data += take;
    count -= take;
  }
  return true;
}

bool FileImageSink::Fill(uint8_t value, uint64_t count) {
  while (count > 0) {
    if (Pending == Buffer.size() && !Flush())
      return false;
    size_t take = static_cast<size_t>(std::min<uint64_t>(count, Buffer.size() - Pending));
    std::memset(Buffer.data() + Pending, value, take);
    Pending += take;
    count -= take;
  }
  return true;
}

} // namespace kestrune
