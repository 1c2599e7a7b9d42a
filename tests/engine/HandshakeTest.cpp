// The boot handshake and the RAM program's configuration, byte for byte, with
// a scripted line standing in for the handset.
#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"
#include "engine/RamProgram.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <numeric>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t RamProgramBytes = 13 + 5888;
constexpr size_t MapBytes = 2 + 131 * 4;

struct Script {
  uint8_t MapAnswer = 0x01;
  uint8_t FlashTypeAnswer = 0x15; // refuse: the run ends before programming
  bool Noise = false;
  // Identification bytes that arrive together, as a host thread held up
  // between two reads finds them.
  size_t IdentificationBurst = 1;
};

// Answers each message once the host has written all of it. Byte counts
// from the "C" on tell where the host is.
std::shared_ptr<FakeSerialPort::State> Handset(FakeSerialPort &port, Script script) {
  auto shared = port.Shared;
  auto after = std::make_shared<size_t>(0);
  auto calls = std::make_shared<int>(0);
  std::weak_ptr<FakeSerialPort::State> weak = shared;
  shared->SetResponder([weak, after, calls, script](const Bytes &bytes) {
    auto s = weak.lock();
    if (*after == 0 && bytes == Bytes{0x45}) {
      ++*calls;
      if (script.Noise && *calls < 4) {
        s->Answer({0x00, 0x7F, 0x21});
        return;
      }
      s->Answer({0x43});
      *after = 1;
      return;
    }
    // Calls still in flight after the "C" are skipped until the header.
    if (*after <= 1 && bytes != Bytes{0x6A})
      return;
    size_t before = *after;
    *after += bytes.size();
    auto crossed = [&](size_t mark) { return before < mark && *after >= mark; };
    const size_t ram = 1 + RamProgramBytes, speed = ram + 6, id = speed + 2,
                 map = id + 6, table = map + MapBytes, flash = table + 1;
    if (crossed(ram))
      s->Answer({0x21});
    if (crossed(id)) {
      const Bytes record{0x89, 0x00, 0x18, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x83};
      for (size_t at = 0; at < record.size(); at += script.IdentificationBurst)
        s->Answer(Bytes(record.begin() + at,
                        record.begin() + std::min(record.size(), at + script.IdentificationBurst)));
    }
    if (crossed(map))
      s->Answer({script.MapAnswer});
    if (crossed(flash))
      s->Answer({script.FlashTypeAnswer});
  });
  return shared;
}

Bytes Joined(const std::vector<Bytes> &writes, size_t from, size_t to) {
  Bytes all;
  for (size_t i = from; i < to && i < writes.size(); ++i)
    all.insert(all.end(), writes[i].begin(), writes[i].end());
  return all;
}

size_t IndexOf(const std::vector<Bytes> &writes, const Bytes &message, size_t from = 0) {
  for (size_t i = from; i < writes.size(); ++i)
    if (writes[i] == message)
      return i;
  return writes.size();
}

struct ScriptedRun {
  WorkerHarness H;
  TestPanel *Panel = nullptr;
  std::shared_ptr<FakeSerialPort::State> Line;

  explicit ScriptedRun(Script script, uint8_t speedRow = SpeedRow920K) {
    Panel = &H.AddPanel("COM4", ButtonsForRow(speedRow));
    auto port = std::make_unique<FakeSerialPort>();
    Line = Handset(*port, script);
    H.Start(1, std::move(port));
  }
};

TEST(Handshake, RamProgramGoesOutWithItsHeaderIn23Chunks) {
  ScriptedRun run({});
  ASSERT_TRUE(run.H.ServeUntilAllEnded());
  const auto &w = run.Line->Writes;
  size_t header = IndexOf(w, {0x6A});
  ASSERT_LT(header, w.size());
  EXPECT_EQ(Joined(w, header, header + 5),
            (Bytes{0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00}));
  for (size_t i = 0; i < 23; ++i)
    EXPECT_EQ(w[header + 5 + i].size(), 256u) << "chunk " << i;
  EXPECT_EQ(Joined(w, header + 5, header + 28), Bytes(RamProgram.begin(), RamProgram.end()));
  EXPECT_EQ(run.Panel->Maximums().front(), 23u);
  Bytes expected(24);
  std::iota(expected.begin(), expected.end(), 0);
  auto positions = run.Panel->Positions();
  EXPECT_EQ(Bytes(positions.begin(), positions.begin() + 24), expected);
  EXPECT_EQ(std::count(RamProgram.end() - 28, RamProgram.end(), 0xFF), 28);
}

