// S-record text read from a file, opened for reading as bytes.
#pragma once

#include "image/MotInput.h"
#include "platform/ImageFileReader.h"

#include <memory>
#include <string>

namespace kestrune {

class MotFileInput final : public MotInput {
public:
  MotFileInput();

  // Opens the file; false with the platform's error code in error.
  bool Open(const std::string &path, uint32_t &error);
  void Close();

protected:
  bool ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) override;
  // Opens the file again to start from its beginning.
  bool RewindSource(uint32_t &error) override;

private:
  std::unique_ptr<ImageFileReader> File;
  std::string Path;
};

} // namespace kestrune
