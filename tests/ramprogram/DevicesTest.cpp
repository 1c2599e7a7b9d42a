// The reference handset's flash and UART models on their own.
#include "engine/RamProgram.h"
#include "handset/arm/FlashChip.h"
#include "handset/arm/Uart.h"

#include <gtest/gtest.h>

namespace kestrune::arm {
namespace {

using namespace std::chrono_literals;

const Clock::time_point T0{};

TEST(FlashChip, SegmentsAreThoseOfTheSegmentMap) {
  for (uint32_t s = 0; s < FlashChip::SegmentCount; ++s) {
    EXPECT_EQ(FlashChip::SegmentStart(s), SegmentMap[s]);
    EXPECT_EQ(FlashChip::SegmentOf(SegmentMap[s]), s);
    EXPECT_EQ(FlashChip::SegmentOf(SegmentMap[s] + FlashChip::SegmentSize(s) - 1), s);
  }
  EXPECT_EQ(FlashChip::SegmentStart(130) + FlashChip::SegmentSize(130), FlashChip::Size);
}

TEST(FlashChip, IdentifierModeAnswersTheCodesInEverySegment) {
  FlashChip flash({0x1234, 0x5678});
  flash.Write(0x20000, RH_FLASH_CMD_READ_ID, T0);
  EXPECT_EQ(flash.Read(0x40000, 2, T0), 0x1234u);
  EXPECT_EQ(flash.Read(0x40002, 2, T0), 0x5678u);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0);
  EXPECT_EQ(flash.Read(0x40000, 4, T0), 0xFFFFFFFFu);
}

TEST(FlashChip, ProgrammingClearsBitsOnly) {
  FlashChip flash;
  flash.Write(0x100, RH_FLASH_CMD_PROGRAM, T0);
  flash.Write(0x100, 0xF0F0, T0);
  EXPECT_EQ(flash.Read(0x100, 2, T0), RH_FLASH_ST_READY); // status mode
  flash.Write(0x100, RH_FLASH_CMD_PROGRAM, T0);
  flash.Write(0x100, 0x0FFF, T0);
  flash.Write(0x100, RH_FLASH_CMD_READ_ARRAY, T0);
  EXPECT_EQ(flash.Read(0x100, 2, T0), 0x00F0u);
  EXPECT_EQ(flash.Read(0x100, 1, T0), 0xF0u);
  EXPECT_EQ(flash.Contents()[0x101], 0x00);
}

TEST(FlashChip, EraseRestoresOneSegment) {
  FlashChip flash;
  flash.Fill(0, std::vector<uint8_t>(0x40000, 0x00));
  flash.Write(0x8010, RH_FLASH_CMD_ERASE, T0);
  flash.Write(0x8010, RH_FLASH_CMD_CONFIRM, T0);
  EXPECT_EQ(flash.Read(0, 2, T0), RH_FLASH_ST_READY);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0);
  EXPECT_EQ(flash.Read(0x7FFF, 1, T0), 0x00u);
  EXPECT_EQ(flash.Read(0x8000, 4, T0), 0xFFFFFFFFu);
  EXPECT_EQ(flash.Read(0xFFFF, 1, T0), 0xFFu);
  EXPECT_EQ(flash.Read(0x10000, 1, T0), 0x00u);
}

TEST(FlashChip, BrokenEraseSequenceAndFailuresSetStickyErrorBits) {
  FlashChip flash;
  flash.Write(0, RH_FLASH_CMD_ERASE, T0);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0); // not the confirm
  EXPECT_EQ(flash.Read(0, 2, T0), 0xB0u);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0);
  flash.Write(0, RH_FLASH_CMD_READ_STATUS, T0);
  EXPECT_EQ(flash.Read(0, 2, T0), 0xB0u) << "error bits stay until cleared";
  flash.Write(0, RH_FLASH_CMD_CLEAR_STATUS, T0);
  EXPECT_EQ(flash.Read(0, 2, T0), RH_FLASH_ST_READY);

  flash.FailErase(3);
  flash.Fill(0x18000, std::vector<uint8_t>{0x00});
  flash.Write(0x18000, RH_FLASH_CMD_ERASE, T0);
  flash.Write(0x18000, RH_FLASH_CMD_CONFIRM, T0);
  EXPECT_EQ(flash.Read(0, 2, T0), 0xA0u);
  EXPECT_EQ(flash.Contents()[0x18000], 0x00);
}

