// End-to-end scaffolding: images loaded through the real loader, virtual
// handsets on pseudo-terminals and workers on test panels.
#pragma once

#include "handset/VirtualHandset.h"
#include "tests/support/TestPanel.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::test {

extern const std::string CompletedText;

// Writes an image file in a directory of its own and loads it with the
// image loader, so that ImageFileName and ImageIsRawBinary are set as the
// window would have them. Data() is what the handset's flash must hold.
class LoadedImage {
public:
  enum class Kind { Bin, Bif, SRecord };
  // The image's data start at flash address start (S-records and .bif).
  LoadedImage(const std::vector<uint8_t> &data, Kind kind, uint32_t start = 0);
  ~LoadedImage();
  bool Loaded() const { return LoadExitCode == 0; }
  const std::vector<uint8_t> &Data() const { return Bytes; }
  const std::filesystem::path &SourcePath() const { return Source; }

private:
  std::filesystem::path Directory;
  std::filesystem::path Source;
  std::vector<uint8_t> Bytes;
  int LoadExitCode = 1;
};

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 1);

// True when the handset's flash holds data from address 0 and 0xFF after it;
// otherwise fills *why.
bool FlashHolds(const handset::VirtualHandset &handset, const std::vector<uint8_t> &data,
                std::string *why);

// A handset on a fresh pseudo-terminal; fails the test when it can't start.
std::unique_ptr<handset::VirtualHandset> StartHandset(handset::HandsetOptions options = {});

// Open descriptors of this process that refer to path.
int OpenDescriptorsOf(const std::filesystem::path &path);

} // namespace kestrune::test
