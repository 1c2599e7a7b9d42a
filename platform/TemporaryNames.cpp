#include "platform/FileWriter.h"

#include <cstdio>
#include <random>

namespace kestrune {

std::string TemporaryNameFor(const std::string &prefix) {
  thread_local std::minstd_rand pick(std::random_device{}());
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".~%08x", static_cast<unsigned>(pick()));
  return prefix + suffix;
}

} // namespace kestrune
