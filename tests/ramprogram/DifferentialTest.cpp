// The real RAM program on the emulated core against its model in host code:
// the same channel worker runs the same scenario against one virtual handset
// of each kind at once, and both must send the host the same bytes, leave
// the worker with the same texts and the flash with the same contents.
#include "engine/CommsThread.h"
#include "handset/HandsetCore.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

namespace kestrune::test {
namespace {

using namespace std::chrono;
using handset::HandsetOptions;
using handset::RamModel;
using Kind = LoadedImage::Kind;

// The host's port, keeping every byte the host read: what the handset sent.
class ReadRecordingPort final : public SerialPort {
public:
  explicit ReadRecordingPort(std::shared_ptr<std::vector<uint8_t>> log)
      : Inner(CreateSerialPort()), Log(std::move(log)) {}
  bool Open(const std::string &name) override { return Keep(Inner->Open(name)); }
  bool IsOpen() const override { return Inner->IsOpen(); }
  void Close() override { Inner->Close(); }
  bool SetQueueSizes(uint32_t in, uint32_t out) override { return Keep(Inner->SetQueueSizes(in, out)); }
  bool GetSettings(PortSettings &s) override { return Keep(Inner->GetSettings(s)); }
  bool ApplySettings(const PortSettings &s) override { return Keep(Inner->ApplySettings(s)); }
  bool ApplyTimeouts(const CommTimeouts &t) override { return Keep(Inner->ApplyTimeouts(t)); }
  bool Purge(bool o, bool i) override { return Keep(Inner->Purge(o, i)); }
  bool Drain() override { return Keep(Inner->Drain()); }
  void ClearErrors() override { Inner->ClearErrors(); }
  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    return Keep(Inner->Write(data, count, written));
  }
  bool Read(void *data, uint32_t count, uint32_t &received) override {
    bool ok = Inner->Read(data, count, received);
    auto *bytes = static_cast<uint8_t *>(data);
    Log->insert(Log->end(), bytes, bytes + received);
    return Keep(ok);
  }

private:
  bool Keep(bool ok) {
    LastErrorCode = Inner->LastError();
    return ok;
  }
  std::unique_ptr<SerialPort> Inner;
  std::shared_ptr<std::vector<uint8_t>> Log;
};

struct Scenario {
  const char *Name;
  size_t ImageSize;
  Kind Type = Kind::Bin;
  HandsetOptions Options = {};
  // The operator presses Stop when the worker shows this text.
  const char *StopAt = nullptr;
  // The handset falls silent: the operator stops once nothing moves.
  bool Silent = false;
  // A stop lands while the handsets are still at work: the flash is
  // compared only below this address (all of it by default), and of the
  // bytes the host read only as much as both have.
  uint32_t SettledFlash = 0x1000000;
};

void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.Name; }

HandsetOptions With(void (*set)(HandsetOptions &)) {
  HandsetOptions options;
  set(options);
  return options;
}

std::string Hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    text += two;
  }
  return text;
}

struct Side {
  std::unique_ptr<handset::VirtualHandset> Handset;
  std::shared_ptr<std::vector<uint8_t>> Received = std::make_shared<std::vector<uint8_t>>();
  std::atomic<int64_t> LastTextAt{steady_clock::now().time_since_epoch().count()};
};

// The texts of a run; a stop's closing text names its channel: dropped.
std::vector<std::string> TextsOf(const TestPanel &panel) {
  std::vector<std::string> texts = panel.Texts;
  if (!texts.empty() && texts.back().rfind("COMM Closed", 0) == 0)
    texts.pop_back();
  return texts;
}

class HostAndArmModels : public ::testing::TestWithParam<Scenario> {};

