// The programming exchange from the handset's side: which byte answers
// which message, the erase report, refused blocks, failures and the flash.
#include "tests/handset/CoreRig.h"

#include <gtest/gtest.h>

namespace kestrune::handset::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t Ack = 0x21;
constexpr uint8_t Nak = 0x15;
constexpr uint32_t Block = 0x8000;

Bytes Acks(size_t n) { return Bytes(n, Ack); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

void ExpectFlashHolds(CoreRig &rig, uint32_t offset, const Bytes &data) {
  Bytes stored(data.size());
  rig.Core().Flash().CopyOut(offset, stored.data(), uint32_t(stored.size()));
  EXPECT_TRUE(stored == data) << "flash differs at 0x" << std::hex << offset;
}

TEST(HandsetProgramming, EmptyImageGetsReadyAnswerThenVerdict) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(0);
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Ack}));
  EXPECT_TRUE(rig.Core().InBootRom());
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::Complete);
}

TEST(HandsetProgramming, OneShortBlockIsErasedProgrammedAndJudged) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(1);
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  Bytes data = Pattern(7232, 1);
  rig.Block(0, data);
  EXPECT_EQ(rig.Take(), Bytes{Ack}) << "no erase report: the verdict only";
  ExpectFlashHolds(rig, 0, data);
  EXPECT_EQ(rig.Core().Flash().Peek(7232), 0xFF) << "erased beyond the image";
  EXPECT_TRUE(rig.Core().InBootRom());
}

TEST(HandsetProgramming, TwoBlocksGetNoReport) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(2);
  Bytes first = Pattern(Block, 1), second = Pattern(7232, 2);
  rig.Block(0, first);
  rig.Block(Block, second);
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Ack, Ack})) << "ready, block 1 taken, verdict";
  ExpectFlashHolds(rig, 0, first);
  ExpectFlashHolds(rig, Block, second);
}

TEST(HandsetProgramming, ThreeOrMoreBlocksGetThe131ByteReport) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(4);
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  std::vector<Bytes> blocks{Pattern(Block, 1), Pattern(Block, 2), Pattern(Block, 3),
                            Pattern(100, 4)};
  rig.Block(0, blocks[0]);
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  rig.Block(Block, blocks[1]);
  // 130 per-segment ACKs, then the ready answer as the 131st: nothing more
  // until block 3, or the host's reply wait would read a stray byte.
  rig.RunFor(Ms(1000));
  EXPECT_EQ(rig.Take(), Acks(131));
  rig.Block(2 * Block, blocks[2]);
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  rig.Block(3 * Block, blocks[3]);
  EXPECT_EQ(rig.Take(), Bytes{Ack}) << "verdict";
  for (uint32_t k = 0; k < 4; ++k)
    ExpectFlashHolds(rig, k * Block, blocks[k]);
  const RunSummary &run = rig.Core().Runs().at(0);
  EXPECT_EQ(run.Outcome, RunOutcome::Complete);
  EXPECT_EQ(run.BlocksProgrammed, 4u);
  EXPECT_EQ(run.LineRate, 921600u);
}

TEST(HandsetProgramming, ProgrammingOnlyClearsBitsAndEraseRestoresOnes) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(1);
  rig.Block(0, Bytes(64, 0x0F));
  rig.Take();
  // A second run over the same flash: the erase wipes the first image.
  rig.Host.Rate = 28800;
  rig.Configure();
  rig.StartHeader(1);
  rig.Block(0, Bytes(32, 0xF0));
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Ack}));
  ExpectFlashHolds(rig, 0, Bytes(32, 0xF0));
  ExpectFlashHolds(rig, 32, Bytes(32, 0xFF));
  EXPECT_EQ(rig.Core().Runs().size(), 2u);
}

TEST(HandsetProgramming, RefusedBlockOneComesAgain) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(3);
  rig.Take();
  Bytes first = Pattern(Block, 1);
  rig.Block(0, first, true);
  EXPECT_EQ(rig.Take(), Bytes{Nak});
  rig.Block(0, first);
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  EXPECT_EQ(rig.Core().Runs().size(), 0u) << "the run goes on";
}

