// The watchdog over silent handsets and the limit of re-sends of one block,
// against virtual handsets that fall silent at each phase of a run or
// refuse a block again and again.
#include "engine/CommsThread.h"
#include "engine/Watchdog.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using handset::HandsetOptions;
using handset::Phase;
using Kind = LoadedImage::Kind;

namespace {

using Clock = steady_clock;

// The real port, noting when the worker last heard from the handset or
// last finished sending to it: the handset's silence starts there.
class ActivityPort final : public SerialPort {
public:
  explicit ActivityPort(std::shared_ptr<std::atomic<Clock::rep>> last)
      : Inner(CreateSerialPort()), Last(std::move(last)) {}
  bool Open(const std::string &name) override { return Forward(Inner->Open(name)); }
  bool IsOpen() const override { return Inner->IsOpen(); }
  void Close() override { Inner->Close(); }
  bool SetQueueSizes(uint32_t in, uint32_t out) override {
    return Forward(Inner->SetQueueSizes(in, out));
  }
  bool GetSettings(PortSettings &s) override { return Forward(Inner->GetSettings(s)); }
  bool ApplySettings(const PortSettings &s) override { return Forward(Inner->ApplySettings(s)); }
  bool ApplyTimeouts(const CommTimeouts &t) override { return Forward(Inner->ApplyTimeouts(t)); }
  bool Purge(bool o, bool i) override { return Forward(Inner->Purge(o, i)); }
  bool Drain() override { return Forward(Inner->Drain()); }
  void ClearErrors() override { Inner->ClearErrors(); }
  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    bool ok = Forward(Inner->Write(data, count, written));
    Note();
    return ok;
  }
  bool Read(void *data, uint32_t count, uint32_t &received) override {
    bool ok = Forward(Inner->Read(data, count, received));
    if (received > 0)
      Note();
    return ok;
  }
  void SetStopFlag(const std::atomic<bool> *stop) override { Inner->SetStopFlag(stop); }

private:
  void Note() { *Last = Clock::now().time_since_epoch().count(); }
  bool Forward(bool ok) {
    LastErrorCode = Inner->LastError();
    return ok;
  }
  std::unique_ptr<SerialPort> Inner;
  std::shared_ptr<std::atomic<Clock::rep>> Last;
};

// Sets the station's limits for one test and puts the defaults back.
class Watchdog : public ::testing::Test {
protected:
  void TearDown() override {
    SetWatchdogSeconds(DefaultWatchdogSeconds);
    SetResendLimit(DefaultResendLimit);
  }
};

struct SilentCase {
  Phase SilentAt;
  size_t ImageBytes;
  std::string WaitingFor;
  bool EraseLimit; // the wait follows a whole-flash erase
};

TEST_F(Watchdog, EveryPhaseOfASilentHandsetEndsWithinTheLimit) {
  // Short enough for a quick test, long enough that a handset answering on
  // a loaded machine is not taken for a silent one (at 400 ms a map answer
  // once came too late, beside the test command's background builds).
  constexpr uint32_t answerMs = 1000, eraseMs = 2000;
  SetStationRunLimits({answerMs, eraseMs, StationRunLimits().Resends});
  const std::vector<SilentCase> cases = {
      {Phase::RamProgram, 3 * 32768, "RAM program ACK", false},
      {Phase::Speed, 3 * 32768, "identification", false},
      {Phase::Id, 3 * 32768, "identification", false},
      {Phase::Map, 3 * 32768, "map answer", false},
      {Phase::FlashType, 3 * 32768, "flash type answer", false},
      {Phase::Start, 3 * 32768, "answer to the start header", false},
      {Phase::Blocks, 3 * 32768, "answer to block 1", false},
      {Phase::Erase, 3 * 32768, "erase report", true},
      {Phase::Erase, 32768 + 100, "verdict", true},
      {Phase::Erase, 1000, "verdict", true},
      {Phase::Verdict, 3 * 32768, "verdict", false},
  };
  for (const SilentCase &c : cases) {
    SCOPED_TRACE(std::string(handset::PhaseName(c.SilentAt)) + ", image of " +
                 std::to_string(c.ImageBytes) + " bytes");
    LoadedImage image(PatternBytes(c.ImageBytes), Kind::Bin);
    ASSERT_TRUE(image.Loaded());
    // The host-code RAM program: the emulated core's start-up can take
    // longer than these short limits on a loaded machine, and the watchdog
    // is the same for both.
    auto handset = StartHandset({.Model = handset::RamModel::Host, .SilentAfter = c.SilentAt});
    auto last = std::make_shared<std::atomic<Clock::rep>>(0);
    WorkerHarness h;
    TestPanel &panel = h.AddPanel(handset->DevicePath());
    // The worker waits while its text is shown: its last activity before
    // the failure is still the port's last one then.
    Clock::time_point failedAt{}, silentFrom{};
    panel.OnText = [&](const std::string &text) {
      if (text.rfind("ERROR ", 0) != 0 || failedAt != Clock::time_point{})
        return;
      failedAt = Clock::now();
      silentFrom = Clock::time_point(Clock::duration(last->load()));
    };
    h.Start(1, std::make_unique<ActivityPort>(last));
    ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));

    const std::string expected = "ERROR Handset stopped answering: " + c.WaitingFor + " (" +
                                 std::to_string(TimedOutErrorCode()) + ")";
    EXPECT_EQ(panel.LastText(), expected);
    EXPECT_EQ(panel.FinalReport.Outcome, RunOutcome::Failed);
    EXPECT_EQ(panel.FinalReport.FinalStatus, expected);
    EXPECT_EQ(panel.FinalStopCode, TimedOutErrorCode());
    EXPECT_FALSE(panel.Saw(CompletedText));
    const auto silence = duration_cast<milliseconds>(failedAt - silentFrom);
    const milliseconds limit(c.EraseLimit ? eraseMs : answerMs);
    EXPECT_GE(silence, limit);
    // The text reaches the test through the panel's queue, which a loaded
    // machine serves late; a watchdog that restarted its wait would still
    // show at twice the limit.
    EXPECT_LT(silence, limit + limit / 2);
  }
}

