#include "image/MotInput.h"

#include <algorithm>
#include <cstring>

namespace kestrune {
namespace {

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

} // namespace

// A whole line, its line end and one more character always fit.
MotInput::MotInput(size_t chunkSize) : Buffer(std::max(chunkSize, MaxLine) + MaxLine + 2) {}

void MotInput::Refill(size_t want) {
  // Keep the unread tail and fill up behind it.
  if (Begin > 0) {
    std::memmove(Buffer.data(), Buffer.data() + Begin, End - Begin);
    End -= Begin;
    Begin = 0;
  }
  while (!SourceDone && End < want) {
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

bool MotInput::TakeLineEnd() {
  if (Begin == End && !SourceDone)
    Refill(2);
  if (Begin == End || !IsLineEnd(Buffer[Begin]))
    return false;
  bool carriageReturn = Buffer[Begin++] == '\r';
  if (carriageReturn && Begin == End && !SourceDone)
    Refill(1);
  if (carriageReturn && Begin < End && Buffer[Begin] == '\n')
    ++Begin;
  return true;
}

void MotInput::SkipRestOfLine() {
  for (;;) {
    const char *from = Buffer.data() + Begin;
    const char *stop = std::find_if(from, static_cast<const char *>(Buffer.data() + End), IsLineEnd);
    Begin += static_cast<size_t>(stop - from);
    if (Begin < End) {
      TakeLineEnd();
      return;
    }
    if (SourceDone)
      return;
    Refill(1);
  }
}

bool MotInput::NextLine(std::string_view &line) {
  if (Cut)
    SkipRestOfLine();
  Cut = false;
  Ended = false;
  if (End - Begin < MaxLine + 2 && !SourceDone)
    Refill(MaxLine + 2);
  if (ReadFailed || Begin == End)
    return false;
  const char *start = Buffer.data() + Begin;
  size_t available = End - Begin;
  const char *stop = std::find_if(start, start + std::min(available, MaxLine + 1), IsLineEnd);
  size_t length = static_cast<size_t>(stop - start);
  ++Number;
  if (length > MaxLine) {
    // No line end within the first MaxLine + 1 characters: the line is cut,
    // and the next call skips the rest of it. The view stays valid because
    // nothing is read before then.
    length = MaxLine;
    Cut = true;
    Begin += length;
    line = std::string_view(start, length);
    return true;
  }
  line = std::string_view(start, length);
  Begin += length;
  // The line's characters stay in place: at least one more byte is in the
  // buffer behind a line end unless the source is done, so no refill runs.
  Ended = TakeLineEnd();
  return true;
}

bool MotInput::Rewind() {
  uint32_t error = 0;
  Begin = End = 0;
  SourceDone = false;
  ReadFailed = false;
  Number = 0;
  Ended = false;
  Cut = false;
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
