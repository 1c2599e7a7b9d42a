// The boot ROM, the RAM program's configuration messages and the line model,
// on a virtual clock.
#include "tests/handset/CoreRig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrune::handset::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(HandsetBoot, AnswersTheCallAndSkipsStrayCallsUntilTheHeader) {
  CoreRig rig;
  rig.Send({0x00, 0x41, 0x43, 0x21});
  EXPECT_TRUE(rig.Take().empty()) << "only E wakes the boot ROM";
  rig.Boot();
  // Calls still in flight after the answer, and other stray bytes, are skipped.
  rig.Send({0x45, 0x45, 0x45, 0x00});
  EXPECT_TRUE(rig.Take().empty()) << "one C per run";
  rig.LoadRamProgram();
}

TEST(HandsetBoot, RefusesAnImageItCannotRun) {
  CoreRig rig;
  rig.Boot();
  rig.Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  Bytes image(RamProgram.begin(), RamProgram.end());
  image[100] ^= 0x01;
  rig.Send(image);
  rig.RunFor(Ms(1000));
  EXPECT_TRUE(rig.Take().empty()) << "no ACK for an unknown image";
  // The hung handset drains the line and takes nothing, until the host lets go.
  rig.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x00, 0x45});
  EXPECT_TRUE(rig.Take().empty());
  rig.Core().HostClosed(rig.Now);
  ASSERT_EQ(rig.Core().Runs().size(), 1u);
  EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::UnknownRamProgram);
  rig.Core().HostOpened(rig.Now);
  rig.Boot();
}

TEST(HandsetBoot, RefusesAHeaderThatDoesNotFitRam) {
  CoreRig rig;
  rig.Boot();
  rig.Send({0x6A, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0x17, 0x00});
  rig.Send(Bytes(RamProgram.begin(), RamProgram.end()));
  EXPECT_TRUE(rig.Take().empty());
  rig.Core().HostClosed(rig.Now);
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::BadRamHeader);
}

TEST(HandsetBoot, PowerOnDelayKeepsTheBootRomSilent) {
  HandsetOptions options;
  options.PowerOnDelayMs = 300;
  CoreRig rig(options);
  rig.Core().HostOpened(rig.Now);
  for (int i = 0; i < 49; ++i) {
    rig.Send({0x45});
    rig.RunFor(Ms(6));
  }
  EXPECT_TRUE(rig.Take().empty()) << "calls in the first 300 ms go unanswered";
  rig.RunFor(Ms(10));
  rig.Boot();
}

TEST(HandsetBoot, NoiseComesBeforeTheAnswerAndIsNeverAProtocolByte) {
  HandsetOptions options;
  options.Noise = true;
  CoreRig rig(options);
  rig.Send({0x45});
  Bytes answer = rig.Take();
  ASSERT_GE(answer.size(), 2u);
  EXPECT_EQ(answer.back(), 0x43);
  for (size_t i = 0; i + 1 < answer.size(); ++i) {
    EXPECT_NE(answer[i], 0x43);
    EXPECT_NE(answer[i], 0x21);
    EXPECT_NE(answer[i], 0x15);
  }
}

TEST(HandsetLine, CallsAtTheWrongRateOrFramingAreGarbled) {
  CoreRig rig;
  rig.Host.Rate = 9600;
  rig.Send({0x45, 0x45, 0x45});
  EXPECT_TRUE(rig.Take().empty()) << "E sent at 9600 never reads as E at 28800";
  rig.Host.Rate = 28800;
  rig.Host.StopBits = 1;
  rig.Send({0x45});
  EXPECT_TRUE(rig.Take().empty()) << "8N1 against 8N2";
  rig.Host.StopBits = 2;
  rig.Host.Parity = true;
  rig.Send({0x45});
  EXPECT_TRUE(rig.Take().empty()) << "parity against none";
  rig.Host.Parity = false;
  rig.Host.Rate = 28600; // within a UART's tolerance
  rig.Boot();
  auto lines = rig.TraceLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string &l) {
    return l.find("garbled") != std::string::npos;
  }));
}

TEST(HandsetLine, AnswersGoGarbledToAHostAtAnotherRate) {
  CoreRig rig;
  rig.Boot();
  rig.Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  rig.Send(Bytes(RamProgram.begin(), RamProgram.end() - 1));
  rig.Host.Rate = 115200; // switched too early: the last byte and the ACK are lost
  rig.Send({RamProgram.back()});
  Bytes answer = rig.Take();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_NE(answer[0], 0x21);
}

TEST(HandsetLine, SpeedMessageCountsAtTheOldOrTheNewRate) {
  // The host switches 10 ms after writing the speed message: a handset that
  // reads it later sees the new rate already, and that must not garble it.
  CoreRig rig;
  rig.Boot();
  rig.LoadRamProgram();
  rig.Host.Rate = 460800;
  rig.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(rig.Identify().size(), 10u);
}