TEST_F(Watchdog, BeforeTheBootRomAnswersTheCallGoesOnUntilStopped) {
  SetStationRunLimits({200, 200, StationRunLimits().Resends});
  LoadedImage image(PatternBytes(1000), Kind::Bin);
  auto handset = StartHandset({.SilentAfter = Phase::Boot});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  EXPECT_FALSE(h.ServeUntilAllEnded(milliseconds(1000)));
  EXPECT_EQ(panel.LastText(), "전원 On/Reset Mobile");
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_EQ(panel.FinalReport.Outcome, RunOutcome::Stopped);
}

TEST_F(Watchdog, OffWaitsForTheSilentHandsetUntilStopped) {
  SetWatchdogSeconds(0);
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  auto handset = StartHandset({.SilentAfter = Phase::Blocks});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Sending block 1 of 3"); }, seconds(30)));
  EXPECT_FALSE(h.ServeUntilAllEnded(milliseconds(1500)));
  const auto stopped = Clock::now();
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_LT(Clock::now() - stopped, seconds(1));
  EXPECT_EQ(panel.LastText(), "COMM Closed");
}

TEST_F(Watchdog, AStopDuringAWatchedWaitIsAStopNotAFailure) {
  SetStationRunLimits({2000, StationRunLimits().EraseMs, StationRunLimits().Resends});
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  auto handset = StartHandset({.SilentAfter = Phase::Map});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntil([&] { return panel.Saw("Waiting for man ID and device ID"); },
                           seconds(30)));
  h.ServeUntil([] { return false; }, milliseconds(1500)); // identification, then the map wait
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_EQ(panel.LastText(), "COMM Closed");
  EXPECT_EQ(panel.FinalReport.Outcome, RunOutcome::Stopped);
}

TEST_F(Watchdog, ABlockRefusedPastTheResendLimitFailsTheRun) {
  SetResendLimit(3);
  for (uint32_t block : {1u, 2u, 3u}) {
    for (uint32_t times : {3u, 4u}) {
      SCOPED_TRACE("block " + std::to_string(block) + " refused " + std::to_string(times) +
                   " times");
      LoadedImage image(PatternBytes(4 * 32768), Kind::Bin);
      auto handset = StartHandset({.NakBlock = block, .NakTimes = times});
      WorkerHarness h;
      TestPanel &panel = h.AddPanel(handset->DevicePath());
      h.Start(1);
      ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));
      const std::string resend = "Re-sending block " + std::to_string(block) + " of 4";
      EXPECT_EQ(std::count(panel.Texts.begin(), panel.Texts.end(), resend), 3);
      if (times == 3) {
        EXPECT_EQ(panel.LastText(), CompletedText);
        EXPECT_EQ(panel.FinalReport.BlocksResent, 3u);
        continue;
      }
      const std::string failure =
          "ERROR Handset refused block " + std::to_string(block) + " after 3 re-sends (0)";
      EXPECT_EQ(panel.LastText(), failure);
      EXPECT_EQ(panel.FinalReport.Outcome, RunOutcome::Failed);
      EXPECT_EQ(panel.FinalReport.FinalStatus, failure);
      EXPECT_FALSE(panel.Saw("Sending block " + std::to_string(block + 1) + " of 4"));
    }
  }
}

TEST_F(Watchdog, WithoutAResendLimitARefusedBlockIsSentUntilTaken) {
  SetResendLimit(0);
  LoadedImage image(PatternBytes(4 * 32768), Kind::Bin);
  auto handset = StartHandset({.NakBlock = 3, .NakTimes = 40});
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(60)));
  EXPECT_EQ(panel.LastText(), CompletedText);
  EXPECT_EQ(panel.FinalReport.BlocksResent, 40u);
}

} // namespace
