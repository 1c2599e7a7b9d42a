// SHA-256 of bytes in memory, as run records and job checks name them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrune {

// SHA-256 of a buffer, lower-case hex; empty when the crypto library fails.
std::string Sha256Hex(const uint8_t *data, size_t length);

} // namespace kestrune