TEST(Handshake, SegmentMapOnTheWire) {
  ScriptedRun run({});
  ASSERT_TRUE(run.H.ServeUntilAllEnded());
  const auto &w = run.Line->Writes;
  size_t count = IndexOf(w, {0x00, 0x83});
  ASSERT_LT(count, w.size());
  Bytes map = Joined(w, count, count + 132);
  ASSERT_EQ(map.size(), 526u);
  EXPECT_EQ(Bytes(map.begin(), map.begin() + 22),
            (Bytes{0x00, 0x83, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 1, 0, 0, 0, 1, 0x80, 0, 0, 2, 0, 0}));
  EXPECT_EQ(Bytes(map.end() - 4, map.end()), (Bytes{0x00, 0xFE, 0x00, 0x00}));
  // Map command before it, flash type request after it.
  EXPECT_EQ(Joined(w, count - 3, count), (Bytes{0x21, 0x02, 0x01, 0, 0, 0}));
  EXPECT_EQ(w[count + 132], Bytes{0x21});
}

TEST(Handshake, TextsOfANormalHandshakeInOrder) {
  ScriptedRun run({.FlashTypeAnswer = 0x21});
  ASSERT_TRUE(run.H.ServeUntil([&] { return run.Panel->Saw("Starting flash write"); }));
  const std::vector<std::string> expected = {
      "Opened COMM port", "전원 On/Reset Mobile", "Sending RAM program", "Sending RAM program",
      "RAM program send completed", "RAM program loaded.", "Waiting for RAM program ACK.",
      "RAM program ACK received.", "Baud rate settings sent", "Port set to 921600 baud",
      "Waiting for man ID and device ID", "Sending segment map.",
      "Waiting for ACK of flash type", "Starting flash write"};
  EXPECT_EQ(run.Panel->Texts, expected);
}

// Ten data waits take one byte each; when bytes arrive together the host
// stops waiting once it holds all ten, and the map command follows.
TEST(Handshake, IdentificationBytesThatArriveTogetherDoNotStallTheRun) {
  for (size_t burst : {1u, 2u, 3u, 10u}) {
    Script script;
    script.IdentificationBurst = burst;
    ScriptedRun run(script);
    ASSERT_TRUE(run.H.ServeUntilAllEnded()) << "bytes in groups of " << burst;
    EXPECT_EQ(run.Panel->FinalReport.Identification,
              (Bytes{0x89, 0x00, 0x18, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x83}));
    EXPECT_TRUE(run.Panel->Saw("Waiting for ACK of flash type")) << "groups of " << burst;
  }
}

TEST(Handshake, EachSpeedSendsItsCodeAndSwitchesThePort) {
  struct Case {
    uint8_t Row;
    uint8_t Code;
    uint32_t Rate;
  };
  for (Case c : {Case{SpeedRow115K, 0x07, 115200}, Case{SpeedRow460K, 0x01, 460800},
                 Case{SpeedRow920K, 0x00, 921600}}) {
    ScriptedRun run({}, c.Row);
    ASSERT_TRUE(run.H.ServeUntilAllEnded());
    const auto &w = run.Line->Writes;
    size_t settings = IndexOf(w, {0x01, 0x00, 0x00, 0x00});
    ASSERT_LT(settings + 1, w.size());
    EXPECT_EQ(w[settings - 1], Bytes{0x21});
    EXPECT_EQ(w[settings + 1], Bytes{c.Code});
    EXPECT_EQ(run.Line->Rates, (std::vector<uint32_t>{9600, 28800, c.Rate}));
    EXPECT_TRUE(run.Panel->Saw("Port set to " + std::to_string(c.Rate) + " baud"));
  }
}

