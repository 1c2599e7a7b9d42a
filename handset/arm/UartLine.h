// Rate and framing of one end of a serial line. Two ends understand each
// other only when both agree on all of it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune::arm {

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2 };

struct UartLine {
  uint32_t Rate = 28800;
  uint8_t DataBits = 8;
  uint8_t StopBits = 2;
  arm::Parity Parity = Parity::None;

  bool operator==(const UartLine &) const = default;
  // "921600 8N2"
  std::string Describe() const;
};

// Whether a receiver set to b reads what a sender set to a sends: the same
// framing, and rates within 2% of each other, as UARTs tolerate.
bool LinesAgree(const UartLine &a, const UartLine &b);

} // namespace kestrune::arm