TEST_P(HostAndArmModels, AnswerAlike) {
  const Scenario &scenario = GetParam();
  LoadedImage image(PatternBytes(scenario.ImageSize, uint32_t(scenario.ImageSize) + 7),
                    scenario.Type);
  ASSERT_TRUE(image.Loaded());
  Side sides[2];
  WorkerHarness h;
  for (int i = 0; i < 2; ++i) {
    HandsetOptions options = scenario.Options;
    options.Model = i == 0 ? RamModel::Host : RamModel::Arm;
    sides[i].Handset = StartHandset(options);
    TestPanel &panel = h.AddPanel(sides[i].Handset->DevicePath());
    panel.OnText = [&, i](const std::string &text) {
      sides[i].LastTextAt = steady_clock::now().time_since_epoch().count();
      if (scenario.StopAt && text == scenario.StopAt)
        h.Worker(i + 1)->RequestStop();
    };
  }
  for (int i = 0; i < 2; ++i)
    h.Start(i + 1, std::make_unique<ReadRecordingPort>(sides[i].Received));
  if (scenario.Silent) {
    // Quiet for longer than the identification, which shows no text while
    // its ten bytes come one gap apart: a shorter quiet could stop the two
    // runs in the middle of it, one byte apart.
    auto quiet = [&] {
      auto now = steady_clock::now().time_since_epoch().count();
      auto settled = duration_cast<steady_clock::duration>(
                         10 * handset::HandsetCore::IdGap + milliseconds(700))
                         .count();
      return now - sides[0].LastTextAt > settled && now - sides[1].LastTextAt > settled;
    };
    h.ServeUntil(quiet, seconds(20));
    h.Worker(1)->RequestStop();
    h.Worker(2)->RequestStop();
  }
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)))
      << "host model ended at '" << h.Panel(1).LastText() << "', emulated core at '"
      << h.Panel(2).LastText() << "'";

  std::vector<uint8_t> hostBytes = *sides[0].Received, armBytes = *sides[1].Received;
  if (scenario.StopAt) {
    size_t both = std::min(hostBytes.size(), armBytes.size());
    hostBytes.resize(both);
    armBytes.resize(both);
  }
  EXPECT_EQ(Hex(hostBytes), Hex(armBytes)) << "bytes the host read";
  EXPECT_EQ(TextsOf(h.Panel(1)), TextsOf(h.Panel(2)));
  for (Side &side : sides)
    ASSERT_TRUE(side.Handset->WaitForRuns(1, seconds(5))) << "the host closed the line";
  auto hostRun = sides[0].Handset->Runs().at(0);
  auto armRun = sides[1].Handset->Runs().at(0);
  EXPECT_STREQ(OutcomeName(hostRun.Outcome), OutcomeName(armRun.Outcome));
  EXPECT_EQ(hostRun.Failures, armRun.Failures);
  EXPECT_EQ(hostRun.FailureStatus, armRun.FailureStatus);
  auto hostFlash = sides[0].Handset->ReadFlash(0, scenario.SettledFlash);
  auto armFlash = sides[1].Handset->ReadFlash(0, scenario.SettledFlash);
  auto differ = std::mismatch(hostFlash.begin(), hostFlash.end(), armFlash.begin());
  EXPECT_EQ(differ.first, hostFlash.end()) << "flash differs from 0x" << std::hex
                                          << (differ.first - hostFlash.begin());
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, HostAndArmModels,
    ::testing::Values(
        Scenario{"EmptyBif", 0, Kind::Bif},
        Scenario{"OneShortBlock", 1001},
        Scenario{"TwoBlocks40000", 40000},
        Scenario{"ThreeFullBlocks", 3 * 32768, Kind::Bif},
        Scenario{"FiveBlocksFromSRecords", 5 * 32768 - 77, Kind::SRecord},
        Scenario{"SlowErase", 3 * 32768 + 100, Kind::Bin,
                 With([](HandsetOptions &o) { o.Timing = {2000, 1000, 0}; })},
        Scenario{"NakBlock1", 3 * 32768, Kind::Bin, With([](HandsetOptions &o) { o.NakBlock = 1; })},
        Scenario{"NakBlock2", 4 * 32768, Kind::Bin, With([](HandsetOptions &o) { o.NakBlock = 2; })},
        Scenario{"NakBlock3Twice", 4 * 32768 + 5, Kind::Bin, With([](HandsetOptions &o) {
                   o.NakBlock = 3;
                   o.NakTimes = 2;
                 })},
        Scenario{"NakLastBlock", 3 * 32768, Kind::Bin, With([](HandsetOptions &o) { o.NakBlock = 3; })},
        Scenario{"EraseFailSegment7", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.EraseFailSegment = 7; })},
        Scenario{"EraseFailLastSegment", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.EraseFailSegment = 131; })},
        Scenario{"EraseFailShortImage", 20000, Kind::Bin,
                 With([](HandsetOptions &o) { o.EraseFailSegment = 1; })},
        Scenario{"ProgramError", 4 * 32768, Kind::Bin, With([](HandsetOptions &o) {
                   o.ProgramError = true;
                   o.ProgramErrorAddress = 0x8000;
                   o.ProgramErrorCount = 3;
                 })},
        Scenario{"UnsupportedFlash", 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.UnsupportedFlash = true; })},
        Scenario{"WrongMapAnswer", 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.MapAnswer = 0x02; })},
        // Block 4 still goes out after the stop, and the line closes while
        // the handsets take it.
        Scenario{"StopBeforeBlock4", 6 * 32768, Kind::Bin, {}, "Sending block 4 of 6", false,
                 3 * 32768},
        Scenario{"StopInTheEraseReport", 6 * 32768, Kind::Bin, {}, " Flash Erasing Sector 3/131",
                 false, 0},
        Scenario{"SilentAtSpeed", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.SilentAfter = handset::Phase::Speed; }), nullptr,
                 true},
        Scenario{"SilentAtMap", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.SilentAfter = handset::Phase::Map; }), nullptr, true},
        Scenario{"SilentAtBlocks", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.SilentAfter = handset::Phase::Blocks; }), nullptr,
                 true},
        Scenario{"SilentAtErase", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.SilentAfter = handset::Phase::Erase; }), nullptr,
                 true},
        Scenario{"SilentAtVerdict", 3 * 32768, Kind::Bin,
                 With([](HandsetOptions &o) { o.SilentAfter = handset::Phase::Verdict; }), nullptr,
                 true}),
    [](const auto &param) { return std::string(param.param.Name); });

} // namespace
} // namespace kestrune::test
