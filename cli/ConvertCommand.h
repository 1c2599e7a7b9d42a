// "kestrune-cli convert FILE": loads an image file the way the window does
// and prints what the loader reports.
#pragma once

#include <ostream>
#include <string>

namespace kestrune {

// Runs the image loader on file, polling it every 10 ms like the window,
// and prints each new LoadStatusText as it appears, one per line, the
// loader's final text last, and each of the loader's warnings before it.
// Returns the loader's exit code (0 image ready, 1 load failed).
int RunConvert(const std::string &file, std::ostream &out);

} // namespace kestrune
