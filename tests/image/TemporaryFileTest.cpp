// The temporaries of a conversion: names that fit, removal on SIGINT and
// SIGTERM, and removal by a later conversion once their writer is dead.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"
#include "platform/FileWriter.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;

class TemporaryFile : public test::LoaderTest {
protected:
  // An image of size bytes in 32-byte S3 records.
  std::string WriteMot(const std::string &name, uint32_t size) {
    std::string text;
    text.reserve(size / 32 * 80);
    for (uint32_t at = 0; at < size; at += 32)
      text += Srec('3', at, Counting(32, static_cast<uint8_t>(at >> 5)));
    std::string path = Dir / name;
    test::WriteFile(path, text + "S70500000000FA\n");
    return path;
  }

  std::vector<std::string> Temporaries(const std::string &target) {
    std::vector<std::string> found;
    for (const std::string &name : Dir.Names())
      if (IsTemporaryNameFor(name, target))
        found.push_back(name);
    return found;
  }
};

TEST_F(TemporaryFile, NamesFitTheLongestFileName) {
  std::string stem(246, 'a');
  std::string mot = WriteMot(stem + ".mot", 64);
  ASSERT_EQ(LoadImageFile(mot), 0) << LoadStatusText.Get();
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{stem + ".bif", stem + ".mot"}));

  std::string target = Dir / (stem + ".bif");
  std::string name = TemporaryNameFor(target);
  std::string file = name.substr(name.rfind('/') + 1);
  EXPECT_EQ(file.size(), 255u);
  EXPECT_TRUE(IsTemporaryNameFor(file, target));
  EXPECT_NE(TemporaryNameFor(target), name);
  // A name of three-byte characters is cut between characters.
  std::string korean;
  for (int i = 0; i < 84; ++i)
    korean += "파";
  std::string cut = TemporaryNameFor("/x/" + korean + ".bif");
  size_t kept = cut.size() - 3 - 10;
  EXPECT_EQ(kept, 243u);
  EXPECT_EQ(cut.substr(3, kept), korean.substr(0, kept));
  // Short names are kept whole; nothing else matches.
  EXPECT_TRUE(IsTemporaryNameFor("a.bif.~0123abcd", "/d/a.bif"));
  for (const char *other : {"a.bif.~0123abc", "a.bif.~0123abcde", "a.bif.~0123ABCD", "a.bif~0123abcd",
                            "b.bif.~0123abcd", "a.bif"})
    EXPECT_FALSE(IsTemporaryNameFor(other, "/d/a.bif")) << other;
}

TEST_F(TemporaryFile, OnlyTemporariesWithoutALiveWriterAreRemoved) {
  std::string target = Dir / "app.bif";
  test::WriteFile(Dir / "app.bif.~0000dead", "left by a killed conversion");
  test::WriteFile(Dir / "app.bif.~notmine0", "not a temporary name");
  test::WriteFile(Dir / "other.bif.~0000dead", "another target's");
  std::unique_ptr<FileWriter> live = CreateFileWriter();
  ASSERT_TRUE(live->CreateUnique(target));
  std::string liveName = live->Path().substr(live->Path().rfind('/') + 1);

  EXPECT_EQ(RemoveDeadTemporaries(target), 1);
  std::vector<std::string> kept{"app.bif.~notmine0", liveName, "other.bif.~0000dead"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Dir.Names(), kept);
  // Once its writer is gone, the other one goes too.
  live->Close();
  EXPECT_EQ(RemoveDeadTemporaries(target), 1);
  EXPECT_EQ(Temporaries(target), std::vector<std::string>{});
}

// A writer that stops for good after its first bytes, telling the test.
class StallingWriter final : public FileWriter {
public:
  explicit StallingWriter(int ready) : Real(CreateFileWriter()), Ready(ready) {}
  bool CreateUnique(const std::string &target) override {
    bool ok = Real->CreateUnique(target);
    FilePath = Real->Path();
    return ok;
  }
  bool WriteAt(uint64_t offset, const void *data, size_t count) override {
    Real->WriteAt(offset, data, count);
    char byte = 1;
    if (::write(Ready, &byte, 1) != 1)
      ::_exit(3);
    for (;;)
      ::pause();
  }
  bool SyncToDisk() override { return Real->SyncToDisk(); }
  bool Close() override { return Real->Close(); }

private:
  std::unique_ptr<FileWriter> Real;
  int Ready;
};

TEST_F(TemporaryFile, SigintAndSigtermDuringAConversionRemoveTheTemporary) {
  std::string mot = WriteMot("app.mot", 4096);
  for (int signalNumber : {SIGINT, SIGTERM}) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      LoaderSeams seams;
      seams.NewWriter = [&] { return std::make_unique<StallingWriter>(ready[1]); };
      ::_exit(LoadImageFile(mot, seams) + 10);
    }
    ::close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 10000), 1);
    EXPECT_EQ(Temporaries(Dir / "app.bif").size(), 1u);
    ::kill(child, signalNumber);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(ready[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
    EXPECT_EQ(Dir.Names(), std::vector<std::string>{"app.mot"}) << signalNumber;
  }
}

TEST_F(TemporaryFile, KilledConversionsLeaveNothingThatLooksCurrent) {
  std::string mot = WriteMot("big.mot", 1u << 18);
  std::string bif = Dir / "big.bif";
  // One whole conversion: how long it takes and what it gives.
  auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(LoadImageFile(mot), 0);
  auto took = std::chrono::steady_clock::now() - began;
  const Bytes whole = test::ReadFile(bif);

  std::mt19937 random(13);
  std::uniform_int_distribution<int64_t> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(took).count() * 5 / 4);
  int leftBehind = 0;
  for (int round = 0; round < 10; ++round) {
    std::filesystem::remove(bif);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
      ::_exit(LoadImageFile(mot));
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    // A .bif with the input's time is a whole one.
    if (std::filesystem::exists(bif) && FatTimeOf(bif) == FatTimeOf(mot)) {
      EXPECT_EQ(test::ReadFile(bif), whole) << round;
    }
    leftBehind += static_cast<int>(Temporaries(bif).size());
  }
  std::filesystem::remove(bif);
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"big.bif", "big.mot"}));
  EXPECT_EQ(test::ReadFile(bif), whole);
  RecordProperty("TemporariesLeftByKills", leftBehind);
}

} // namespace
} // namespace kestrune
