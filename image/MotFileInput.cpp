#include "image/MotFileInput.h"

namespace kestrune {

MotFileInput::MotFileInput() : File(CreateRegularFileReader()) {}

bool MotFileInput::Open(const std::string &path, uint32_t &error) {
  if (File->Open(path))
    return true;
  error = File->LastError();
  return false;
}

void MotFileInput::Close() { File->Close(); }

bool MotFileInput::ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) {
  if (File->Read(dest, room, received))
    return true;
  error = File->LastError();
  return false;
}

bool MotFileInput::RewindSource(uint32_t &error) {
  if (File->Rewind())
    return true;
  error = File->LastError();
  return false;
}

} // namespace kestrune
