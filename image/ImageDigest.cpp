#include "image/ImageDigest.h"

#include "image/Sha256.h"

namespace kestrune {

std::string Sha256Hex(const uint8_t *data, size_t length) {
  Sha256 sum;
  sum.Add(data, length);
  return sum.HexDigest();
}

} // namespace kestrune
