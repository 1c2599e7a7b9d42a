// The image loader: decides which file the channels send, converts S-record
// text into a .bif beside it when that is missing or out of date, finds the
// image's address range, reads the image's bytes once into memory
// (LoadedImageReady) and reports what it did in LoadStatusText.
#pragma once

#include "platform/FileWriter.h"

#include <functional>
#include <memory>
#include <string>

namespace kestrune {

// Seams for tests: where a conversion writes its new .bif.
struct LoaderSeams {
  std::function<std::unique_ptr<FileWriter>()> NewWriter = CreateFileWriter;
};

// One load of the file at path. Returns 0 when an image is ready to send,
// 1 when the load failed.
int LoadImageFile(const std::string &path, const LoaderSeams &seams = {});

// The loader's thread procedure: loads the file named by MotFileName and
// returns the thread's exit code (0 ready, 1 failed).
int MotLoaderThread();

} // namespace kestrune
