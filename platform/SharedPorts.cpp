#include "platform/SharedPorts.h"

#include "platform/SerialPort.h"

#include <cctype>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kestrune {
namespace {

#ifdef _WIN32
std::string Upper(std::string text) {
  for (char &c : text)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
#endif

} // namespace

bool SamePort(const std::string &a, const std::string &b) {
  if (a == b)
    return true;
#ifdef _WIN32
  return Upper(WindowsPortPath(a)) == Upper(WindowsPortPath(b));
#else
  // std::filesystem::equivalent refuses to compare two devices.
  struct stat first {}, second {};
  if (::stat(PosixPortPath(a).c_str(), &first) == 0 && ::stat(PosixPortPath(b).c_str(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  return PosixPortPath(a) == PosixPortPath(b);
#endif
}

} // namespace kestrune
