// The largest image the channels can send (the block count goes on the line
// as 16 bits), and the .bif file's header before the image.
#pragma once

#include "engine/WireBytes.h"

#include <cstdint>
#include <string>

namespace kestrune {

constexpr uint64_t ImageBlockBytes = ProgramBlockSize;
constexpr uint64_t MaxImageBlocks = MaxBlockTotal;
constexpr uint64_t MaxImageBytes = MaxImageBlocks * ImageBlockBytes;
// A .bif starts with the image's start and end address, little-endian.
constexpr uint32_t BifHeaderSize = 8;

inline std::string ImageTooLargeText(uint64_t bytes) {
  return "ERROR: Image of " + std::to_string(bytes) + " bytes is too large (at most " +
         std::to_string(MaxImageBlocks) + " blocks of " + std::to_string(ImageBlockBytes) +
         " bytes)";
}

} // namespace kestrune
