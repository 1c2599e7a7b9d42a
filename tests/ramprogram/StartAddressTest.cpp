// Images that do not start at flash address 0, on both handset models: the
// data land at the image's own address, and the flash below the image keeps
// what an earlier run left there.
#include "engine/CommsThread.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrune::test {
namespace {

using namespace std::chrono;
using handset::HandsetOptions;
using handset::RamModel;
using Kind = LoadedImage::Kind;

// One run of one worker against the handset; the last text of the run.
std::string Flash(handset::VirtualHandset &handset, const LoadedImage &image) {
  EXPECT_TRUE(image.Loaded());
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset.DevicePath());
  h.Start(1);
  EXPECT_TRUE(h.ServeUntilAllEnded(seconds(30)));
  return panel.LastText();
}

// Where the flash from `from` on differs from `want`, or -1.
long long FirstDifference(const handset::VirtualHandset &handset, uint32_t from,
                          const std::vector<uint8_t> &want) {
  std::vector<uint8_t> flash = handset.ReadFlash(from, uint32_t(want.size()));
  auto differ = std::mismatch(want.begin(), want.end(), flash.begin());
  return differ.first == want.end() ? -1 : from + (differ.first - want.begin());
}

class StartAddress : public ::testing::TestWithParam<RamModel> {};

TEST_P(StartAddress, ImageLandsAtItsAddressAndTheFlashBelowIsKept) {
  HandsetOptions options;
  options.Model = GetParam();
  auto handset = StartHandset(options);

  // A first image from 0 fills the first segments.
  const std::vector<uint8_t> low = PatternBytes(3 * 32768 + 100, 11);
  ASSERT_EQ(Flash(*handset, LoadedImage(low, Kind::Bin)), CompletedText);
  ASSERT_TRUE(handset->WaitForRuns(1, seconds(5)));

  // S-records from 0x8000 on, three blocks: the erase report path. Segment
  // 1 (0 to 0x7FFF) lies below the image and keeps the first image's bytes.
  const std::vector<uint8_t> high = PatternBytes(2 * 32768 + 5000, 12);
  ASSERT_EQ(Flash(*handset, LoadedImage(high, Kind::SRecord, 0x8000)), CompletedText);
  ASSERT_TRUE(handset->WaitForRuns(2, seconds(5)));
  EXPECT_EQ(FirstDifference(*handset, 0, std::vector<uint8_t>(low.begin(), low.begin() + 0x8000)),
            -1);
  EXPECT_EQ(FirstDifference(*handset, 0x8000, high), -1);
  const uint32_t highEnd = 0x8000 + uint32_t(high.size());
  EXPECT_EQ(FirstDifference(*handset, highEnd, std::vector<uint8_t>(0x40000 - highEnd, 0xFF)), -1)
      << "the segments from the image's on are erased";

  // A one-block .bif at 0x20000 (erase without a report): the four small
  // segments below it are kept.
  const std::vector<uint8_t> block = PatternBytes(20000, 13);
  ASSERT_EQ(Flash(*handset, LoadedImage(block, Kind::Bif, 0x20000)), CompletedText);
  ASSERT_TRUE(handset->WaitForRuns(3, seconds(5)));
  std::vector<uint8_t> below(0x20000, 0xFF);
  std::copy_n(low.begin(), 0x8000, below.begin());
  std::copy(high.begin(), high.end(), below.begin() + 0x8000);
  EXPECT_EQ(FirstDifference(*handset, 0, below), -1);
  EXPECT_EQ(FirstDifference(*handset, 0x20000, block), -1);
  EXPECT_EQ(FirstDifference(*handset, 0x20000 + 20000, std::vector<uint8_t>(0x20000 - 20000, 0xFF)),
            -1);
}

INSTANTIATE_TEST_SUITE_P(Models, StartAddress, ::testing::Values(RamModel::Host, RamModel::Arm),
                         [](const auto &param) {
                           return param.param == RamModel::Host ? "HostModel" : "EmulatedCore";
                         });

} // namespace
} // namespace kestrune::test
