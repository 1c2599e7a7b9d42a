// The identity of the image the channels send: its path, size and SHA-256,
// worked out once by the loader for every load, so that run records can name
// the exact bytes without reading the file again per run.
#pragma once

#include "image/Guarded.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrune {

struct ImageDigest {
  std::string Path;   // the file the channels open
  uint64_t Size = 0;  // its length in bytes
  std::string Sha256; // lower-case hex; empty when unknown
};

// The digest of the latest successful load; empty before one.
extern Guarded<ImageDigest> SentImageDigest;

// SHA-256 of a buffer, lower-case hex.
std::string Sha256Hex(const uint8_t *data, size_t length);

// Reads the file through and fills digest; false with error set (errno) when
// it cannot be read.
bool DigestFile(const std::string &path, ImageDigest &digest, int &error);

} // namespace kestrune
