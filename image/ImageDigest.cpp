#include "image/ImageDigest.h"

#include "image/Sha256.h"
#include "platform/Utf8Paths.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace kestrune {

Guarded<ImageDigest> SentImageDigest;


std::string Sha256Hex(const uint8_t *data, size_t length) {
  Sha256 sum;
  sum.Add(data, length);
  return sum.HexDigest();
}

bool DigestFile(const std::string &path, ImageDigest &digest, int &error) {
  std::unique_ptr<FILE, decltype(&fclose)> file(OpenFileUtf8(path, "rb"), fclose);
  if (!file) {
    error = errno;
    return false;
  }
  Sha256 sum;
  if (!sum.Ok()) {
    error = ENOMEM;
    return false;
  }
  std::vector<unsigned char> buffer(1 << 16);
  uint64_t size = 0;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    sum.Add(buffer.data(), n);
    size += n;
  }
  if (ferror(file.get())) {
    error = errno ? errno : EIO;
    return false;
  }
  digest.Path = path;
  digest.Size = size;
  digest.Sha256 = sum.HexDigest();
  return true;
}

} // namespace kestrune
