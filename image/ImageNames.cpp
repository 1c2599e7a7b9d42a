#include "image/ImageNames.h"

#include <cstdio>

namespace kestrune {
namespace {

#ifdef _WIN32
constexpr const char *PathSeparators = "/\\:";
#else
constexpr const char *PathSeparators = "/";
#endif

bool SameIgnoringCase(const std::string &text, const char *lower) {
  size_t i = 0;
  for (; i < text.size() && lower[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i])
      return false;
  }
  return i == text.size() && lower[i] == '\0';
}

} // namespace

ImageNames NameImageFiles(const std::string &path) {
  size_t nameStart = path.find_last_of(PathSeparators);
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart)
    dot = path.size();
  const std::string stem = path.substr(0, dot);
  const std::string extension = path.substr(dot);

  ImageNames names;
  names.BifName = stem + ".bif";
  names.BinName = stem + ".bin";
  if (SameIgnoringCase(extension, ".bif")) {
    names.Kind = ImageKind::ConvertedImage;
    names.SendName = path;
  } else if (SameIgnoringCase(extension, ".bin")) {
    names.Kind = ImageKind::RawImage;
    names.SendName = path;
  } else {
    names.Kind = ImageKind::MotText;
    names.SendName = names.BifName;
  }
  return names;
}

std::string Hex6(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(v));
  return text;
}

} // namespace kestrune
