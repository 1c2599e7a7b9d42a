// kestrune-sample-image: makes the sample S-record image of the demo and the
// benchmarks, and checks a handset's flash contents against an image.
//
//   kestrune-sample-image make FILE [KIB]   S-record text, KIB KiB of data
//                                           (default 288) in two regions
//                                           with gaps, 32 bytes per record
//   kestrune-sample-image verify FLASH IMAGE
//                                           FLASH holds IMAGE's data (.bif or
//                                           .bin) from address 0 and 0xFF
//                                           after it; exit 0 when it does
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

uint8_t DataByte(uint32_t address) {
  return uint8_t((address * 2654435761u) >> 24) ^ uint8_t(address);
}

void WriteRecord(std::ostream &out, uint32_t address, const uint8_t *data, unsigned n) {
  unsigned count = n + 5;
  unsigned sum = count + (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) +
                 (address & 0xFF);
  char line[100];
  int pos = std::snprintf(line, sizeof line, "S3%02X%08X", count, address);
  for (unsigned i = 0; i < n; ++i) {
    pos += std::snprintf(line + pos, sizeof line - size_t(pos), "%02X", data[i]);
    sum += data[i];
  }
  std::snprintf(line + pos, sizeof line - size_t(pos), "%02X\r\n", (~sum) & 0xFF);
  out << line;
}

// Data in [from, to) with a hole of `hole` bytes every `every` bytes.
void WriteRegion(std::ostream &out, uint32_t from, uint32_t to, uint32_t every, uint32_t hole) {
  uint8_t data[32];
  for (uint32_t a = from; a < to; a += 32) {
    if (every && (a - from) % every >= every - hole)
      continue;
    unsigned n = unsigned(std::min<uint32_t>(32, to - a));
    for (unsigned i = 0; i < n; ++i)
      data[i] = DataByte(a + i);
    WriteRecord(out, a, data, n);
  }
}

int Make(const char *path, uint32_t kib) {
  std::ofstream out(path, std::ios::binary);
  // Header record: "kestrune-demo".
  const char name[] = "kestrune-demo";
  unsigned count = unsigned(sizeof name - 1) + 3, sum = count;
  char header[64];
  int pos = std::snprintf(header, sizeof header, "S0%02X0000", count);
  for (const char *c = name; *c; ++c) {
    pos += std::snprintf(header + pos, sizeof header - size_t(pos), "%02X", unsigned(uint8_t(*c)));
    sum += uint8_t(*c);
  }
  out << header;
  std::snprintf(header, sizeof header, "%02X\r\n", (~sum) & 0xFF);
  out << header;
  uint32_t total = kib * 1024;
  uint32_t first = total * 3 / 4 / 32 * 32;
  WriteRegion(out, 0x000000, first, 0x8000, 0x1000);
  // The second region starts after a gap of 12 KiB and ends on an odd length.
  WriteRegion(out, first + 0x3000, first + 0x3000 + (total - first) - 13, 0, 0);
  out << "S70500000000FA\r\n";
  out.close();
  if (!out) {
    std::cerr << "cannot write " << path << "\n";
    return 1;
  }
  return 0;
}

bool ReadAll(const char *path, std::vector<uint8_t> &bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

int Verify(const char *flashPath, const char *imagePath) {
  std::vector<uint8_t> flash, image;
  if (!ReadAll(flashPath, flash) || !ReadAll(imagePath, image)) {
    std::cerr << "cannot read " << flashPath << " or " << imagePath << "\n";
    return 2;
  }
  std::string name = imagePath;
  bool bif = name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".bif") == 0;
  size_t skip = bif ? 8 : 0;
  size_t length = image.size() - skip;
  if (flash.size() < length) {
    std::cerr << "flash holds " << flash.size() << " bytes, image " << length << "\n";
    return 1;
  }
  for (size_t i = 0; i < flash.size(); ++i) {
    uint8_t want = i < length ? image[skip + i] : 0xFF;
    if (flash[i] != want) {
      std::fprintf(stderr, "flash differs at 0x%06zX: 0x%02X, expected 0x%02X\n", i, flash[i],
                   want);
      return 1;
    }
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "make") == 0)
    return Make(argv[2], argc > 3 ? uint32_t(std::stoul(argv[3])) : 288);
  if (argc == 4 && std::strcmp(argv[1], "verify") == 0)
    return Verify(argv[2], argv[3]);
  std::cerr << "usage: kestrune-sample-image make FILE [KIB] | verify FLASH IMAGE\n";
  return 2;
}
