#include "image/MotFileInput.h"

#include <algorithm>

namespace kestrune {

MotFileInput::MotFileInput() : File(CreateImageFileReader()) {}

bool MotFileInput::Open(const std::string &path, uint32_t &error) {
  Path = path;
  if (File->Open(path))
    return true;
  error = File->LastError();
  return false;
}

void MotFileInput::Close() { File->Close(); }

bool MotFileInput::ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) {
  uint32_t got = 0;
  auto count = static_cast<uint32_t>(std::min<size_t>(room, 0x40000000u));
  if (!File->Read(dest, count, got)) {
    error = File->LastError();
    return false;
  }
  received = got;
  return true;
}

bool MotFileInput::RewindSource(uint32_t &error) {
  if (File->Open(Path))
    return true;
  error = File->LastError();
  return false;
}

} // namespace kestrune
