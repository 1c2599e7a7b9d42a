// Fuzzes the S-record reader: the reads must match the 80-character line
// buffer whatever the chunk sizes, both passes must agree on the records,
// and no record may be read past its line or its 40-byte buffer (the
// sanitizers watch the memory).
#include "image/MotInput.h"
#include "image/MotReader.h"
#include "image/MotRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kestrune;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// The reads as the line buffer takes them, one at a time.
std::vector<std::string> ReferenceReads(const std::string &text) {
  std::vector<std::string> reads;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    while (length < 79 && at + length < text.size())
      if (text[at + length++] == '\n')
        break;
    reads.push_back(text.substr(at, length));
    at += length;
  }
  return reads;
}

// Records the writes of the placement pass without holding the image: only
// the bytes near the start are kept, the rest is checked for its bounds.
class CheckingSink final : public ImageSink {
public:
  bool Seek(uint64_t offset) override {
    Check(offset >= 8 && offset <= 8 + uint64_t{0xFFFFFFFF});
    Position = offset;
    return true;
  }
  bool Write(const uint8_t *data, size_t count) override {
    Check(count <= 35);
    Check(Position + count <= 8 + uint64_t{0xFFFFFFFF} + 1);
    for (size_t i = 0; i < count; ++i)
      if (Position + i < 4096)
        Kept[Position + i] = data[i];
    Position += count;
    Bytes += count;
    return true;
  }
  bool Flush() override { return true; }

  uint64_t Position = 0;
  uint64_t Bytes = 0;
  std::map<uint64_t, uint8_t> Kept;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  // The first byte picks the piece size the text arrives in.
  size_t piece = size > 0 ? 1 + data[0] % 97 : 1;

  MotMemoryInput input(text, piece);
  std::vector<std::string> reads;
  std::string_view line;
  while (input.NextLine(line))
    reads.emplace_back(line);
  Check(reads == ReferenceReads(text));

  // The records the passes should see, and the range they give.
  uint64_t dataBytes = 0;
  bool any = false;
  uint32_t lowest = 0xFFFFFFFF;
  uint32_t highest = 0;
  uint32_t highestLength = 0;
  for (const std::string &read : reads) {
    MotRecord record;
    if (!ParseMotRecord(read, record))
      continue;
    Check(record.DataLength <= 35);
    Check(record.Data >= read.data() && record.Data + 2 * record.DataLength <= read.data() + read.size());
    if (!any || record.Address > highest) {
      highest = record.Address;
      highestLength = record.DataLength;
    }
    any = true;
    lowest = std::min(lowest, record.Address);
    dataBytes += record.DataLength;
  }

  Check(input.Rewind());
  uint32_t start = 0;
  uint32_t end = ScanMotRange(input, start);
  Check(start == lowest);
  Check(any ? end == highest + highestLength && start <= end : start > end);

  Check(input.Rewind());
  CheckingSink sink;
  Check(WriteMotImage(input, sink, start));
  Check(sink.Bytes == dataBytes);
  return 0;
}
