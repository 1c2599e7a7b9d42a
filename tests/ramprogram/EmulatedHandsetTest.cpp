// The virtual handset with the RAM program on its emulated core, through the
// real worker: a program that stops answering is reported by the handset,
// and the operator's Stop still ends the run.
#include "engine/CommsThread.h"
#include "handset/CommandLine.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>

namespace kestrune::test {
namespace {

using namespace std::chrono;
using handset::HandsetOptions;

bool TraceHas(const handset::VirtualHandset &handset, const std::string &text) {
  for (const std::string &line : handset.Trace())
    if (line.find(text) != std::string::npos)
      return true;
  return false;
}

// The handset's RAM holds a fault at the program's first instruction.
void RunWithCorruptRam(uint32_t word, const std::string &report) {
  LoadedImage image(PatternBytes(40000), LoadedImage::Kind::Bin);
  HandsetOptions options;
  options.CoreHangMs = 300;
  options.CorruptRam = HandsetOptions::RamWord{0, word};
  auto handset = StartHandset(options);
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  // The worker waits for the program's ACK for ever; the handset reports.
  ASSERT_TRUE(h.ServeUntil(
      [&] {
        return TraceHas(*handset, report) && panel.LastText() == "Waiting for RAM program ACK.";
      },
      seconds(10)))
      << "no report of the stopped core, or the worker not waiting: " << panel.LastText();
  auto stopping = steady_clock::now();
  h.Worker(1)->RequestStop();
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(5)));
  EXPECT_LT(steady_clock::now() - stopping, seconds(1));
  EXPECT_EQ(panel.LastText(), "COMM Closed");
  ASSERT_TRUE(handset->WaitForRuns(1, seconds(5)));
  EXPECT_EQ(handset->Runs()[0].Outcome, handset::RunOutcome::CoreStopped);
  EXPECT_TRUE(handset->InBootRom()) << "ready for the next run";
}

TEST(EmulatedHandset, HungProgramIsReportedAndStopStillEndsTheRun) {
  RunWithCorruptRam(0xEAFFFFFE, // b .
                    "emulated core stopped answering (no device access for 300 ms, at 0x40000000)");
}

TEST(EmulatedHandset, CrashedProgramIsReportedAndStopStillEndsTheRun) {
  RunWithCorruptRam(0xE7F000F0, "emulated core stopped answering (Invalid instruction");
}

TEST(EmulatedHandset, CommandLineChoosesTheModel) {
  auto parse = [](std::vector<const char *> args, handset::CommandLine &line) {
    args.insert(args.begin(), "kestrune-handset");
    return handset::ParseCommandLine(int(args.size()), args.data(), line);
  };
  handset::CommandLine arm, host, corrupt, wrong;
  EXPECT_EQ(parse({"--pty"}, arm), -1);
  EXPECT_EQ(arm.Options.Model, handset::RamModel::Arm);
  EXPECT_EQ(parse({"--pty", "--model", "host"}, host), -1);
  EXPECT_EQ(host.Options.Model, handset::RamModel::Host);
  EXPECT_EQ(parse({"--pty", "--corrupt-ram", "0x10:0xEAFFFFFE"}, corrupt), -1);
  ASSERT_TRUE(corrupt.Options.CorruptRam);
  EXPECT_EQ(corrupt.Options.CorruptRam->Offset, 0x10u);
  EXPECT_EQ(corrupt.Options.CorruptRam->Word, 0xEAFFFFFEu);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parse({"--pty", "--corrupt-ram", "16"}, wrong), 2);
  ::testing::internal::GetCapturedStderr();
}

} // namespace
} // namespace kestrune::test
