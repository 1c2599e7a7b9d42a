// Real runs against virtual handsets, recorded through the recorder into a
// database file and read back: every way a run ends is on record with the
// outcome, texts, codes and counts the run gave, and the image's digest is
// the digest of the file sent.
#include "engine/CommsThread.h"
#include "engine/RamProgramSource.h"
#include "image/ImageState.h"
#include "records/RecordFromRun.h"
#include "records/Recorder.h"
#include "records/SqliteStore.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cstdio>

using namespace kestrune;
using namespace kestrune::test;
using namespace kestrune::records;
using namespace std::chrono;
using handset::HandsetOptions;
using Kind = LoadedImage::Kind;

namespace {

class RecordedRuns : public ::testing::Test {
protected:
  records::test::TempDir Dir;
  std::string Path = Dir.File("records.sqlite");
  Recorder Keeper{{Path, "bench-7", {}}};

  // One run on a fresh handset; its record as read back from the database.
  Record Run(HandsetOptions options,
             const std::function<void(WorkerHarness &, TestPanel &)> &onPanel = {}) {
    auto handset = StartHandset(std::move(options));
    WorkerHarness h;
    TestPanel &panel = h.AddPanel(handset ? handset->DevicePath() : "");
    if (onPanel)
      onPanel(h, panel);
    h.Start(1);
    EXPECT_TRUE(h.ServeUntilAllEnded(seconds(30)));
    Keeper.Submit(panel.FinalReport);
    Keeper.WaitUntilWritten();
    std::string why;
    auto store = SqliteStore::Open(Path, why);
    std::vector<Record> all;
    EXPECT_TRUE(store && store->List({}, all, why)) << why;
    return all.empty() ? Record{} : all.front();
  }
};

std::string Sha256SumOf(const std::string &path) {
  std::string command = "sha256sum '" + path + "'";
  FILE *pipe = popen(command.c_str(), "r");
  char line[256] = {};
  if (!pipe || !fgets(line, sizeof line, pipe))
    return "sha256sum failed";
  pclose(pipe);
  return std::string(line).substr(0, 64);
}

TEST_F(RecordedRuns, PassWithResentBlocksCarriesTheImageAndTheLine) {
  LoadedImage image(PatternBytes(3 * 32768 + 11), Kind::SRecord);
  ASSERT_TRUE(image.Loaded());
  Record r = Run({.NakBlock = 2, .NakTimes = 1});
  EXPECT_EQ(r.Outcome, "passed");
  EXPECT_EQ(r.FinalStatus, CompletedText);
  EXPECT_EQ(r.ErrorCode, 0u);
  EXPECT_EQ(r.Station, "bench-7");
  EXPECT_EQ(r.Channel, 1);
  EXPECT_EQ(r.Speed, 921600u);
  EXPECT_EQ(r.BlocksResent, 1u);
  EXPECT_EQ(r.BytesSent, 4 * 32768u + 11);
  EXPECT_EQ(r.Identification.size(), 20u); // ten bytes
  EXPECT_FALSE(r.FailureC.has_value());
  EXPECT_EQ(r.Id.size(), 36u);
  EXPECT_EQ(r.Started.size(), 24u);
  EXPECT_LE(r.Started, r.Ended);
  EXPECT_GT(r.Seconds, 0.0);
  EXPECT_EQ(r.ProgramVersion, ProgramVersion());
  // The .bif the loader made and the channel sent, digested once.
  const std::string sent = LoadedImageReady.Get()->Path;
  EXPECT_EQ(r.ImagePath, sent);
  EXPECT_EQ(r.ImageSize, std::filesystem::file_size(sent));
  EXPECT_EQ(r.ImageSha256, Sha256SumOf(sent));
  EXPECT_EQ(r.RamProgramSha256.size(), 64u);
}

TEST_F(RecordedRuns, EachFailureOfTheHandsetIsOnRecord) {
  LoadedImage image(PatternBytes(3 * 32768), Kind::Bin);
  EXPECT_EQ(LoadedImageReady.Get()->Path, image.SourcePath().string());
  {
    SCOPED_TRACE("program error");
    Record r = Run({.ProgramError = true, .ProgramErrorAddress = 0x8000,
                    .ProgramErrorCount = 3});
    EXPECT_EQ(r.Outcome, "failed");
    ASSERT_TRUE(r.FailureC && r.FailureS);
    EXPECT_EQ(*r.FailureC, 3u);
    char s[16];
    std::snprintf(s, sizeof s, "%08X", *r.FailureS);
    EXPECT_EQ(r.FinalStatus,
              "ERROR FLASH programming error (C:3, S:0x" + std::string(s) + ") (0)");
    EXPECT_EQ(r.ImageSha256, Sha256SumOf(image.SourcePath().string()));
  }
  {
    SCOPED_TRACE("erase failure");
    Record r = Run({.EraseFailSegment = 7});
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.FinalStatus, "ERROR Flash Erase Fail !! (0)");
    EXPECT_EQ(r.ErrorCode, StopCodeGeneralFailure);
    EXPECT_FALSE(r.FailureC.has_value());
  }
  {
    SCOPED_TRACE("refused flash");
    Record r = Run({.UnsupportedFlash = true});
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.FinalStatus, "ERROR Device not supported by RAM program (1200)");
    EXPECT_EQ(r.ErrorCode, StopCodeBadDevice);
    EXPECT_EQ(r.BytesSent, 0u);
  }
  {
    SCOPED_TRACE("pulled cable");
    Record r = Run({.DisconnectAfterBytes = 13 + 5888 + 600 + 50000});
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_TRUE(r.FinalStatus.rfind("ERROR Could not read from COMM port (", 0) == 0 ||
                r.FinalStatus.rfind("ERROR Could not write to COMM port (", 0) == 0)
        << r.FinalStatus;
    EXPECT_NE(r.ErrorCode, 0u);
    EXPECT_GT(r.BytesSent, 0u);
    EXPECT_LT(r.BytesSent, 3 * 32768u);
  }
  std::string why;
  std::vector<Record> all;
  ASSERT_TRUE(SqliteStore::Open(Path, why)->List({}, all, why));
  EXPECT_EQ(all.size(), 4u);
}

