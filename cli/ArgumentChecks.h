// Checks of the command line that need the file system: they run before
// any port is opened, so that a mistake costs the operator no handset.
#pragma once

#include <string>

namespace kestrune {

// Whether two port names name one port: the same text, or (on POSIX) two
// paths to one device, such as a /dev/serial/by-id link and its ttyUSB.
bool SamePort(const std::string &a, const std::string &b);

// Empty when the summary file can be written (it is created if missing;
// its contents are replaced only at the end of the runs), else the reason.
std::string SummaryProblem(const std::string &path);

} // namespace kestrune
