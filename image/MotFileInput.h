// S-record text read from a regular file through one open file.
#pragma once

#include "image/MotInput.h"
#include "platform/RegularFileReader.h"

#include <memory>
#include <string>

namespace kestrune {

class MotFileInput final : public MotInput {
public:
  MotFileInput();

  // Opens the file; false with the platform's error code in error, or with
  // NotRegular() naming what the path is when it is no regular file.
  bool Open(const std::string &path, uint32_t &error);
  void Close();
  const std::string &NotRegular() const { return File->NotRegular(); }
  bool WasDirectory() const { return File->WasDirectory(); }
  // The file's size when it was opened.
  uint64_t Size() const { return File->Size(); }

protected:
  bool ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) override;
  // Goes back to the start of the same open file.
  bool RewindSource(uint32_t &error) override;

private:
  std::unique_ptr<RegularFileReader> File;
};

} // namespace kestrune
