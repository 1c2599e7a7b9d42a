// A RAM program read from a file: only a file of exactly the RAM program's
// length is taken, and what is taken is what the handset runs.
#include "engine/CommsThread.h"
#include "engine/RamProgramSource.h"
#include "engine/Watchdog.h"
#include "tests/e2e/E2eSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Kind = LoadedImage::Kind;
namespace fs = std::filesystem;

namespace {

class RamProgramFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-ramprogram-XXXXXX";
    Directory = ::mkdtemp(pattern);
  }
  void TearDown() override {
    UseRamProgram(nullptr);
    SetWatchdogSeconds(DefaultWatchdogSeconds);
    fs::remove_all(Directory);
  }
  fs::path Write(const std::string &name, const std::vector<uint8_t> &bytes) {
    fs::path path = Directory / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  // The program this project builds (ramprogram/), as committed.
  static std::vector<uint8_t> OwnProgram() { return {RamProgram.begin(), RamProgram.end()}; }
  fs::path Directory;
};

TEST_F(RamProgramFileTest, OnlyAFileOfExactlyTheProgramsLengthIsTaken) {
  std::vector<uint8_t> bytes = OwnProgram();
  std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - 1);
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0xFF);
  for (const auto &[name, content, size] :
       {std::tuple{"short.bin", shorter, "5887"}, std::tuple{"long.bin", longer, "5889"},
        std::tuple{"empty.bin", std::vector<uint8_t>{}, "0"}}) {
    SCOPED_TRACE(name);
    fs::path path = Write(name, content);
    RamProgramFile file = ReadRamProgramFile(path.string());
    EXPECT_EQ(file.Program, nullptr);
    EXPECT_EQ(file.Error, "RAM program file '" + path.string() + "' is " + size +
                              " bytes; a RAM program is exactly 5888 bytes");
  }
  RamProgramFile missing = ReadRamProgramFile((Directory / "none.bin").string());
  EXPECT_EQ(missing.Program, nullptr);
  EXPECT_NE(missing.Error.find("cannot open"), std::string::npos) << missing.Error;
  EXPECT_NE(missing.Error.find("(2)"), std::string::npos) << missing.Error;
  // A FIFO would hang the reader: it is refused without waiting for a writer.
  fs::path fifo = Directory / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  RamProgramFile pipe = ReadRamProgramFile(fifo.string());
  EXPECT_EQ(pipe.Program, nullptr);
  EXPECT_NE(pipe.Error.find("FIFO"), std::string::npos) << pipe.Error;

  RamProgramFile own = ReadRamProgramFile(Write("own.bin", bytes).string());
  ASSERT_NE(own.Program, nullptr) << own.Error;
  EXPECT_TRUE(own.Error.empty());
  EXPECT_TRUE(std::equal(own.Program->begin(), own.Program->end(), bytes.begin()));
}

TEST_F(RamProgramFileTest, TheProjectsOwnProgramFromAFileFlashesAHandset) {
  RamProgramFile own = ReadRamProgramFile(Write("own.bin", OwnProgram()).string());
  ASSERT_NE(own.Program, nullptr) << own.Error;
  UseRamProgram(own.Program);
  EXPECT_FALSE(BuiltInRamProgramChosen());
  LoadedImage image(PatternBytes(3 * 32768 + 11), Kind::Bin);
  ASSERT_TRUE(image.Loaded());
  auto handset = StartHandset();
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));
  EXPECT_EQ(panel.LastText(), CompletedText);
  std::string why;
  EXPECT_TRUE(FlashHolds(*handset, image.Data(), &why)) << why;
}

TEST_F(RamProgramFileTest, TheFilesBytesAreWhatTheHandsetRuns) {
  // The same program with its first word changed: the virtual handset takes
  // only the loader it knows, so it receives what the file holds, names the
  // first byte that differs and never sends the ACK that it runs.
  std::vector<uint8_t> bytes = OwnProgram();
  const uint8_t spin[] = {0xFE, 0xFF, 0xFF, 0xEA};
  std::copy(std::begin(spin), std::end(spin), bytes.begin());
  RamProgramFile spinning = ReadRamProgramFile(Write("spin.bin", bytes).string());
  ASSERT_NE(spinning.Program, nullptr) << spinning.Error;
  UseRamProgram(spinning.Program);
  SetStationRunLimits({1000, StationRunLimits().EraseMs, StationRunLimits().Resends});
  LoadedImage image(PatternBytes(1000), Kind::Bin);
  auto handset = StartHandset();
  WorkerHarness h;
  TestPanel &panel = h.AddPanel(handset->DevicePath());
  h.Start(1);
  ASSERT_TRUE(h.ServeUntilAllEnded(seconds(30)));
  EXPECT_EQ(panel.LastText(), "ERROR Handset stopped answering: RAM program ACK (" +
                                  std::to_string(TimedOutErrorCode()) + ")");
  bool namedFirstByte = false;
  for (const std::string &line : handset->Trace())
    namedFirstByte = namedFirstByte || line.find("first difference at byte 0)") != std::string::npos;
  EXPECT_TRUE(namedFirstByte);
  // Back to the built-in program: the same handset is flashed.
  UseRamProgram(nullptr);
  EXPECT_TRUE(BuiltInRamProgramChosen());
  WorkerHarness again;
  TestPanel &second = again.AddPanel(handset->DevicePath());
  again.Start(1);
  ASSERT_TRUE(again.ServeUntilAllEnded(seconds(30)));
  EXPECT_EQ(second.LastText(), CompletedText);
}

} // namespace
