// A serial scheme: the fields written into every unit, read from a JSON
// file such as
//   {"fields":[{"name":"sn","address":"0x1000","length":10,"encoding":"ascii",
//               "counter":{"start":1000,"step":1,"last":999999}}]}
// Each field has a name, where it goes ("address": a flash address inside
// the image's range, or "offset": bytes from the image's first byte; a
// number or a "0x" hex text), a length in bytes, an encoding (ascii, hex,
// bcd, le, be) and one source: "counter", "list" (a file of values, named
// relative to the scheme file: its name, or {"path": NAME, "sha256": HEX}
// to pin its bytes), "imei" or "mac".
#pragma once

#include "serial/FieldEncoding.h"
#include "serial/ValueSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::serial {

struct SchemeField {
  std::string Name;
  std::optional<uint64_t> Address; // one of the two is set
  std::optional<uint64_t> Offset;
  uint32_t Length = 0;
  Encoding Encode = Encoding::Ascii;
  std::shared_ptr<const ValueSource> Source;
  // A list source: the file its values were read from, the SHA-256 of the
  // bytes read, and whether the scheme pins that digest ("list": {"path":
  // ..., "sha256": ...}); a pinned digest that differs refuses the scheme.
  std::string ListFile;
  std::string ListSha256;
  bool ListPinned = false;

  // The pool the field's positions are drawn from.
  std::string Pool() const { return Name + ":" + Source->Origin(); }
  // The value at a position, as the unit's bytes and as its text.
  bool ValueAt(uint64_t position, std::vector<uint8_t> &bytes, std::string &text,
               std::string &error) const;
};

struct SerialScheme {
  std::string Path; // the file it was read from
  std::vector<SchemeField> Fields;
};

// Reads and checks a scheme file on its own: its form, every list line and
// the largest value of every other source against its field. False with
// the operator's text.
bool ReadScheme(const std::string &path, SerialScheme &scheme, std::string &error);
// The same from the file's text; list files are named relative to baseDir.
bool ParseScheme(const std::string &text, const std::string &baseDir, SerialScheme &scheme,
                 std::string &error);

// A field placed in one image: its offset from the image's first byte.
struct PlacedField {
  const SchemeField *Field = nullptr;
  uint64_t Offset = 0;
};

// Places every field in an image of the given start address and size:
// refuses a field outside the image, one running past its end and two that
// overlap. The fields come back in the scheme's order.
bool PlaceFields(const SerialScheme &scheme, uint64_t startAddress, uint64_t imageSize,
                 std::vector<PlacedField> &placed, std::string &error);

} // namespace kestrune::serial
