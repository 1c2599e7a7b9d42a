// A fixture for tests of the loader: a scratch directory and the shared
// image state reset around each test.
#pragma once

#include "MotTestFiles.h"

#include "image/ImageState.h"
#include "platform/FileTimes.h"

#include <gtest/gtest.h>

namespace kestrune::test {

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadedImageReady.Set(nullptr);
    LoadStatusText.Set("");
  }

  // The file the latest load read its image from ("" when none is ready),
  // and whether it was a raw image (no .bif header).
  static std::string SentPath() {
    auto image = LoadedImageReady.Get();
    return image ? image->Path : std::string();
  }
  static int SentRaw() {
    auto image = LoadedImageReady.Get();
    return image && image->DataOffset == 0 ? 1 : 0;
  }

  static FatTime FatTimeOf(const std::string &path) {
    FatTime time;
    uint32_t error = 0;
    EXPECT_TRUE(GetLastWriteFatTime(path, time, error)) << path << " error " << error;
    return time;
  }

  // The .bif header and image.
  static uint32_t HeaderWord(const Bytes &bif, size_t at) {
    return uint32_t{bif.at(at)} | uint32_t{bif.at(at + 1)} << 8 | uint32_t{bif.at(at + 2)} << 16 |
           uint32_t{bif.at(at + 3)} << 24;
  }
  static Bytes ImagePart(const Bytes &bif) { return Bytes(bif.begin() + 8, bif.end()); }

  ScratchDir Dir;
};

} // namespace kestrune::test
