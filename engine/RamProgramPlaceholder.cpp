// Until the handset's real loader is built, the RAM program is a placeholder
// that the virtual handset recognises byte for byte (docs/ram-program.md):
// a text that names it, then a counting pattern, then the 28 bytes of 0xFF
// that end every RAM program image.
#include "engine/RamProgram.h"

#include <string_view>

namespace kestrune {

static constexpr std::array<uint8_t, RamProgramLength> BuildPlaceholder() {
  std::array<uint8_t, RamProgramLength> image{};
  constexpr std::string_view tag = "KESTRUNE RAM PROGRAM PLACEHOLDER 1";
  uint32_t i = 0;
  for (char c : tag)
    image[i++] = static_cast<uint8_t>(c);
  for (; i < RamProgramLength - 28; ++i)
    image[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
  for (; i < RamProgramLength; ++i)
    image[i] = 0xFF;
  return image;
}

const std::array<uint8_t, RamProgramLength> RamProgram = BuildPlaceholder();

} // namespace kestrune
