// An image as the channels send it: the file's bytes, read once per load
// into memory that nothing writes again, with their digest. Every channel
// and every unit that uses one load shares the one buffer, so what goes on
// the line is exactly what was read and digested, whatever happens to the
// file afterwards.
#pragma once

#include "image/FileIdentity.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune {

struct ImageBytes {
  // The file the operator chose (its absolute name) and what it was when
  // the load began: a front end compares it with the file as it is now to
  // see a change.
  std::string ChosenPath;
  FileIdentity Chosen;
  // The file the bytes were read from: the chosen .bif or .bin, or the
  // .bif converted from S-record text.
  std::string Path;
  std::vector<uint8_t> File; // that file's bytes, as read
  uint32_t DataOffset = 0;   // where the image starts in File (the .bif header's length)
  uint32_t StartAddress = 0; // flash address of the image's first byte
  std::string Sha256;        // of File, lower-case hex
  std::chrono::system_clock::time_point LoadedAt;

  const uint8_t *Data() const { return File.data() + DataOffset; }
  uint64_t DataSize() const { return File.size() - DataOffset; }
  // Whether the chosen file is no longer what this load read.
  bool ChosenFileChanged() const { return IdentifyFile(ChosenPath) != Chosen; }
};

// Reads the file at path whole: a raw image (start address 0) or a .bif
// (its header gives the start address). Null with the operator's text in
// error when it cannot be read or is no image.
std::shared_ptr<const ImageBytes> ReadImageBytes(const std::string &chosenPath,
                                                   const FileIdentity &chosen,
                                                   const std::string &path, bool raw,
                                                   std::string &error);

} // namespace kestrune