TEST(HandsetLine, RequestsAtTheOldRateAfterTheSwitchAreGarbled) {
  CoreRig rig;
  rig.Boot();
  rig.LoadRamProgram();
  rig.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x00}); // 921600, but the host stays at 28800
  EXPECT_TRUE(rig.Identify().empty());
  rig.Host.Rate = 921600;
  EXPECT_EQ(rig.Identify().size(), 10u) << "the request at the right rate is answered";
}

struct SpeedCase {
  uint8_t Code;
  uint32_t Rate;
};

void PrintTo(const SpeedCase &c, std::ostream *os) { *os << int(c.Code) << "->" << c.Rate; }

class HandsetSpeedCodes : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(HandsetSpeedCodes, SwitchesToTheRateOfTheCode) {
  CoreRig rig;
  rig.Boot();
  rig.LoadRamProgram();
  rig.SetSpeed(GetParam().Code, GetParam().Rate);
  // 0x60 gives 921600 / 97 = 9501 baud: 1% off 9600, within a UART's margin.
  EXPECT_TRUE(LineAgrees(rig.Host, rig.Core().LineRate())) << rig.Core().LineRate();
  EXPECT_EQ(rig.Identify().size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(RateTable, HandsetSpeedCodes,
                         ::testing::Values(SpeedCase{0x00, 921600}, SpeedCase{0x01, 460800},
                                           SpeedCase{0x03, 230400}, SpeedCase{0x07, 115200},
                                           SpeedCase{0x0F, 57600}, SpeedCase{0x1F, 28800},
                                           SpeedCase{0x60, 9600}),
                         [](const auto &param) { return "Rate" + std::to_string(param.param.Rate); });

TEST(HandsetIdentification, TenBytesEachMoreThan100MsAfterTheLastWrite) {
  CoreRig rig;
  rig.Boot();
  rig.LoadRamProgram();
  rig.SetSpeed(0x00, 921600);
  rig.Send({0x21, 0x00});
  // The first byte is written 300 ms late; the next must not bunch up behind it.
  rig.RunFor(Ms(3000), Ms(300));
  std::vector<Answer> id = rig.TakeTimed();
  ASSERT_EQ(id.size(), 10u);
  for (size_t i = 1; i < id.size(); ++i)
    EXPECT_GE((id[i].At - id[i - 1].At).count(), 100000) << "byte " << i;
  Bytes bytes;
  for (const Answer &a : id)
    bytes.push_back(a.Byte);
  EXPECT_EQ(bytes, (Bytes{0x00, 0x4B, 0x52, 0x31, 0x01, 0x00, 0x00, 0x00, 0x00, 0x83}));
}

TEST(HandsetConfiguration, MapAnswerAndFlashType) {
  CoreRig rig;
  rig.Configure();
  EXPECT_FALSE(rig.Core().InBootRom());
}

TEST(HandsetConfiguration, ConfiguredMapAnswer) {
  HandsetOptions options;
  options.MapAnswer = 0x07;
  CoreRig rig(options);
  rig.Boot();
  rig.LoadRamProgram();
  rig.SetSpeed(0x07, 115200);
  rig.Identify();
  EXPECT_EQ(rig.SendMap(ExpectedMap()), 0x07);
  EXPECT_EQ(rig.FlashType(), 0x21) << "the answer byte alone changes nothing else";
}

TEST(HandsetConfiguration, RefusesAWrongMapOrAnUnknownFlash) {
  std::vector<uint32_t> shifted = ExpectedMap();
  shifted[130] += 0x100;
  std::vector<uint32_t> shorter = ExpectedMap();
  shorter.pop_back();
  for (const auto &map : {shifted, shorter}) {
    CoreRig rig;
    rig.Boot();
    rig.LoadRamProgram();
    rig.SetSpeed(0x00, 921600);
    rig.Identify();
    EXPECT_EQ(rig.SendMap(map), 0x01);
    EXPECT_EQ(rig.FlashType(), 0x15);
    EXPECT_TRUE(rig.Core().InBootRom());
    EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::FlashRefused);
  }
  HandsetOptions options;
  options.UnsupportedFlash = true;
  CoreRig rig(options);
  rig.Boot();
  rig.LoadRamProgram();
  rig.SetSpeed(0x00, 921600);
  Bytes id = rig.Identify();
  ASSERT_EQ(id.size(), 10u);
  EXPECT_EQ(id[3], 0x99) << "the identification shows the other device";
  EXPECT_EQ(rig.SendMap(ExpectedMap()), 0x01);
  EXPECT_EQ(rig.FlashType(), 0x15);
}

struct SilentCase {
  Phase At;
  int AnswersBefore; // answers of the run before the handset falls silent
};

void PrintTo(const SilentCase &c, std::ostream *os) { *os << PhaseName(c.At); }

class HandsetSilentAfter : public ::testing::TestWithParam<SilentCase> {};

// Runs the whole exchange of a three-block image and counts the answers.
TEST_P(HandsetSilentAfter, StopsAnsweringAtThePhase) {
  HandsetOptions options;
  options.SilentAfter = GetParam().At;
  CoreRig rig(options);
  auto step = [&](const std::vector<uint8_t> &bytes) {
    rig.Send(bytes);
    rig.RunFor(HandsetCore::IdGap * 10 + Ms(400));
  };
  step({0x45});
  step({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  step(Bytes(RamProgram.begin(), RamProgram.end()));
  step({0x21, 0x01, 0x00, 0x00, 0x00, 0x00});
  rig.Host.Rate = 921600;
  step({0x21, 0x00});
  step({0x21, 0x02, 0x01, 0x00, 0x00, 0x00});
  Bytes map{0x00, 0x83};
  for (uint32_t e : ExpectedMap())
    map.insert(map.end(), {uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
  step(map);
  step({0x21});
  step({0x00, 0x03, 0x00, 0x00, 0x80, 0x00, 0x01});
  for (uint32_t k = 0; k < 3; ++k)
    step(Frame(k * 0x8000, Pattern(0x8000, uint8_t(k))));
  // C, ACK, ten ID bytes, map answer, flash type, ready, block 1, 131 report
  // bytes, verdict: 148 answers in a full run.
  EXPECT_EQ(int(rig.Take().size()), GetParam().AnswersBefore);
  rig.Core().HostClosed(rig.Now);
  if (GetParam().At == Phase::Boot) {
    EXPECT_TRUE(rig.Core().Runs().empty()) << "a run begins with the boot ROM's answer";
    return;
  }
  ASSERT_EQ(rig.Core().Runs().size(), 1u);
  EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::Silenced);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, HandsetSilentAfter,
    ::testing::Values(SilentCase{Phase::Boot, 0}, SilentCase{Phase::RamProgram, 1},
                      SilentCase{Phase::Speed, 2}, SilentCase{Phase::Id, 2},
                      SilentCase{Phase::Map, 12}, SilentCase{Phase::FlashType, 13},
                      SilentCase{Phase::Start, 14}, SilentCase{Phase::Blocks, 15},
                      SilentCase{Phase::Erase, 16}, SilentCase{Phase::Verdict, 147}),
    [](const auto &param) { return std::string(PhaseName(param.param.At)); });

TEST(HandsetRuns, HostCloseMidRunReturnsToTheBootRom) {
  CoreRig rig;
  rig.Boot();
  rig.LoadRamProgram();
  rig.SetSpeed(0x00, 921600);
  rig.Send({0x21, 0x00});
  rig.RunFor(HandsetCore::IdGap + Ms(40));
  EXPECT_EQ(rig.Take().size(), 2u);
  rig.Core().HostClosed(rig.Now);
  rig.RunFor(Ms(2000));
  EXPECT_TRUE(rig.Take().empty()) << "nothing more goes out once the host has gone";
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::HostClosed);
  rig.Host.Rate = 28800;
  rig.Core().HostOpened(rig.Now);
  rig.Boot();
}

TEST(HandsetRuns, IdleResetReturnsToTheBootRom) {
  HandsetOptions options;
  options.IdleResetMs = 500;
  CoreRig rig(options);
  rig.Boot();
  rig.LoadRamProgram();
  rig.RunFor(Ms(400));
  EXPECT_FALSE(rig.Core().InBootRom());
  rig.RunFor(Ms(200));
  EXPECT_TRUE(rig.Core().InBootRom());
  EXPECT_EQ(rig.Core().Runs().at(0).Outcome, RunOutcome::IdleReset);
}

TEST(HandsetRuns, DisconnectAfterCountsFromTheRamProgramHeader) {
  HandsetOptions options;
  options.DisconnectAfterBytes = 100;
  CoreRig rig(options);
  for (int i = 0; i < 5; ++i)
    rig.Send({0x45}); // calls are not counted
  EXPECT_EQ(rig.Take(), Bytes{0x43});
  rig.Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  rig.Send(Bytes(RamProgram.begin(), RamProgram.begin() + 86));
  EXPECT_FALSE(rig.Core().DisconnectRequested());
  rig.Send(Bytes(RamProgram.begin() + 86, RamProgram.begin() + 88));
  EXPECT_TRUE(rig.Core().DisconnectRequested());
  ASSERT_EQ(rig.Core().Runs().size(), 1u);
  EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::Disconnected);
  EXPECT_EQ(rig.Core().Runs()[0].HostBytes, 100u);
}

} // namespace
} // namespace kestrune::handset::test