TEST_F(RecordedRuns, TheRamProgramFileSentIsTheOneOnRecord) {
  LoadedImage image(PatternBytes(40000), Kind::Bin);
  const std::string file = Dir.File("zero.ram");
  std::ofstream(file, std::ios::binary) << std::string(RamProgramLength, '\0');
  RamProgramFile zero = ReadRamProgramFile(file);
  ASSERT_NE(zero.Program, nullptr) << zero.Error;
  UseRamProgram(zero.Program);
  // The handset does not run such a program: the run is stopped once it
  // has been sent.
  Record r = Run({}, [](WorkerHarness &h, TestPanel &panel) {
    panel.OnText = [&h](const std::string &text) {
      if (text == "Waiting for RAM program ACK.")
        h.Worker(1)->RequestStop();
    };
  });
  UseRamProgram(nullptr);
  EXPECT_EQ(r.RamProgramSha256, Sha256SumOf(file));
  EXPECT_NE(r.RamProgramSha256, RamProgramDigest(RamProgram));
  EXPECT_EQ(r.Outcome, "stopped");
}

TEST_F(RecordedRuns, StopIsRecordedAsStopped) {
  LoadedImage image(PatternBytes(6 * 32768), Kind::Bin);
  Record r = Run({}, [](WorkerHarness &h, TestPanel &panel) {
    panel.OnText = [&h](const std::string &text) {
      if (text == "Sending block 4 of 6")
        h.Worker(1)->RequestStop();
    };
  });
  EXPECT_EQ(r.Outcome, "stopped");
  EXPECT_EQ(r.ErrorCode, StopCodeOperator);
  EXPECT_EQ(r.FinalStatus, "COMM Closed");
  EXPECT_GE(r.BytesSent, 3 * 32768u);
}

TEST_F(RecordedRuns, RunThatNeverOpenedItsPortIsOnRecordAsNoUnit) {
  LoadedImage image(PatternBytes(100), Kind::Bin);
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("/nonexistent/kestrune-port");
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(10)));
  Keeper.Submit(panel.FinalReport);
  Keeper.Close();
  EXPECT_EQ(Keeper.Written(), 1u);
  std::string why;
  auto store = SqliteStore::Open(Path, why);
  std::vector<Record> all;
  ASSERT_TRUE(store && store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 1u);
  EXPECT_FALSE(all[0].Unit);
  EXPECT_EQ(all[0].Outcome, "failed");
  EXPECT_EQ(all[0].Port, "/nonexistent/kestrune-port");
  EXPECT_NE(all[0].FinalStatus.find("해당 COMM port 를 열 수 없습니다."), std::string::npos)
      << all[0].FinalStatus;
  EXPECT_NE(all[0].ErrorCode, 0u);
}

} // namespace
