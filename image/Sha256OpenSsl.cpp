#include "image/Sha256.h"

#include "image/HexText.h"

#include <openssl/evp.h>

namespace kestrune {

struct Sha256::State {
  EVP_MD_CTX *Context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(Context); }
};

Sha256::Sha256() : Impl(std::make_unique<State>()) {
  Good = Impl->Context != nullptr && EVP_DigestInit_ex(Impl->Context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Add(const void *data, size_t length) {
  if (Good && EVP_DigestUpdate(Impl->Context, data, length) != 1)
    Good = false;
}

std::string Sha256::HexDigest() {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (!Good || EVP_DigestFinal_ex(Impl->Context, sum, &length) != 1) {
    Good = false;
    return {};
  }
  return LowerHexBytes(sum, length);
}

} // namespace kestrune
