// The RAM program on the emulated core, block exchange: the answers to each
// block, the erase report, refused blocks, flash failures and the verdict,
// and what ends up in the flash.
#include "tests/ramprogram/CoreHarness.h"

#include <gtest/gtest.h>

namespace kestrune::test {
namespace {

constexpr uint32_t Block = 32768;
const std::vector<uint8_t> Ack{0x21};
const std::vector<uint8_t> Nak{0x15};
const std::vector<uint8_t> Report(131, 0x21);

std::span<const uint8_t> BlockOf(const std::vector<uint8_t> &image, uint32_t k) {
  size_t start = size_t(k - 1) * Block;
  return std::span(image).subspan(start, std::min<size_t>(Block, image.size() - start));
}

std::vector<uint8_t> Record(uint32_t c, uint32_t s) {
  std::vector<uint8_t> bytes{0x15};
  for (uint32_t word : {c, s})
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(uint8_t(word >> shift));
  return bytes;
}

// The flash holds the image from address 0 and 0xFF everywhere else.
void ExpectFlashHolds(const arm::FlashChip &flash, const std::vector<uint8_t> &image) {
  auto contents = flash.Contents();
  ASSERT_TRUE(std::equal(image.begin(), image.end(), contents.begin()));
  auto notErased = std::find_if(contents.begin() + long(image.size()), contents.end(),
                                [](uint8_t b) { return b != 0xFF; });
  EXPECT_EQ(notErased, contents.end()) << "at " << (notErased - contents.begin());
}

// A handset whose flash holds an old image everywhere, so the erase shows.
std::unique_ptr<CoreHarness> UsedHandset() {
  auto h = std::make_unique<CoreHarness>();
  h->Flash.Fill(0, std::vector<uint8_t>(arm::FlashChip::Size, 0x5A));
  h->Boot();
  return h;
}

class ImageSizes : public ::testing::TestWithParam<size_t> {};

TEST_P(ImageSizes, ProgramsTheImageAndErasesTheRest) {
  const auto image = PatternImage(GetParam());
  const uint32_t total = uint32_t((image.size() + Block - 1) / Block);
  auto h = UsedHandset();
  h->Begin(total);
  for (uint32_t k = 1; k <= total; ++k) {
    h->Send(Frame((k - 1) * Block, BlockOf(image, k)));
    if (k == 2 && total >= 3)
      EXPECT_EQ(h->Receive(131), Report);
    else
      EXPECT_EQ(h->Receive(1), Ack) << "block " << k;
  }
  if (total == 0) {
    EXPECT_EQ(h->Receive(1), Ack); // the verdict at once
  }
  EXPECT_TRUE(h->BackInBootRom()) << h->Core->End().Text;
  EXPECT_TRUE(h->Quiet(10ms));
  if (total == 0) { // nothing was erased
    EXPECT_EQ(h->Flash.Contents()[0], 0x5A);
    return;
  }
  ExpectFlashHolds(h->Flash, image);
}

// Empty, one, two, three and five blocks, a 40000-byte image (a short second
// block), an odd length and an image whose last block is short.
INSTANTIATE_TEST_SUITE_P(Blocks, ImageSizes,
                         ::testing::Values(0, 32768, 40000, 65536, 3 * 32768, 5 * 32768,
                                           2 * 32768 + 1001, 4 * 32768 + 7));

TEST(RamProgramDownload, ShortSecondBlockOfALongerImageIsTheLast) {
  auto h = UsedHandset();
  auto image = PatternImage(32768 + 100);
  h->Begin(5); // the host announced more than its file held
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  h->Send(Frame(Block, BlockOf(image, 2)));
  EXPECT_EQ(h->Receive(1), Ack); // the verdict, no report
  EXPECT_TRUE(h->BackInBootRom());
  ExpectFlashHolds(h->Flash, image);
}

TEST(RamProgramDownload, RefusedFirstBlockComesAgain) {
  auto h = UsedHandset();
  auto image = PatternImage(3 * Block);
  h->Begin(3);
  auto bad = Frame(0, BlockOf(image, 1));
  bad[100] ^= 0x01;
  h->Send(bad);
  EXPECT_EQ(h->Receive(1), Nak);
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  h->Send(Frame(Block, BlockOf(image, 2)));
  EXPECT_EQ(h->Receive(131), Report);
  h->Send(Frame(2 * Block, BlockOf(image, 3)));
  EXPECT_EQ(h->Receive(1), Ack);
  EXPECT_TRUE(h->BackInBootRom());
  ExpectFlashHolds(h->Flash, image);
}

// The report still goes out for a refused second block, with the NAK right
// after its 131st byte; the block sent again gets a report of its own.
TEST(RamProgramDownload, RefusedSecondBlockIsReportedTwice) {
  auto h = UsedHandset();
  auto image = PatternImage(4 * Block);
  h->Begin(4);
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  auto bad = Frame(Block, BlockOf(image, 2));
  bad[2] ^= 0x80; // the sum itself
  h->Send(bad);
  auto answer = h->Receive(132);
  EXPECT_EQ(std::vector<uint8_t>(answer.begin(), answer.begin() + 131), Report);
  EXPECT_EQ(answer.back(), 0x15);
  h->Send(Frame(Block, BlockOf(image, 2)));
  EXPECT_EQ(h->Receive(131), Report);
  EXPECT_TRUE(h->Quiet(20ms)); // nothing more until block 3
  for (uint32_t k = 3; k <= 4; ++k) {
    h->Send(Frame((k - 1) * Block, BlockOf(image, k)));
    EXPECT_EQ(h->Receive(1), Ack);
  }
  EXPECT_TRUE(h->BackInBootRom());
  ExpectFlashHolds(h->Flash, image);
}

// The host never sends its last block again: a refused last block is the
// verdict, with the record of what failed so far.
TEST(RamProgramDownload, RefusedLastBlockIsTheVerdict) {
  auto h = UsedHandset();
  auto image = PatternImage(Block + 10);
  h->Begin(2);
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  auto bad = Frame(Block, BlockOf(image, 2));
  bad.back() ^= 0xFF;
  h->Send(bad);
  EXPECT_EQ(h->Receive(9), Record(0, 0));
  EXPECT_TRUE(h->BackInBootRom());
  EXPECT_EQ(h->Flash.Contents()[0], 0x5A); // nothing erased or programmed
}

TEST(RamProgramDownload, OversizedFrameIsDrainedAndRefused) {
  auto h = UsedHandset();
  auto image = PatternImage(2 * Block);
  h->Begin(2);
  auto frame = Frame(0, BlockOf(image, 1));
  frame[0] = 0x90; // claims 36864 bytes
  h->Send(frame);
  EXPECT_EQ(h->Receive(1), Nak);
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  h->Send(Frame(Block, BlockOf(image, 2)));
  EXPECT_EQ(h->Receive(1), Ack);
  EXPECT_TRUE(h->BackInBootRom());
  ExpectFlashHolds(h->Flash, image);
}

TEST(RamProgramDownload, StartHeaderForOtherBlocksIsRefusedWithAVerdict) {
  CoreHarness h;
  h.Boot();
  ASSERT_EQ(h.Configure(), 0x21);
  h.Send({0x00, 0x03, 0x00, 0x00, 0x40, 0x00, 0x01});
  std::vector<uint8_t> expected{0x15};
  auto record = Record(0, 0);
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(h.Receive(10), expected);
  EXPECT_TRUE(h.BackInBootRom());
}

// A failed segment: NAK in place of its ACK, and the program stops there.
TEST(RamProgramDownload, FailedSegmentEndsTheReport) {
  auto h = UsedHandset();
  h->Flash.FailErase(6); // the seventh segment
  auto image = PatternImage(3 * Block);
  h->Begin(3);
  h->Send(Frame(0, BlockOf(image, 1)));
  EXPECT_EQ(h->Receive(1), Ack);
  h->Send(Frame(Block, BlockOf(image, 2)));
  std::vector<uint8_t> expected(6, 0x21);
  expected.push_back(0x15);
  EXPECT_EQ(h->Receive(7), expected);
  EXPECT_TRUE(h->BackInBootRom());
  EXPECT_TRUE(h->Quiet(10ms));
  auto contents = h->Flash.Contents();
  EXPECT_EQ(contents[0], 0xFF);                       // segment 1 erased
  EXPECT_EQ(contents[arm::FlashChip::SegmentStart(6)], 0x5A); // segment 7 not
  EXPECT_EQ(contents[arm::FlashChip::SegmentStart(7)], 0x5A); // nor what follows
}

TEST(RamProgramDownload, FailedSegmentOfAShortImageIsAProgrammingError) {
  auto h = UsedHandset();
  h->Flash.FailErase(130);
  auto image = PatternImage(1000);
  h->Begin(1);
  h->Send(Frame(0, image));
  EXPECT_EQ(h->Receive(9), Record(1, RH_FLASH_ST_READY | RH_FLASH_ST_ERASE_ERROR));
  EXPECT_TRUE(h->BackInBootRom());
}

// The record carries what the flash's status register said for the first
// failed program operation, and the count of all of them.
TEST(RamProgramDownload, ProgramFailuresAreCountedWithTheFirstStatus) {
  auto h = UsedHandset();
  const uint32_t address = 2 * Block + 0x1234;
  h->Flash.FailPrograms(address, 3, RH_FLASH_ST_PROGRAM_ERROR | RH_FLASH_ST_SUPPLY_ERROR);
  auto image = PatternImage(4 * Block);
  h->Begin(4);
  for (uint32_t k = 1; k <= 4; ++k) {
    h->Send(Frame((k - 1) * Block, BlockOf(image, k)));
    h->Receive(k == 2 ? 131 : 1);
  }
  ASSERT_TRUE(h->BackInBootRom());
  // The last answer was the verdict: fetch the record that followed it.
  EXPECT_EQ(h->Receive(8), std::vector<uint8_t>({0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x98}));
  auto contents = h->Flash.Contents();
  for (uint32_t i = 0; i < 6; ++i)
    EXPECT_EQ(contents[address + i], 0xFF) << i; // the three failed words
  EXPECT_EQ(contents[address + 6], image[address + 6]);
  EXPECT_EQ(contents[address - 1], image[address - 1]);
}

// A word that reports success but does not read back is a failure too; the
// status kept is the one the flash gave: ready, no error bits.
TEST(RamProgramDownload, ReadBackCatchesASilentProgramFailure) {
  auto h = UsedHandset();
  h->Flash.FailPrograms(0x100, 1, 0);
  auto image = PatternImage(Block);
  h->Begin(1);
  h->Send(Frame(0, image));
  EXPECT_EQ(h->Receive(9), Record(1, RH_FLASH_ST_READY));
  EXPECT_TRUE(h->BackInBootRom());
}

TEST(RamProgramDownload, BlockPastTheEndOfTheFlashFailsWithStatusZero) {
  auto h = UsedHandset();
  auto image = PatternImage(Block);
  h->Begin(1);
  h->Send(Frame(arm::FlashChip::Size - 0x100, image));
  EXPECT_EQ(h->Receive(9), Record(1, 0));
  EXPECT_TRUE(h->BackInBootRom());
  auto contents = h->Flash.Contents();
  EXPECT_TRUE(std::equal(contents.end() - 0x100, contents.end(), image.begin()));
}

} // namespace
} // namespace kestrune::test
