#include "image/MotLoaderThread.h"

#include "image/BifConversion.h"
#include "image/ByteOrder.h"
#include "image/ImageLimits.h"
#include "image/ImageNames.h"
#include "image/ImageState.h"
#include "image/LoadFailure.h"
#include "image/MotFileInput.h"
#include "platform/FileTimes.h"
#include "platform/RegularFileReader.h"

#include <filesystem>
#include <new>

namespace kestrune {
namespace {

// A record below the highest one may reach past the end by at most the
// longest record's data (252 bytes for S1): a .bif longer than that, or
// shorter than its header's range, was not written by a conversion.
constexpr uint64_t MostBeyondEnd = 252;

bool FileExists(const std::string &path) {
  std::error_code ignored;
  // An error other than "not found" counts as present: opening it will
  // then tell what is wrong.
  return std::filesystem::status(path, ignored).type() != std::filesystem::file_type::not_found;
}

std::string NotRegularText(const char *what, const std::string &kind) {
  return std::string("ERROR: ") + what + " is " + kind + ", not a regular file";
}

// What an existing .bif says about the image range.
enum class Existing { Current, OutOfDate, Unreadable };

Existing Unreadable(const std::string &text) {
  FailLoad(text);
  return Existing::Unreadable;
}

Existing Unreadable(const char *text, uint32_t code) {
  FailLoadWithCode(text, code);
  return Existing::Unreadable;
}

// Whether the .bif beside an S-record file was written from it as it is
// now: its time in the S-record file's two-second slot, and its last
// change (its conversion put it in place) not before the S-record file's
// last write nor its last change (a copy with its old time kept, a rename
// over it). File times come from a clock that moves in steps of a few
// milliseconds, so equal times count as "not before". A .bif chosen
// directly is its own input and current by definition.
bool WrittenAfter(const std::string &motPath, const FatTime &motTime, const std::string &bifName,
                  uint32_t &error, bool &readable) {
  FatTime bifTime;
  FileClock motWritten, motChanged, bifWritten, bifChanged;
  readable = GetLastWriteFatTime(bifName, bifTime, error) &&
             GetFileClocks(motPath, motWritten, motChanged, error) &&
             GetFileClocks(bifName, bifWritten, bifChanged, error);
  return readable && bifTime == motTime && bifChanged >= motWritten && bifChanged >= motChanged;
}

// The header of a .bif. For the .bif of an S-record file (cached), a file
// that is out of date, or whose header and size do not agree with what a
// conversion writes, is to be converted again.
Existing ReadBif(const std::string &bifName, const std::string *motPath, const FatTime &motTime,
                 uint32_t &start, uint32_t &end) {
  uint32_t error = 0;
  bool readable = true;
  if (motPath && !WrittenAfter(*motPath, motTime, bifName, error, readable))
    return readable ? Existing::OutOfDate : Unreadable("ERROR: Cannot read BIF file", error);
  auto file = CreateRegularFileReader();
  if (!file->Open(bifName)) {
    if (!file->NotRegular().empty())
      return Unreadable(NotRegularText("BIF file", file->NotRegular()));
    return Unreadable("ERROR: Cannot read BIF file", file->LastError());
  }
  uint8_t header[BifHeaderSize];
  size_t received = 0;
  for (size_t got = 1; received < sizeof header && got > 0; received += got)
    if (!file->Read(header + received, sizeof header - received, got))
      return Unreadable("ERROR: Cannot read BIF file", file->LastError());
  const uint64_t size = file->Size();
  if (received < sizeof header || size < sizeof header) {
    if (motPath)
      return Existing::OutOfDate;
    return Unreadable("ERROR: BIF file is too short for its header");
  }
  start = ReadLittleEndian32(header);
  end = ReadLittleEndian32(header + 4);
  const uint64_t image = size - sizeof header;
  if (motPath && (start > end || image < end - start || image - (end - start) > MostBeyondEnd))
    return Existing::OutOfDate;
  if (image > MaxImageBytes)
    return Unreadable(ImageTooLargeText(image));
  return Existing::Current;
}

// The chosen file could not be opened: say why.
int FailOpen(const MotFileInput &input, const ImageNames &names, uint32_t error, bool directory) {
  const char *what = names.Kind == ImageKind::RawImage         ? "BIN file"
                     : names.Kind == ImageKind::ConvertedImage ? "BIF file"
                                                               : "MOT file";
  if (!input.NotRegular().empty())
    return FailLoad(NotRegularText(what, input.NotRegular()));
  if (directory)
    return FailLoadWithCode((std::string("ERROR: Cannot read ") + what).c_str(), error);
  return FailLoad("ERROR: Cannot open MOT file for reading");
}

int Load(const std::string &path, const LoaderSeams &seams, const ImageNames &names) {
  LoadWarnings.Set({});
  MotFileInput input;
  uint32_t error = 0;
  if (!input.Open(path, error))
    return FailOpen(input, names, error, input.WasDirectory());
  FatTime motTime;
  if (!GetLastWriteFatTime(path, motTime, error))
    return FailLoadWithCode("ERROR: Cannot read MOT file time", error);

  bool convert = false;
  if (names.Kind == ImageKind::MotText)
    convert = !FileExists(names.BifName);

  uint32_t start = 0;
  uint32_t end = 0;
  if (names.Kind == ImageKind::RawImage) {
    // A raw image starts at 0 and ends at its length.
    if (input.Size() > MaxImageBytes)
      return FailLoad(ImageTooLargeText(input.Size()));
    end = static_cast<uint32_t>(input.Size());
  } else if (!convert) {
    const bool cached = names.Kind == ImageKind::MotText;
    Existing bif = ReadBif(names.SendName, cached ? &path : nullptr, motTime, start, end);
    if (bif == Existing::Unreadable)
      return 1;
    convert = bif == Existing::OutOfDate;
  }

  if (convert) {
    std::unique_ptr<FileWriter> writer = seams.NewWriter();
    return ConvertMotToBif(input, path, names.BifName, motTime, *writer);
  }
  const bool raw = names.Kind == ImageKind::RawImage;
  LoadStatusText.Set(std::string(raw ? "BIN 파일 " : "BIF 파일 ") + ", 시작 0x" +
                     Hex6(start) + ", 종료 0x" + Hex6(end));
  return 0;
}

} // namespace

int LoadImageFile(const std::string &path, const LoaderSeams &seams) {
  LoadedImageReady.Set(nullptr);
  try {
    // The chosen file as it is before anything is read: a change after
    // this moment shows at the next start.
    const FileIdentity chosen = IdentifyFile(path);
    const ImageNames names = NameImageFiles(path);
    int result = Load(path, seams, names);
    if (result != 0)
      return result;
    // The bytes the channels send are read here, once, and digested from
    // memory: nothing reads the file again for a run.
    std::string error;
    auto image = ReadImageBytes(path, chosen, names.SendName,
                                 names.Kind == ImageKind::RawImage, error);
    if (!image)
      return FailLoad(error);
    LoadedImageReady.Set(std::move(image));
    return 0;
  } catch (const std::bad_alloc &) {
    return FailLoad("ERROR: Out of memory while loading the image");
  } catch (const std::exception &failure) {
    return FailLoad(std::string("ERROR: ") + failure.what());
  }
}

int MotLoaderThread() { return LoadImageFile(MotFileName.Get()); }

} // namespace kestrune
