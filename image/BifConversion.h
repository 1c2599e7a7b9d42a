// Converts S-record text into a .bif image: the header with the start and
// end address, the image filled with 0xFF, then every record's bytes placed
// over the fill. Every record is checked first: a file with a bad record
// writes nothing. The new .bif is written under a fresh, locked name beside
// the old one (temporaries that killed conversions left there are removed
// first), synced to disk, given the S-record file's time and only then
// moved over the old one, so a failed or interrupted conversion never
// leaves a file that looks current. Reports through LoadStatusText and
// LoadWarnings.
#pragma once

#include "image/MotInput.h"
#include "platform/FileTimes.h"
#include "platform/FileWriter.h"

#include <string>

namespace kestrune {

// Returns the loader's exit code: 0 when the .bif is in place, 1 when the
// conversion failed (the old .bif, if any, is left as it was). motPath
// names the file input reads, to notice a change during the conversion.
int ConvertMotToBif(MotInput &input, const std::string &motPath, const std::string &bifName,
                    const FatTime &motTime, FileWriter &writer);

} // namespace kestrune
