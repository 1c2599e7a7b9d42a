#include "handset/Trace.h"

#include <cstdio>

namespace kestrune::handset {

void Trace::Log(SimTime at, const std::string &text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ", double(at.count()) / 1000.0);
  std::string line = stamp + Prefix + text;
  if (ToStderr)
    std::fprintf(stderr, "handset %s\n", line.c_str());
  Kept.push_back(std::move(line));
  while (Kept.size() > Keep)
    Kept.pop_front();
}

std::string Hex2(uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string HexBytes(const uint8_t *data, size_t length, size_t limit) {
  std::string text;
  for (size_t i = 0; i < length && i < limit; ++i) {
    if (i)
      text += ' ';
    text += Hex2(data[i]);
  }
  if (length > limit)
    text += " ... (" + std::to_string(length) + " bytes)";
  return text;
}

} // namespace kestrune::handset