TEST(Handshake, StrayBytesDuringTheBootCallAreIgnored) {
  ScriptedRun run({.Noise = true});
  ASSERT_TRUE(run.H.ServeUntilAllEnded());
  EXPECT_TRUE(run.Panel->Saw("RAM program ACK received."));
  EXPECT_GE(IndexOf(run.Line->Writes, {0x6A}), 4u); // four calls before the "C"
}

TEST(Handshake, WrongMapAnswerIsShownAndTheRunGoesOn) {
  ScriptedRun run({.MapAnswer = 0x15, .FlashTypeAnswer = 0x21});
  ASSERT_TRUE(run.H.ServeUntil([&] { return run.Panel->Saw("Starting flash write"); }));
  auto &t = run.Panel->Texts;
  auto error = std::find(t.begin(), t.end(), " Error Occurred !!");
  ASSERT_NE(error, t.end());
  EXPECT_EQ(*(error + 1), "Sending segment map.");
}

TEST(Handshake, RefusedFlashEndsTheRunWith1200) {
  ScriptedRun run({.FlashTypeAnswer = 0x15});
  ASSERT_TRUE(run.H.ServeUntilAllEnded());
  EXPECT_EQ(run.Panel->LastText(), "ERROR Device not supported by RAM program (1200)");
  EXPECT_EQ(run.Panel->FinalStopCode, StopCodeBadDevice);
  EXPECT_FALSE(run.Panel->Saw("Starting flash write"));
}

TEST(Handshake, StopDuringTheBootCallSendsNothingMore) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("COM4");
  auto port = std::make_unique<FakeSerialPort>();
  auto line = port->Shared; // never answers
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("전원 On/Reset Mobile"); }));
  h.ServeUntil([] { return false; }, milliseconds(20));
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded());
  for (const Bytes &w : line->Writes)
    EXPECT_EQ(w, Bytes{0x45});
  EXPECT_EQ(panel.LastText(), "COMM Closed");
  EXPECT_FALSE(panel.Saw("Sending RAM program"));
}

TEST(Handshake, ChannelStillWaitingKeepsTheSpeedItStartedWith) {
  // Channel 1 starts at 920K and waits for its handset; channel 2 is then
  // started at 115K, and channel 1's panel is switched to 115K too. When
  // channel 1's handset answers it still sends the 920K code and switches
  // to 921600, and its report says so.
  WorkerHarness h;
  TestPanel &first = h.AddPanel("COM4", ButtonsForRow(SpeedRow920K));
  TestPanel &second = h.AddPanel("COM5", ButtonsForRow(SpeedRow115K));
  auto port = std::make_unique<FakeSerialPort>();
  auto line = Handset(*port, {});
  auto silent = line->GetResponder();
  line->SetResponder(nullptr); // switched off for now
  h.Start(1, std::move(port));
  ASSERT_TRUE(h.ServeUntil([&] { return first.Saw("전원 On/Reset Mobile"); }));
  h.Start(2, std::make_unique<FakeSerialPort>());
  first.SetSpeed(ButtonsForRow(SpeedRow115K));
  ASSERT_TRUE(h.ServeUntil([&] { return second.Saw("전원 On/Reset Mobile"); }));
  line->SetResponder(silent); // the handset is switched on
  ASSERT_TRUE(h.ServeUntil([&] { return first.Terminated; }));
  EXPECT_TRUE(first.Saw("Port set to 921600 baud"));
  EXPECT_FALSE(first.Saw("Port set to 115200 baud"));
  const Bytes speedCode{SpeedCodeTable[SpeedRow920K]};
  EXPECT_NE(std::find(line->Writes.begin(), line->Writes.end(), speedCode), line->Writes.end());
  EXPECT_EQ(first.FinalReport.LineRate, 921600u);
}

} // namespace
