#include "tests/e2e/E2eSupport.h"

#include "image/MotLoaderThread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace kestrune::test {

const std::string CompletedText = "다운로드 완료 !!!!!!!!!!!!!!!!!";

namespace {

void WriteSRecords(std::ostream &out, const std::vector<uint8_t> &data, uint32_t start) {
  // S3 records of up to 32 bytes in descending order, to exercise placement.
  for (size_t end = data.size(); end > 0;) {
    size_t begin = end > 32 ? ((end - 1) / 32) * 32 : 0;
    unsigned n = unsigned(end - begin), count = n + 5, sum = count;
    uint32_t a = start + uint32_t(begin);
    char text[96];
    int pos = std::snprintf(text, sizeof text, "S3%02X%08X", count, a);
    sum += (a >> 24) + ((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF);
    for (size_t i = begin; i < end; ++i) {
      pos += std::snprintf(text + pos, sizeof text - size_t(pos), "%02X", data[i]);
      sum += data[i];
    }
    std::snprintf(text + pos, sizeof text - size_t(pos), "%02X\r\n", ~sum & 0xFF);
    out << text;
    end = begin;
  }
  out << "S70500000000FA\r\n";
}

} // namespace

LoadedImage::LoadedImage(const std::vector<uint8_t> &data, Kind kind, uint32_t start)
    : Bytes(data) {
  char pattern[] = "/tmp/kestrune-e2e-XXXXXX";
  Directory = ::mkdtemp(pattern);
  Source = Directory / (kind == Kind::Bin ? "image.bin" : kind == Kind::Bif ? "image.bif"
                                                                             : "image.mot");
  std::ofstream out(Source, std::ios::binary);
  if (kind == Kind::Bif) {
    uint32_t header[2] = {start, start + uint32_t(data.size())};
    out.write(reinterpret_cast<const char *>(header), sizeof header);
  }
  if (kind == Kind::SRecord)
    WriteSRecords(out, data, start);
  else
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
  out.close();
  LoadExitCode = LoadImageFile(Source.string());
}

LoadedImage::~LoadedImage() { fs::remove_all(Directory); }

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto &b : bytes) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return bytes;
}

bool FlashHolds(const handset::VirtualHandset &handset, const std::vector<uint8_t> &data,
                std::string *why) {
  std::vector<uint8_t> flash = handset.FlashContents();
  for (size_t i = 0; i < flash.size(); ++i) {
    uint8_t want = i < data.size() ? data[i] : 0xFF;
    if (flash[i] != want) {
      char text[96];
      std::snprintf(text, sizeof text, "flash differs at 0x%06zX: 0x%02X, expected 0x%02X", i,
                    flash[i], want);
      *why = text;
      return false;
    }
  }
  return true;
}

std::unique_ptr<handset::VirtualHandset> StartHandset(handset::HandsetOptions options) {
  auto h = std::make_unique<handset::VirtualHandset>(std::move(options));
  EXPECT_TRUE(h->StartOnPty()) << h->ErrorText();
  return h;
}

int OpenDescriptorsOf(const fs::path &path) {
  int count = 0;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError) == path)
      ++count;
  }
  return count;
}

} // namespace kestrune::test
