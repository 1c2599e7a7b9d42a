#include "platform/FileWriter.h"

#include <cstdio>
#include <random>

namespace kestrune {
namespace {

#ifdef _WIN32
constexpr const char *PathSeparators = "/\\:";
#else
constexpr const char *PathSeparators = "/";
#endif

// The longest file name (the part after the last separator) in bytes.
// Linux file systems allow 255 bytes, Windows 255 UTF-16 units, which never
// take more bytes in UTF-8 than that.
constexpr size_t NameMax = 255;
// ".~" and eight hex digits.
constexpr size_t SuffixLength = 10;

size_t NameStart(const std::string &path) {
  size_t separator = path.find_last_of(PathSeparators);
  return separator == std::string::npos ? 0 : separator + 1;
}

// target with its file name cut to leave room for the suffix, at a
// character boundary of its UTF-8.
std::string TemporaryPrefixFor(const std::string &target) {
  const size_t start = NameStart(target);
  size_t length = target.size() - start;
  if (length + SuffixLength <= NameMax)
    return target;
  length = NameMax - SuffixLength;
  while (length > 0 && (static_cast<unsigned char>(target[start + length]) & 0xC0) == 0x80)
    --length;
  return target.substr(0, start + length);
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

} // namespace

std::string TemporaryNameFor(const std::string &target) {
  thread_local std::minstd_rand pick(std::random_device{}());
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".~%08x", static_cast<unsigned>(pick()));
  return TemporaryPrefixFor(target) + suffix;
}

bool IsTemporaryNameFor(const std::string &fileName, const std::string &target) {
  const std::string full = TemporaryPrefixFor(target);
  const std::string prefix = full.substr(NameStart(full));
  const std::string &path = fileName;
  if (path.size() != prefix.size() + SuffixLength || path.compare(0, prefix.size(), prefix) != 0)
    return false;
  if (path[prefix.size()] != '.' || path[prefix.size() + 1] != '~')
    return false;
  for (size_t i = prefix.size() + 2; i < path.size(); ++i)
    if (!IsHexDigit(path[i]))
      return false;
  return true;
}

} // namespace kestrune
