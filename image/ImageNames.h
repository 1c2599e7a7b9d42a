// What the loader makes of the chosen file's name: its kind, told by the
// extension without regard to case, and the names of the files beside it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

enum class ImageKind {
  ConvertedImage, // ".bif": 8-byte header, then the image
  RawImage,       // ".bin": the whole file is the image
  MotText,        // anything else, or no extension: S-record text
};

struct ImageNames {
  ImageKind Kind = ImageKind::MotText;
  // Directory part and base name of the chosen file with ".bif" and ".bin"
  // (always lower case).
  std::string BifName;
  std::string BinName;
  // The file the channels send: the chosen file itself for a .bif or .bin
  // (the same file as BifName/BinName where names ignore case), the .bif
  // beside it for S-record text.
  std::string SendName;
};

// The extension is the part of the file name from its last dot on.
ImageNames NameImageFiles(const std::string &path);

// v in upper-case hexadecimal, at least six digits, up to eight.
std::string Hex6(uint32_t v);

} // namespace kestrune
