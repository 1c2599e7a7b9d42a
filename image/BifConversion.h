// Converts S-record text into a .bif image: the header with the start and
// end address, the image filled with 0xFF, then every record's bytes placed
// over the fill. The new .bif is written under a fresh name beside the old
// one, synced to disk, given the S-record file's time and only then moved
// over the old one, so a failed or interrupted conversion never leaves a
// file that looks current. Reports through LoadStatusText.
#pragma once

#include "image/MotInput.h"
#include "platform/FileTimes.h"
#include "platform/FileWriter.h"

#include <string>

namespace kestrune {

// Returns the loader's exit code: 0 when the .bif is in place, 1 when the
// conversion failed (the old .bif, if any, is left as it was).
int ConvertMotToBif(MotInput &input, const std::string &bifName, const FatTime &motTime,
                    FileWriter &writer);

} // namespace kestrune