TEST(FlashChip, ProgramFailuresHitTheNextWordsFromTheirAddress) {
  FlashChip flash;
  flash.FailPrograms(0x200, 2);
  for (uint32_t address : {0x100u, 0x202u, 0x204u, 0x206u}) {
    flash.Write(address, RH_FLASH_CMD_CLEAR_STATUS, T0);
    flash.Write(address, RH_FLASH_CMD_PROGRAM, T0);
    flash.Write(address, 0x0000, T0);
  }
  auto contents = flash.Contents();
  EXPECT_EQ(contents[0x100], 0x00);
  EXPECT_EQ(contents[0x202], 0xFF);
  EXPECT_EQ(contents[0x204], 0xFF);
  EXPECT_EQ(contents[0x206], 0x00);
  EXPECT_EQ(flash.Programs(), 4u);
}

TEST(FlashChip, BusyWhileTheOperationTimeRuns) {
  FlashChip flash({}, {.SegmentErase = 1000us, .WordProgram = 10us});
  flash.Write(0, RH_FLASH_CMD_ERASE, T0);
  flash.Write(0, RH_FLASH_CMD_CONFIRM, T0);
  EXPECT_EQ(flash.ReadyAt(), T0 + 1000us);
  EXPECT_EQ(flash.Read(0, 2, T0 + 999us), 0x00u);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0 + 999us); // ignored while busy
  EXPECT_EQ(flash.Read(0, 2, T0 + 1000us), RH_FLASH_ST_READY);
  flash.Write(0, RH_FLASH_CMD_READ_ARRAY, T0 + 1000us);
  EXPECT_EQ(flash.Read(0, 2, T0 + 1000us), 0xFFFFu);
}

struct UartBench {
  std::mutex Lock;
  std::condition_variable Wake;
  std::vector<std::pair<uint8_t, UartLine>> Sent;
  Uart Serial{[this](uint8_t byte, const UartLine &line) { Sent.emplace_back(byte, line); }, Lock,
              Wake};
};

TEST(Uart, ByteSentAtAnotherRateReadsAsGarbage) {
  UartBench bench;
  const uint8_t bytes[] = {0x21, 0x00};
  bench.Serial.Receive(bytes, UartLine{921600});
  bench.Serial.Receive(bytes, UartLine{});
  EXPECT_EQ(bench.Serial.ReadRegister(RH_UART_RXCOUNT - RH_UART_BASE), 4u);
  EXPECT_EQ(bench.Serial.ReadRegister(0), 0x21u ^ 0x5A);
  EXPECT_EQ(bench.Serial.ReadRegister(RH_UART_STATUS - RH_UART_BASE) & RH_UART_ST_FRAMING,
            RH_UART_ST_FRAMING);
  EXPECT_EQ(bench.Serial.ReadRegister(RH_UART_STATUS - RH_UART_BASE) & RH_UART_ST_FRAMING, 0u);
  EXPECT_EQ(bench.Serial.ReadRegister(0), 0x00u ^ 0x5A);
  EXPECT_EQ(bench.Serial.ReadRegister(0), 0x21u);
  EXPECT_EQ(bench.Serial.ReadRegister(0), 0x00u);
  EXPECT_EQ(bench.Serial.ReadRegister(RH_UART_STATUS - RH_UART_BASE),
            RH_UART_ST_TXREADY | RH_UART_ST_TXEMPTY | RH_UART_ST_FRAMING);
}

TEST(Uart, RegistersSetTheLineTheHostSeesAndTheBytesCarry) {
  UartBench bench;
  bench.Serial.WriteRegister(RH_UART_DIVISOR - RH_UART_BASE, 8);
  bench.Serial.WriteRegister(RH_UART_LINECTRL - RH_UART_BASE, 0x03 | (2 << 3));
  EXPECT_EQ(bench.Serial.Line().Describe(), "115200 8E1");
  bench.Serial.WriteRegister(RH_UART_DATA - RH_UART_BASE, 0x43);
  ASSERT_EQ(bench.Sent.size(), 1u);
  EXPECT_EQ(bench.Sent[0].first, 0x43);
  EXPECT_EQ(bench.Sent[0].second.Describe(), "115200 8E1");
}

TEST(Uart, FullFifoLosesBytesAndSaysSo) {
  UartBench bench;
  std::vector<uint8_t> flood(RH_UART_RX_FIFO + 10, 0x55);
  flood[0] = 0x01;
  bench.Serial.Receive(flood, UartLine{});
  EXPECT_EQ(bench.Serial.ReadRegister(RH_UART_RXCOUNT - RH_UART_BASE), RH_UART_RX_FIFO);
  EXPECT_TRUE(bench.Serial.ReadRegister(RH_UART_STATUS - RH_UART_BASE) & RH_UART_ST_OVERRUN);
  EXPECT_FALSE(bench.Serial.ReadRegister(RH_UART_STATUS - RH_UART_BASE) & RH_UART_ST_OVERRUN);
  EXPECT_EQ(bench.Serial.ReadRegister(0), 0x01u);
}

} // namespace
} // namespace kestrune::arm
