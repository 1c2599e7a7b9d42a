#include "serial/ValueSource.h"

#include <cctype>
#include <cstdio>

namespace kestrune::serial {
namespace {

class Mac final : public ValueSource {
public:
  Mac(uint64_t first, uint64_t last) : First(first), Last(last) {}
  uint64_t Capacity() const override { return Last < First ? 0 : Last - First + 1; }
  SerialValue At(uint64_t position) const override {
    uint64_t n = First + position;
    return {true, n, MacText(n)};
  }
  std::string Origin() const override { return "mac:" + MacText(First); }

private:
  uint64_t First, Last;
};

} // namespace

bool ParseMac(const std::string &text, uint64_t &value) {
  // Six two-digit hex bytes with one kind of separator between them.
  if (text.size() != 17)
    return false;
  value = 0;
  for (size_t i = 0; i < 17; ++i) {
    char c = text[i];
    if (i % 3 == 2) {
      if (c != text[2] || (c != ':' && c != '-'))
        return false;
      continue;
    }
    if (!std::isxdigit((unsigned char)c))
      return false;
    value = value << 4 | uint64_t(std::isdigit((unsigned char)c) ? c - '0'
                                                                 : std::tolower((unsigned char)c) - 'a' + 10);
  }
  return true;
}

std::string MacText(uint64_t value) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", unsigned(value >> 40 & 255),
                unsigned(value >> 32 & 255), unsigned(value >> 24 & 255),
                unsigned(value >> 16 & 255), unsigned(value >> 8 & 255), unsigned(value & 255));
  return text;
}

std::unique_ptr<ValueSource> MacSource(uint64_t first, uint64_t last) {
  return std::make_unique<Mac>(first, last);
}

} // namespace kestrune::serial
