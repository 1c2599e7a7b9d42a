#include "job/SupervisorPassword.h"

#include "image/HexText.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdint>
#include <vector>

namespace kestrune::job {
namespace {

constexpr size_t SaltBytes = 16, HashBytes = 32;
const std::string Scheme = "pbkdf2-sha256";

bool Derive(const std::string &password, const std::vector<uint8_t> &salt, unsigned iterations,
            std::vector<uint8_t> &hash) {
  hash.assign(HashBytes, 0);
  return PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt.data(), int(salt.size()),
                           int(iterations), EVP_sha256(), int(hash.size()), hash.data()) == 1;
}

bool FromHex(const std::string &text, std::vector<uint8_t> &bytes) {
  bytes.clear();
  if (text.size() % 2 != 0)
    return false;
  auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0)
      return false;
    bytes.push_back(uint8_t(high * 16 + low));
  }
  return true;
}

} // namespace

std::string HashPassword(const std::string &password, std::string &why) {
  if (password.empty()) {
    why = "the supervisor's password cannot be empty";
    return {};
  }
  std::vector<uint8_t> salt(SaltBytes), hash;
  if (RAND_bytes(salt.data(), int(salt.size())) != 1 ||
      !Derive(password, salt, PasswordIterations, hash)) {
    why = "the password could not be hashed (libcrypto)";
    return {};
  }
  return Scheme + "$" + std::to_string(PasswordIterations) + "$" +
         LowerHexBytes(salt.data(), salt.size()) + "$" + LowerHexBytes(hash.data(), hash.size());
}

bool PasswordMatches(const std::string &password, const std::string &stored) {
  // scheme$iterations$salt$hash
  const size_t a = stored.find('$'), b = stored.find('$', a + 1), c = stored.find('$', b + 1);
  if (a == std::string::npos || b == std::string::npos || c == std::string::npos ||
      stored.substr(0, a) != Scheme)
    return false;
  const std::string count = stored.substr(a + 1, b - a - 1);
  if (count.empty() || count.size() > 9 || count.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned iterations = unsigned(std::stoul(count));
  std::vector<uint8_t> salt, kept, hash;
  if (iterations == 0 || !FromHex(stored.substr(b + 1, c - b - 1), salt) || salt.empty() ||
      !FromHex(stored.substr(c + 1), kept) || kept.size() != HashBytes)
    return false;
  if (!Derive(password, salt, iterations, hash))
    return false;
  return CRYPTO_memcmp(hash.data(), kept.data(), HashBytes) == 0;
}

} // namespace kestrune::job
