// The largest image the channels can send: the block count goes on the
// line as 16 bits.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

constexpr uint64_t ImageBlockBytes = 32768;
constexpr uint64_t MaxImageBlocks = 65535;
constexpr uint64_t MaxImageBytes = MaxImageBlocks * ImageBlockBytes;

inline std::string ImageTooLargeText(uint64_t bytes) {
  return "ERROR: Image of " + std::to_string(bytes) + " bytes is too large (at most " +
         std::to_string(MaxImageBlocks) + " blocks of " + std::to_string(ImageBlockBytes) +
         " bytes)";
}

} // namespace kestrune
