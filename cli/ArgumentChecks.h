// Checks of the command line that need the file system: they run before
// any port is opened, so that a mistake costs the operator no handset.
#pragma once

#include "platform/SharedPorts.h" // SamePort

#include <string>

namespace kestrune {

// Empty when the summary file can be written (it is created if missing;
// its contents are replaced only at the end of the runs), else the reason.
std::string SummaryProblem(const std::string &path);

} // namespace kestrune
