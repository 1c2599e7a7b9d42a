// One value a field's source gives for one position: a number (counters,
// IMEIs, MAC addresses) or a line of a list file, with the source's own
// text for it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune::serial {

struct SerialValue {
  bool IsNumber = true;
  uint64_t Number = 0;
  // A list line as written; a MAC address in its colon form; decimal
  // digits for the other numbers.
  std::string Text;
};

} // namespace kestrune::serial
