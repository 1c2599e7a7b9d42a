// Two channels must never be given one port: the second open would fail
// with "busy" after the first channel had already started on it. The front
// ends check the whole set of ports before they open anything.
#pragma once

#include <string>

namespace kestrune {

// Whether two port names name one port: the same text, or (on POSIX) two
// paths to one device, such as a /dev/serial/by-id link and its ttyUSB; on
// Windows "com3" and "COM3".
bool SamePort(const std::string &a, const std::string &b);

} // namespace kestrune
