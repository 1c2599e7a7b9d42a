#include "records/Uuid.h"

#ifdef _WIN32
#include <array>
#include <cstdio>
#include <random>
#else
#include <uuid/uuid.h>
#endif

namespace kestrune::records {

#ifdef _WIN32
// libuuid is not there; the system's random device gives the 122 bits.
std::string NewUuid() {
  thread_local std::random_device device;
  std::array<unsigned char, 16> bytes;
  for (auto &b : bytes)
    b = static_cast<unsigned char>(device());
  bytes[6] = (bytes[6] & 0x0F) | 0x40;
  bytes[8] = (bytes[8] & 0x3F) | 0x80;
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                bytes[15]);
  return text;
}
#else
std::string NewUuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}
#endif

} // namespace kestrune::records
