#include "image/MotInput.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

MotInput::MotInput(size_t chunkSize) : Buffer(std::max(chunkSize, MaxRead) + MaxRead) {}

void MotInput::Refill() {
  // Keep the unread tail and fill up behind it until a whole read fits.
  if (Begin > 0) {
    std::memmove(Buffer.data(), Buffer.data() + Begin, End - Begin);
    End -= Begin;
    Begin = 0;
  }
  while (!SourceDone && End < MaxRead) {
    size_t received = 0;
    uint32_t error = 0;
    if (!ReadSource(Buffer.data() + End, Buffer.size() - End, received, error)) {
      ReadFailed = true;
      ErrorCode = error;
      SourceDone = true;
      return;
    }
    if (received == 0)
      SourceDone = true;
    End += received;
  }
}

bool MotInput::NextLine(std::string_view &line) {
  if (End - Begin < MaxRead && !SourceDone)
    Refill();
  if (ReadFailed)
    return false;
  size_t available = std::min(End - Begin, MaxRead);
  if (available == 0)
    return false;
  const char *start = Buffer.data() + Begin;
  const void *feed = std::memchr(start, '\n', available);
  size_t length = feed ? static_cast<size_t>(static_cast<const char *>(feed) - start) + 1 : available;
  line = std::string_view(start, length);
  Begin += length;
  return true;
}

bool MotInput::Rewind() {
  uint32_t error = 0;
  Begin = End = 0;
  SourceDone = false;
  ReadFailed = false;
  if (RewindSource(error))
    return true;
  ReadFailed = true;
  SourceDone = true;
  ErrorCode = error;
  return false;
}

bool MotMemoryInput::ReadSource(char *dest, size_t room, size_t &received, uint32_t &) {
  received = std::min({room, PieceSize, Text.size() - Position});
  std::memcpy(dest, Text.data() + Position, received);
  Position += received;
  return true;
}

bool MotMemoryInput::RewindSource(uint32_t &) {
  Position = 0;
  return true;
}

} // namespace kestrune
