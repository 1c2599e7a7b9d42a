#include "MotTestFiles.h"

#include "platform/Utf8Paths.h"
#include "tests/support/TestFiles.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <algorithm>

namespace kestrune::test {

std::string Srec(char type, uint32_t address, const Bytes &data, const char *ending) {
  int addressBytes = type == '1' ? 2 : type == '2' ? 3 : 4;
  Bytes fields;
  fields.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i)
    fields.push_back(static_cast<uint8_t>(address >> (8 * i)));
  fields.insert(fields.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : fields)
    sum += b;
  fields.push_back(static_cast<uint8_t>(~sum));
  std::string line = std::string("S") + type;
  char digits[3];
  for (uint8_t b : fields) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    line += digits;
  }
  return line + ending;
}

Bytes Counting(size_t count, uint8_t first) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

ScratchDir::ScratchDir() : Path(MakeScratchDirectory("kestrune-image-")) {}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path, ignored);
}

std::vector<std::string> ScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(Path))
    names.push_back(Utf8FromPath(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  out << text;
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string &path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SetFileTime(const std::string &path, int64_t seconds, int64_t nanoseconds) {
  SetLastWriteSeconds(path, seconds, nanoseconds);
}

int64_t FileTimeSeconds(const std::string &path) { return LastWriteSeconds(path); }

bool MemoryImageSink::Seek(uint64_t offset) {
  Seeks.push_back(offset);
  Position = offset;
  return true;
}

bool MemoryImageSink::Write(const uint8_t *data, size_t count) {
  if (Image.size() < Position + count)
    Image.resize(Position + count, 0x00);
  std::copy(data, data + count, Image.begin() + static_cast<std::ptrdiff_t>(Position));
  Position += count;
  return true;
}

} // namespace kestrune::test
