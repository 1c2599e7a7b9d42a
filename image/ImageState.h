// The image that every channel sends, shared by the loader, the window and
// the channel workers (one of each per process).
#pragma once

#include "image/Guarded.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// The file the operator chose; written by the window just before a load.
extern Guarded<std::string> MotFileName;
// The .bif or .bin the channels open and send; written by the loader.
extern Guarded<std::string> ImageFileName;
// 1 for a raw .bin without header, 0 for a .bif with its 8-byte header.
extern std::atomic<int32_t> ImageIsRawBinary;
// The loader's latest message; the window shows it while it polls.
extern Guarded<std::string> LoadStatusText;
// What the latest load found that did not stop it ("WARNING: ..."), for the
// front ends to show; emptied when a load starts and set before the
// loader's final text.
extern Guarded<std::vector<std::string>> LoadWarnings;

} // namespace kestrune
