#include "tests/ramprogram/CoreHarness.h"

#include <gtest/gtest.h>

namespace kestrune::test {
namespace {

TEST(RamProgramOnCore, Smoke) {
  CoreHarness h;
  h.Boot();
  EXPECT_EQ(h.Configure(0x00, 921600), 0x21);
  auto image = PatternImage(5 * 32768);
  h.Send(StartHeader(5));
  EXPECT_EQ(h.Receive(1), std::vector<uint8_t>{0x21});
  for (uint32_t k = 0; k < 5; ++k) {
    h.Send(Frame(k * 32768, std::span(image).subspan(k * 32768, 32768)));
    if (k == 1)
      EXPECT_EQ(h.Receive(131), std::vector<uint8_t>(131, 0x21));
    else
      EXPECT_EQ(h.Receive(1), std::vector<uint8_t>{0x21});
  }
  ASSERT_TRUE(h.Core->WaitUntilEnded(5s));
  EXPECT_EQ(h.Core->End().State, arm::CoreState::ReturnedToBootRom) << h.Core->End().Text;
  auto flash = h.Flash.Contents();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  auto s = h.Core->Stats();
  std::printf("cpu %.3f wall %.3f sleep %.3f acc %llu\n", s.CpuTime.count() / 1e9,
              s.WallTime.count() / 1e9, s.SleepTime.count() / 1e9,
              (unsigned long long)s.DeviceAccesses);
}

} // namespace
} // namespace kestrune::test
