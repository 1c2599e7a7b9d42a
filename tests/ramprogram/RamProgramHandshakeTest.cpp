// The RAM program on the emulated core, configuration messages: line speed,
// identification, segment map and the flash type answer.
#include "tests/ramprogram/CoreHarness.h"

#include "engine/LineSpeed.h"

#include <gtest/gtest.h>

namespace kestrune::test {
namespace {

const std::vector<uint8_t> Identification = {0x00, 0x4B, 0x52, 0x31, 0x01,
                                             0x00, 0x00, 0x00, 0x00, 0x83};

class SpeedCodes : public ::testing::TestWithParam<int> {};

// Every row of the speed table: the program's UART ends up at the row's
// rate and answers the identification request there, in the host's framing.
TEST_P(SpeedCodes, SwitchesTheUartToTheRateOfTheCode) {
  const uint32_t rate = LineRateTable[size_t(GetParam())];
  CoreHarness h;
  h.Boot();
  h.Send({0x21, 0x01, 0x00, 0x00, 0x00, SpeedCodeTable[size_t(GetParam())]});
  h.SetHostRate(rate);
  h.Send({0x21, 0x00});
  EXPECT_EQ(h.Receive(10), Identification);
  EXPECT_EQ(h.Core->Line().Describe(), h.HostLine.Describe());
  auto departures = h.Departures();
  ASSERT_EQ(departures.size(), 11u);
  EXPECT_EQ(departures[0].Line.Describe(), "28800 8N2"); // the ACK at start
  for (size_t i = 1; i < departures.size(); ++i)
    EXPECT_EQ(departures[i].Line.Describe(), std::to_string(rate) + " 8N2");
}

INSTANTIATE_TEST_SUITE_P(AllRows, SpeedCodes, ::testing::Range(0, 7));

TEST(RamProgramHandshake, AcceptsTheReferenceFlashWithItsMap) {
  CoreHarness h;
  h.Boot();
  EXPECT_EQ(h.Configure(0x01, 460800), 0x21);
  EXPECT_TRUE(h.Quiet(100ms));
  EXPECT_TRUE(h.Core->Running());
}

TEST(RamProgramHandshake, RefusesAFlashItDoesNotKnowAndReturnsToTheBootRom) {
  CoreHarness h({RH_FLASH_MANUFACTURER, RH_FLASH_DEVICE_UNSUPPORTED});
  h.Boot();
  EXPECT_EQ(h.Configure(), 0x15);
  EXPECT_TRUE(h.BackInBootRom()) << h.Core->End().Text;
}

TEST(RamProgramHandshake, RefusesAMapThatDoesNotFitTheFlash) {
  auto run = [](std::vector<uint8_t> map) {
    CoreHarness h;
    h.Boot();
    h.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x00});
    h.SetHostRate(921600);
    h.Send({0x21, 0x02, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(h.Receive(1), std::vector<uint8_t>{0x01});
    h.Send(map);
    h.Send({0x21});
    auto answer = h.Receive(1);
    EXPECT_TRUE(h.BackInBootRom());
    return answer;
  };
  auto wrongEntry = SegmentMapMessage();
  wrongEntry[2 + 4 * 100 + 1] ^= 0x01;
  EXPECT_EQ(run(wrongEntry), std::vector<uint8_t>{0x15});
  auto shortMap = SegmentMapMessage();
  shortMap.resize(shortMap.size() - 4);
  shortMap[1] = 130;
  EXPECT_EQ(run(shortMap), std::vector<uint8_t>{0x15});
  EXPECT_EQ(run({0x00, 0x00}), std::vector<uint8_t>{0x15});
}

// The host that forgets to switch its port after the speed code: the
// program reads its identification request as garbage and stays silent.
TEST(RamProgramHandshake, HostStillAtTheBootRateIsNotUnderstood) {
  CoreHarness h;
  h.Boot();
  h.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x00});
  h.Send({0x21, 0x00});
  EXPECT_TRUE(h.Quiet(300ms));
  h.SetHostRate(921600);
  h.Send({0x21, 0x00});
  EXPECT_EQ(h.Receive(10), Identification);
}

// Real time: each identification byte leaves at least 100 ms after the one
// before, so each of the host's ten 41 ms reads takes exactly one.
TEST(RamProgramHandshake, PacesTheIdentificationBytes) {
  CoreHarness h({}, arm::CoreOptions{});
  h.Boot();
  h.Send({0x21, 0x01, 0x00, 0x00, 0x00, 0x07});
  h.SetHostRate(115200);
  h.Send({0x21, 0x00});
  ASSERT_EQ(h.Receive(10, 3s), Identification);
  auto departures = h.Departures();
  departures.erase(departures.begin()); // the ACK at start
  for (size_t i = 1; i < departures.size(); ++i)
    EXPECT_GE(departures[i].Time - departures[i - 1].Time, 100ms) << "byte " << i;
  EXPECT_LT(departures.back().Time - departures.front().Time, 1500ms);
}

} // namespace
} // namespace kestrune::test
