#include "image/ImageBytes.h"

#include "image/ByteOrder.h"
#include "image/ImageDigest.h"
#include "image/ImageLimits.h"
#include "platform/RegularFileReader.h"
#include "platform/Utf8Paths.h"

#include <algorithm>
#include <filesystem>
#include <new>

namespace kestrune {
namespace {

std::string CodeText(const char *text, uint32_t code) {
  return std::string(text) + " (" + std::to_string(code) + ")";
}

// The name made absolute against the folder of the moment, so that it
// names the same file on record whatever folder reads the record later.
std::string AbsoluteName(const std::string &name) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(name), error);
  return error ? name : Utf8FromPath(absolute.lexically_normal());
}

} // namespace

std::shared_ptr<const ImageBytes> ReadImageBytes(const std::string &chosenPath,
                                                   const FileIdentity &chosen,
                                                   const std::string &path, bool raw,
                                                   std::string &error) {
  const char *cannotRead = raw ? "ERROR: Cannot read BIN file" : "ERROR: Cannot read BIF file";
  const uint64_t most = MaxImageBytes + (raw ? 0 : BifHeaderSize);
  auto file = CreateRegularFileReader();
  if (!file->Open(path)) {
    error = CodeText(cannotRead, file->LastError());
    return nullptr;
  }
  if (file->Size() > most) {
    error = ImageTooLargeText(file->Size() - (raw ? 0 : BifHeaderSize));
    return nullptr;
  }
  auto image = std::make_shared<ImageBytes>();
  image->ChosenPath = AbsoluteName(chosenPath);
  image->Chosen = chosen;
  image->Path = path;
  // The size at opening is only a first guess: a file still being written
  // is read to its end, and what was read is what is sent.
  std::vector<uint8_t> &bytes = image->File;
  bytes.resize(size_t(std::min<uint64_t>(file->Size(), most + 1)));
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > most)
        break;
      bytes.resize(std::min<size_t>(bytes.size() + (size_t{1} << 20), size_t(most + 1)));
    }
    size_t got = 0;
    if (!file->Read(bytes.data() + filled, bytes.size() - filled, got)) {
      error = CodeText(cannotRead, file->LastError());
      return nullptr;
    }
    if (got == 0)
      break;
    filled += got;
  }
  bytes.resize(filled);
  bytes.shrink_to_fit();
  if (!raw && bytes.size() < BifHeaderSize) {
    error = "ERROR: BIF file is too short for its header";
    return nullptr;
  }
  image->DataOffset = raw ? 0 : BifHeaderSize;
  if (image->DataSize() > MaxImageBytes) {
    error = ImageTooLargeText(image->DataSize());
    return nullptr;
  }
  image->StartAddress = raw ? 0 : ReadLittleEndian32(bytes.data());
  image->Sha256 = Sha256Hex(bytes.data(), bytes.size());
  image->LoadedAt = std::chrono::system_clock::now();
  return image;
}

} // namespace kestrune
