// The emulated core itself, with small hand-assembled programs: a program
// that stops answering is reported and never hangs its host, and Stop()
// always ends a run.
#include "handset/arm/ArmCore.h"
#include "handset/arm/FlashChip.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrune::arm {
namespace {

using namespace std::chrono_literals;

// ARM-state instructions.
constexpr uint32_t BranchToSelf = 0xEAFFFFFE;         // b .
constexpr uint32_t LoadPcFromNextWord = 0xE51FF004;   // ldr pc, [pc, #-4]
constexpr uint32_t MovR0Periph = 0xE3A00102;          // mov r0, #0x80000000
constexpr uint32_t AddR0SysWindow = 0xE2800A02;       // add r0, r0, #0x2000
constexpr uint32_t MovR1Zero = 0xE3A01000;            // mov r1, #0
constexpr uint32_t MovR1WakeRx = 0xE3A01001;          // mov r1, #1
constexpr uint32_t StoreR1AtR0 = 0xE5801000;          // str r1, [r0]

std::vector<uint8_t> Program(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> bytes;
  for (uint32_t word : words)
    for (int i = 0; i < 4; ++i)
      bytes.push_back(uint8_t(word >> (8 * i)));
  return bytes;
}

struct Bench {
  explicit Bench(std::chrono::milliseconds hangTimeout = 200ms) {
    CoreOptions options;
    options.HangTimeout = hangTimeout;
    Core = std::make_unique<ArmCore>(Flash, nullptr, options);
  }
  void Start(const std::vector<uint8_t> &image) {
    auto error = Core->Start(image, RH_RAM_BASE, UartLine{});
    ASSERT_FALSE(error) << *error;
  }
  FlashChip Flash;
  std::unique_ptr<ArmCore> Core;
};

TEST(ArmCore, ProgramInAnEndlessLoopIsReported) {
  Bench bench;
  bench.Start(Program({BranchToSelf}));
  ASSERT_TRUE(bench.Core->WaitUntilEnded(3s));
  auto end = bench.Core->End();
  EXPECT_EQ(end.State, CoreState::Faulted);
  EXPECT_EQ(end.Text, "emulated core stopped answering (no device access for 200 ms, at 0x40000000)");
}

TEST(ArmCore, JumpIntoNothingIsReported) {
  Bench bench;
  bench.Start(Program({LoadPcFromNextWord, 0x20000000}));
  ASSERT_TRUE(bench.Core->WaitUntilEnded(3s));
  auto end = bench.Core->End();
  EXPECT_EQ(end.State, CoreState::Faulted);
  EXPECT_NE(end.Text.find("emulated core stopped answering ("), std::string::npos) << end.Text;
  EXPECT_NE(end.Text.find("0x20000000"), std::string::npos) << end.Text;
}

TEST(ArmCore, SleepWithNothingToWakeItIsReported) {
  Bench bench(10s);
  bench.Start(Program({MovR0Periph, AddR0SysWindow, MovR1Zero, StoreR1AtR0, BranchToSelf}));
  ASSERT_TRUE(bench.Core->WaitUntilEnded(3s));
  EXPECT_EQ(bench.Core->End().Text,
            "emulated core stopped answering (asleep with no event to wake it)");
}

TEST(ArmCore, ProgramAsleepWaitingForTheHostIsNotHung) {
  Bench bench;
  bench.Start(Program({MovR0Periph, AddR0SysWindow, MovR1WakeRx, StoreR1AtR0, BranchToSelf}));
  EXPECT_FALSE(bench.Core->WaitUntilEnded(600ms));
  auto stopping = Clock::now();
  bench.Core->Stop();
  EXPECT_LT(Clock::now() - stopping, 500ms);
  EXPECT_EQ(bench.Core->End().State, CoreState::Stopped);
  EXPECT_GT(bench.Core->Stats().SleepTime, 500ms);
}

TEST(ArmCore, StopEndsASpinningProgramAtOnce) {
  Bench bench(60s);
  bench.Start(Program({BranchToSelf}));
  std::this_thread::sleep_for(50ms);
  auto stopping = Clock::now();
  bench.Core->Stop();
  EXPECT_LT(Clock::now() - stopping, 500ms);
  EXPECT_EQ(bench.Core->End().State, CoreState::Stopped);
}

TEST(ArmCore, JumpToTheBootRomEndsTheRun) {
  Bench bench;
  bool told = false;
  auto image = Program({LoadPcFromNextWord, RH_BOOT_ROM_ENTRY});
  ASSERT_FALSE(bench.Core->Start(image, RH_RAM_BASE + 0x100, UartLine{},
                                 [&](const CoreEnd &end) {
                                   told = end.State == CoreState::ReturnedToBootRom;
                                 }));
  ASSERT_TRUE(bench.Core->WaitUntilEnded(3s));
  bench.Core->Stop();
  EXPECT_TRUE(told);
  EXPECT_EQ(bench.Core->End().State, CoreState::ReturnedToBootRom);
}

TEST(ArmCore, RefusesAProgramThatDoesNotFitItsRam) {
  Bench bench;
  std::vector<uint8_t> image(64, 0);
  EXPECT_TRUE(bench.Core->Start(image, RH_RAM_BASE + RH_RAM_SIZE - 32, UartLine{}));
  EXPECT_TRUE(bench.Core->Start(image, RH_FLASH_BASE, UartLine{}));
  EXPECT_FALSE(bench.Core->Start(image, RH_RAM_BASE + RH_RAM_SIZE - 64, UartLine{}));
  EXPECT_TRUE(bench.Core->Start(image, RH_RAM_BASE, UartLine{})) << "a core runs once";
}

} // namespace
} // namespace kestrune::arm