TEST(HandsetProgramming, RefusedBlockTwoStillGetsItsReport) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(3);
  rig.Block(0, Pattern(Block, 1));
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Ack}));
  Bytes second = Pattern(Block, 2);
  rig.Block(Block, second, true);
  EXPECT_EQ(rig.Take(), Concat({Acks(131), {Nak}})) << "the report, then the NAK at once";
  rig.Block(Block, second);
  EXPECT_EQ(rig.Take(), Acks(131)) << "the re-sent block gets another full report";
  rig.Block(2 * Block, Pattern(Block, 3));
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  ExpectFlashHolds(rig, Block, second);
  EXPECT_EQ(rig.Core().Runs().at(0).BlocksRefused, 1u);
}

TEST(HandsetProgramming, RefusedLastBlockIsTheVerdictWithItsRecord) {
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(1);
  rig.Take();
  rig.Block(0, Pattern(500, 1), true);
  EXPECT_EQ(rig.Take(), (Bytes{Nak, 0, 0, 0, 0, 0, 0, 0, 0}))
      << "the host never re-sends the last block: NAK and a record, no stall";
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::ProgrammingError);
  EXPECT_TRUE(rig.Core().InBootRom());
}

TEST(HandsetProgramming, NakBlockFaultRefusesASoundBlockSoManyTimes) {
  HandsetOptions options;
  options.NakBlock = 3;
  options.NakTimes = 2;
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(4);
  rig.Block(0, Pattern(Block, 1));
  rig.Block(Block, Pattern(Block, 2));
  EXPECT_EQ(rig.Take().size(), 1u + 1u + 131u);
  Bytes third = Pattern(Block, 3);
  rig.Block(2 * Block, third);
  rig.Block(2 * Block, third);
  rig.Block(2 * Block, third);
  EXPECT_EQ(rig.Take(), (Bytes{Nak, Nak, Ack}));
  rig.Block(3 * Block, Pattern(10, 4));
  EXPECT_EQ(rig.Take(), Bytes{Ack});
  EXPECT_EQ(rig.Core().Runs().at(0).BlocksRefused, 2u);
}

TEST(HandsetProgramming, FailedSegmentIsANakInItsAckPlaceAndTheHandsetStops) {
  HandsetOptions options;
  options.EraseFailSegment = 5;
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(3);
  rig.Block(0, Pattern(Block, 1));
  rig.Block(Block, Pattern(Block, 2));
  EXPECT_EQ(rig.Take(), Concat({{Ack, Ack}, Acks(4), {Nak}}));
  EXPECT_TRUE(rig.Core().InBootRom());
  const RunSummary &run = rig.Core().Runs().at(0);
  EXPECT_EQ(run.Outcome, RunOutcome::EraseFailed);
  EXPECT_EQ(run.FailureStatus, 0xA0u);
  rig.Block(2 * Block, Pattern(Block, 3));
  EXPECT_TRUE(rig.Take().empty()) << "the boot ROM does not answer blocks";
}

TEST(HandsetProgramming, FailedLastSegmentTakesThe131stPlace) {
  HandsetOptions options;
  options.EraseFailSegment = 131;
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(3);
  rig.Block(0, Pattern(Block, 1));
  rig.Block(Block, Pattern(Block, 2));
  EXPECT_EQ(rig.Take(), Concat({{Ack, Ack}, Acks(130), {Nak}}));
}

TEST(HandsetProgramming, FailedEraseOfAShortImageIsAVerdictWithItsRecord) {
  HandsetOptions options;
  options.EraseFailSegment = 2;
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(1);
  rig.Block(0, Pattern(100, 1));
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Nak, 0, 0, 0, 1, 0, 0, 0, 0xA0}));
}

