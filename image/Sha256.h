// SHA-256 over a stream of bytes, from the platform's own crypto library
// (OpenSSL's libcrypto on Linux, CNG's bcrypt on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

class Sha256 {
public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256 &) = delete;
  Sha256 &operator=(const Sha256 &) = delete;

  // False once anything failed, including the set-up.
  bool Ok() const { return Good; }
  void Add(const void *data, size_t length);
  // The sum in lower-case hex; empty when a step failed.
  std::string HexDigest();

private:
  struct State;
  std::unique_ptr<State> Impl;
  bool Good = false;
};

} // namespace kestrune
