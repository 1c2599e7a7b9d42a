#include "image/ImageDigest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace kestrune {

Guarded<ImageDigest> SentImageDigest;

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char *bytes, unsigned length) {
  static const char Digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += Digits[bytes[i] >> 4];
    text += Digits[bytes[i] & 15];
  }
  return text;
}

std::string Finish(EVP_MD_CTX *context) {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context, sum, &length) != 1)
    return {};
  return Hex(sum, length);
}

} // namespace

std::string Sha256Hex(const uint8_t *data, size_t length) {
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), data, length) != 1)
    return {};
  return Finish(context.get());
}

bool DigestFile(const std::string &path, ImageDigest &digest, int &error) {
  std::unique_ptr<FILE, decltype(&fclose)> file(fopen(path.c_str(), "rb"), fclose);
  if (!file) {
    error = errno;
    return false;
  }
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    error = ENOMEM;
    return false;
  }
  std::vector<unsigned char> buffer(1 << 16);
  uint64_t size = 0;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    EVP_DigestUpdate(context.get(), buffer.data(), n);
    size += n;
  }
  if (ferror(file.get())) {
    error = errno ? errno : EIO;
    return false;
  }
  digest.Path = path;
  digest.Size = size;
  digest.Sha256 = Finish(context.get());
  return true;
}

} // namespace kestrune
