// Fuzzes the S-record reader: the lines must follow the line rule whatever
// the chunk sizes, a record must be taken exactly when an independent check
// finds it well-formed (hex digits, count, checksum), the scan must never
// succeed on a file with a bad record, both passes must agree on the
// records, and no record may be read past its line or its record buffer
// (the sanitizers watch the memory).
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

struct Line {
  std::string Text;
  bool Ended;
  bool Cut;
};

// The lines, worked out one character at a time.
std::vector<Line> ReferenceLines(const std::string &text) {
  std::vector<Line> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
      ++end;
    bool cut = end - at > MotInput::MaxLine;
    lines.push_back({text.substr(at, std::min(end - at, MotInput::MaxLine)),
                     end < text.size() && !cut, cut});
    if (end == text.size())
      break;
    at = end + 1;
    if (text[end] == '\r' && at < text.size() && text[at] == '\n')
      ++at;
  }
  return lines;
}

int Digit(char c) {
  const char *upper = "0123456789ABCDEF";
  const char *lower = "0123456789abcdef";
  for (int i = 0; i < 16; ++i)
    if (c == upper[i] || c == lower[i])
      return i;
  return -1;
}

// Address bytes of the checked record types, 0 for lines left alone.
size_t CheckedType(const std::string &text) {
  if (text.size() < 2 || text[0] != 'S')
    return 0;
  switch (text[1]) {
  case '1': case '9': return 2;
  case '2': case '8': return 3;
  case '3': case '7': return 4;
  default: return 0;
  }
}

// A record as a careful reader sees it: the bytes after the type, all of
// them accounted for by the count, and the checksum right.
bool WellFormed(const Line &line, size_t addressBytes) {
  if (line.Cut)
    return false;
  std::string text = line.Text;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
  if ((text.size() - 2) % 2 != 0 || text.size() < 4)
    return false;
  std::vector<unsigned> bytes;
  for (size_t i = 2; i < text.size(); i += 2) {
    int high = Digit(text[i]);
    int low = Digit(text[i + 1]);
    if (high < 0 || low < 0)
      return false;
    bytes.push_back(unsigned(high * 16 + low));
  }
  if (bytes.size() - 1 != bytes[0] || bytes[0] < addressBytes + 1)
    return false;
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i)
    sum += bytes[i];
  return ((~sum) & 0xFF) == bytes.back();
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
    Check(count <= 252);
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
  std::vector<Line> lines;
  std::string_view view;
  while (input.NextLine(view)) {
    Check(input.LineNumber() == lines.size() + 1);
    lines.push_back({std::string(view), input.LineEnded(), input.LineCut()});
  }
  std::vector<Line> expected = ReferenceLines(text);
  Check(lines.size() == expected.size());
  for (size_t i = 0; i < lines.size(); ++i)
    Check(lines[i].Text == expected[i].Text && lines[i].Ended == expected[i].Ended &&
          lines[i].Cut == expected[i].Cut);

  // The records the passes should see, and the range they give.
  bool allWellFormed = true;
  uint64_t dataBytes = 0;
  bool any = false;
  uint32_t lowest = 0xFFFFFFFF;
  uint32_t highest = 0;
  uint32_t highestLength = 0;
  for (const Line &line : lines) {
    MotRecord record;
    std::string problem;
    MotLineKind kind = ParseMotLine(line.Text, line.Ended, line.Cut, record, problem);
    size_t addressBytes = CheckedType(line.Text);
    if (addressBytes == 0) {
      Check(kind == MotLineKind::Other);
      continue;
    }
    bool wellFormed = WellFormed(line, addressBytes);
    Check(wellFormed == (kind != MotLineKind::Bad));
    Check(wellFormed || !problem.empty());
    if (!wellFormed) {
      allWellFormed = false;
      break; // the scan stops at the first bad record
    }
    if (kind != MotLineKind::Data || RunsPastTop(record))
      continue;
    Check(record.DataLength <= 252);
    Check(record.Data >= line.Text.data() &&
          record.Data + 2 * record.DataLength <= line.Text.data() + line.Text.size());
    if (!any || record.Address > highest) {
      highest = record.Address;
      highestLength = record.DataLength;
    }
    any = true;
    lowest = std::min(lowest, record.Address);
    dataBytes += record.DataLength;
  }

  Check(input.Rewind());
  MotScan scan = ScanMotRange(input);
  // Never a success for a file with a bad record.
  Check(scan.Error.empty() == allWellFormed);
  if (!allWellFormed)
    return 0;
  Check(scan.Start == lowest);
  Check(any ? scan.End == highest + highestLength && scan.Start <= scan.End
            : scan.Start > scan.End);

  Check(input.Rewind());
  CheckingSink sink;
  std::string error;
  Check(WriteMotImage(input, sink, scan.Start, error));
  Check(error.empty());
  Check(sink.Bytes == dataBytes);
  return 0;
}
