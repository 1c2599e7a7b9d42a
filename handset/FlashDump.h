// Writes the flash contents (16 MiB) to a file after each run. The file is
// written beside its target and renamed over it, so a reader never sees a
// half-written dump.
#pragma once

#include "handset/NorFlash.h"

#include <string>

namespace kestrune::handset {

// False with the reason in error.
bool WriteFlashDump(const NorFlash &flash, const std::string &path, std::string &error);

} // namespace kestrune::handset
