// The bytes and numbers of the handset protocol that both ends know: the
// host's worker, the image loader's limits and the virtual handset take them
// from here, and from nowhere else.
#pragma once

#include <cstdint>

namespace kestrune {

constexpr uint8_t BootCallByte = 0x45;      // "E", the host calls the boot ROM
constexpr uint8_t BootAnswerByte = 0x43;    // "C", the boot ROM answers
constexpr uint8_t RamProgramCommand = 0x6A; // first byte of the RAM program header
constexpr uint8_t AckByte = 0x21;           // "!": done, or ready for more
constexpr uint8_t NakByte = 0x15;           // failed, or send that block again
constexpr uint8_t MapAnswerByte = 0x01;     // the RAM program took the map command
constexpr uint8_t StartByte = 0x01;         // last byte of the programming start header

// A block frame: its data length (16 bits), the 16-bit sum of the address
// and data bytes, the flash address of the data (32 bits), all big-endian,
// then the data.
constexpr uint32_t FrameLengthAt = 0;
constexpr uint32_t FrameSumAt = 2;
constexpr uint32_t FrameAddressAt = 4;
constexpr uint32_t FrameHeaderSize = 8;
constexpr uint32_t ProgramBlockSize = 32768;
// The start header announces the block total in 16 bits.
constexpr uint32_t MaxBlockTotal = 0xFFFF;

} // namespace kestrune
