#include "image/Sha256.h"

#include "image/HexText.h"

#include <windows.h>

#include <bcrypt.h>

namespace kestrune {

struct Sha256::State {
  BCRYPT_ALG_HANDLE Algorithm = nullptr;
  BCRYPT_HASH_HANDLE Hash = nullptr;
  ~State() {
    if (Hash != nullptr)
      BCryptDestroyHash(Hash);
    if (Algorithm != nullptr)
      BCryptCloseAlgorithmProvider(Algorithm, 0);
  }
};

Sha256::Sha256() : Impl(std::make_unique<State>()) {
  Good = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&Impl->Algorithm, BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(Impl->Algorithm, &Impl->Hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Add(const void *data, size_t length) {
  auto *bytes = static_cast<UCHAR *>(const_cast<void *>(data));
  while (Good && length > 0) {
    ULONG chunk = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
    Good = BCRYPT_SUCCESS(BCryptHashData(Impl->Hash, bytes, chunk, 0));
    bytes += chunk;
    length -= chunk;
  }
}

std::string Sha256::HexDigest() {
  unsigned char sum[32];
  if (!Good || !BCRYPT_SUCCESS(BCryptFinishHash(Impl->Hash, sum, sizeof sum, 0))) {
    Good = false;
    return {};
  }
  return LowerHexBytes(sum, sizeof sum);
}

} // namespace kestrune