TEST(HandsetProgramming, ProgramErrorGivesCountAndFirstStatus) {
  HandsetOptions options;
  options.ProgramError = true;
  options.ProgramErrorAddress = 0x8000;
  options.ProgramErrorCount = 3;
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(3);
  Bytes second = Pattern(Block, 2);
  rig.Block(0, Pattern(Block, 1));
  rig.Block(Block, second);
  rig.Block(2 * Block, Pattern(64, 3));
  EXPECT_EQ(rig.Take(), Concat({{Ack, Ack}, Acks(131), {Nak, 0, 0, 0, 3, 0, 0, 0, 0x90}}));
  // The three failed words kept their erased state; the rest was programmed.
  Bytes stored(8);
  rig.Core().Flash().CopyOut(Block, stored.data(), 8);
  EXPECT_EQ(stored, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, second[6], second[7]}));
  EXPECT_EQ(rig.Core().Runs().at(0).Failures, 3u);
}

TEST(HandsetProgramming, FaultsAreArmedAgainForEveryRun) {
  HandsetOptions options;
  options.ProgramError = true;
  CoreRig rig(options);
  for (int run = 0; run < 2; ++run) {
    rig.Host.Rate = 28800;
    rig.Configure();
    rig.StartHeader(1);
    rig.Block(0, Pattern(16, 1));
    EXPECT_EQ(rig.Take(), (Bytes{Ack, Nak, 0, 0, 0, 1, 0, 0, 0, 0x90})) << "run " << run;
  }
}

TEST(HandsetProgramming, StartHeaderWithAnotherBlockSizeIsRefusedWithAVerdict) {
  CoreRig rig;
  rig.Configure();
  rig.Send({0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x01});
  EXPECT_EQ(rig.Take(), (Bytes{Nak, Nak, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::BadStartHeader);
}

TEST(HandsetProgramming, ShortBlockBeforeTheAnnouncedEndIsTheLast) {
  // A file that ends early: the host sends the short block and then waits
  // for the verdict.
  CoreRig rig;
  rig.Configure();
  rig.StartHeader(5);
  rig.Block(0, Pattern(Block, 1));
  rig.Block(Block, Pattern(1000, 2));
  EXPECT_EQ(rig.Take(), (Bytes{Ack, Ack, Ack}));
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::Complete);
}

TEST(HandsetProgramming, RealisticTimingSpacesTheReportBySegmentEraseTimes) {
  HandsetOptions options;
  options.Timing = RealisticTiming();
  CoreRig rig(options);
  rig.Configure();
  rig.StartHeader(3);
  rig.Block(0, Pattern(Block, 1));
  rig.Take();
  SimTime sent = rig.Now;
  rig.Block(Block, Pattern(Block, 2));
  rig.RunFor(Ms(200000));
  std::vector<Answer> report = rig.TakeTimed();
  ASSERT_EQ(report.size(), 131u);
  EXPECT_EQ((report[0].At - sent).count(), 300000) << "a 32 KiB segment";
  EXPECT_EQ((report[4].At - report[3].At).count(), 700000) << "a 128 KiB segment";
  // Blocks 1 and 2 (16384 words each at 12 us) before the ready answer.
  EXPECT_EQ((report[130].At - report[129].At).count(), 700000 + 2 * 16384 * 12);
}

TEST(HandsetProgramming, PacedOutputLeavesAtTheLineRate) {
  HandsetOptions options;
  options.Realtime = true;
  CoreRig rig(options);
  rig.Settle = Ms(5);
  rig.Configure();
  rig.StartHeader(3);
  rig.Block(0, Pattern(Block, 1));
  rig.Take();
  rig.Block(Block, Pattern(Block, 2));
  rig.RunFor(Ms(100));
  std::vector<Answer> report = rig.TakeTimed();
  ASSERT_EQ(report.size(), 131u);
  // 11 bits at 921600 baud: 12 us a byte.
  EXPECT_EQ((report[100].At - report[99].At).count(), 12);
}

} // namespace
} // namespace kestrune::handset::test
