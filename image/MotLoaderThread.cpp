#include "image/MotLoaderThread.h"

#include "image/BifConversion.h"
#include "image/ImageDigest.h"
#include "image/ImageNames.h"
#include "image/ImageState.h"
#include "image/LoadFailure.h"
#include "image/MotFileInput.h"
#include "platform/FileTimes.h"
#include "platform/ImageFileReader.h"

#include <filesystem>
#include <new>

namespace kestrune {
namespace {

bool FileExists(const std::string &path) {
  std::error_code ignored;
  // An error other than "not found" counts as present: opening it will
  // then tell what is wrong.
  return std::filesystem::status(path, ignored).type() != std::filesystem::file_type::not_found;
}

uint32_t ReadLittleEndian(const uint8_t *at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// What an existing .bif says about the image range.
enum class Existing { Current, OutOfDate, Unreadable };

Existing Unreadable(const char *text, uint32_t code) {
  FailLoadWithCode(text, code);
  return Existing::Unreadable;
}

// The header of a .bif, unless its time says it is out of date.
Existing ReadBif(const std::string &bifName, const FatTime &motTime, uint32_t &start,
                 uint32_t &end) {
  auto file = CreateImageFileReader();
  FatTime bifTime;
  uint32_t error = 0;
  if (!file->Open(bifName))
    return Unreadable("ERROR: Cannot read BIF file", file->LastError());
  if (!GetLastWriteFatTime(bifName, bifTime, error))
    return Unreadable("ERROR: Cannot read BIF file", error);
  if (bifTime != motTime)
    return Existing::OutOfDate;
  uint8_t header[8];
  uint32_t received = 0;
  if (!file->Read(header, sizeof header, received))
    return Unreadable("ERROR: Cannot read BIF file", file->LastError());
  if (received < sizeof header) {
    FailLoad("ERROR: BIF file is too short for its header");
    return Existing::Unreadable;
  }
  start = ReadLittleEndian(header);
  end = ReadLittleEndian(header + 4);
  return Existing::Current;
}

// A raw image starts at 0 and ends at its length.
bool ReadBin(const std::string &binName, uint32_t &start, uint32_t &end) {
  auto file = CreateImageFileReader();
  if (!file->Open(binName)) {
    FailLoadWithCode("ERROR: Cannot read BIN file", file->LastError());
    return false;
  }
  start = 0;
  end = file->Size();
  // Make sure the file gives its bytes (a directory opens but reads fail).
  uint8_t first = 0;
  uint32_t received = 0;
  if (end > 0 && !file->Read(&first, 1, received)) {
    FailLoadWithCode("ERROR: Cannot read BIN file", file->LastError());
    return false;
  }
  return true;
}

int Load(const std::string &path, const LoaderSeams &seams) {
  ImageIsRawBinary = 0;
  MotFileInput input;
  uint32_t error = 0;
  if (!input.Open(path, error))
    return FailLoad("ERROR: Cannot open MOT file for reading");
  FatTime motTime;
  if (!GetLastWriteFatTime(path, motTime, error))
    return FailLoadWithCode("ERROR: Cannot read MOT file time", error);

  const ImageNames names = NameImageFiles(path);
  bool convert = false;
  if (names.Kind == ImageKind::RawImage)
    ImageIsRawBinary = 1;
  else if (names.Kind == ImageKind::MotText)
    convert = !FileExists(names.BifName);
  ImageFileName.Set(names.SendName);

  uint32_t start = 0;
  uint32_t end = 0;
  if (names.Kind == ImageKind::RawImage) {
    if (!ReadBin(names.SendName, start, end))
      return 1;
  } else if (!convert) {
    // A .bif chosen directly is its own input: the times agree.
    Existing bif = ReadBif(names.SendName, motTime, start, end);
    if (bif == Existing::Unreadable)
      return 1;
    convert = bif == Existing::OutOfDate;
  }

  if (convert) {
    std::unique_ptr<FileWriter> writer = seams.NewWriter();
    return ConvertMotToBif(input, names.BifName, motTime, *writer);
  }
  LoadStatusText.Set(std::string(ImageIsRawBinary ? "BIN 파일 " : "BIF 파일 ") + ", 시작 0x" +
                     Hex6(start) + ", 종료 0x" + Hex6(end));
  return 0;
}

// Records name the bytes sent by their digest, taken once per load. A file
// that loaded but cannot be digested leaves the digest empty: the load
// itself stands.
void NoteDigest() {
  ImageDigest digest;
  int error = 0;
  if (!DigestFile(ImageFileName.Get(), digest, error))
    digest = ImageDigest{ImageFileName.Get(), 0, {}};
  SentImageDigest.Set(std::move(digest));
}

} // namespace

int LoadImageFile(const std::string &path, const LoaderSeams &seams) {
  SentImageDigest.Set({});
  try {
    int result = Load(path, seams);
    if (result == 0)
      NoteDigest();
    return result;
  } catch (const std::bad_alloc &) {
    return FailLoad("ERROR: Out of memory while loading the image");
  } catch (const std::exception &failure) {
    return FailLoad(std::string("ERROR: ") + failure.what());
  }
}

int MotLoaderThread() { return LoadImageFile(MotFileName.Get()); }

} // namespace kestrune
