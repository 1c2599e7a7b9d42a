// A second line for the front ends to show beside a port that could not be
// opened for lack of rights: on Linux the serial devices belong to the
// dialout group, and a user outside it gets EACCES.
#pragma once

#include <string>

namespace kestrune {

// The hint for a channel's status text, or "" when the text is not a port
// open refused with EACCES (or on Windows, where access denied means that
// another program holds the port).
std::string PortAccessHint(const std::string &statusText);

} // namespace kestrune
