// The handset's log of every message it received and sent, kept for tests
// (the latest lines) and echoed to stderr when asked.
#pragma once

#include "handset/SimTime.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kestrune::handset {

class Trace {
public:
  explicit Trace(bool toStderr = false, size_t keep = 4000) : ToStderr(toStderr), Keep(keep) {}
  void Log(SimTime at, const std::string &text);
  std::vector<std::string> Lines() const { return {Kept.begin(), Kept.end()}; }
  void SetPrefix(std::string prefix) { Prefix = std::move(prefix); }

private:
  bool ToStderr;
  size_t Keep;
  std::string Prefix;
  std::deque<std::string> Kept;
};

// "21 01 00 00 00 00", at most `limit` bytes, then "... (n bytes)".
std::string HexBytes(const uint8_t *data, size_t length, size_t limit = 16);
std::string Hex2(uint8_t byte);
// Eight upper-case hexadecimal digits.
std::string Hex8(uint32_t value);

} // namespace kestrune::handset
