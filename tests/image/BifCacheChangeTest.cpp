// The .bif beside an S-record file is reused only when it was written from
// the file as it is now: same two-second slot, header and size as a
// conversion writes them, and put in place after the file last changed.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"
#include "tests/support/TestFiles.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;
using namespace std::chrono_literals;

const char *Reused = "BIF 파일 , 시작 0x000100, 종료 0x000120";
const char *Converted = "Completed MOT conversion, Start 0x000100, End 0x000120";

class BifCacheChange : public test::LoaderTest {
protected:
  std::string WriteMot(const std::string &path, uint8_t seed) {
    test::WriteFile(path, Srec('1', 0x100, Counting(32, seed)) + "S9030000FC\n");
    return path;
  }
  // File change times move in steps of a few milliseconds: let one pass,
  // so that what follows happens later than what came before.
  static void NextClockStep() { std::this_thread::sleep_for(30ms); }
};

TEST_F(BifCacheChange, AnEditInTheSameTwoSecondSlotIsConvertedAgain) {
  std::string mot = Dir / "edit.mot";
  std::string bif = Dir / "edit.bif";
  for (int attempt = 0;; ++attempt) {
    // Start early in a slot so that the edit falls in it too.
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto intoSlot = now % 2s;
    if (intoSlot > 1s)
      std::this_thread::sleep_for(2s - intoSlot);
    WriteMot(mot, 0x00);
    ASSERT_EQ(LoadImageFile(mot), 0);
    EXPECT_EQ(LoadStatusText.Get(), Converted);
    NextClockStep();
    WriteMot(mot, 0x40);
    if (FatTimeOf(mot) == FatTimeOf(bif))
      break;
    ASSERT_LT(attempt, 3) << "the machine is too slow to edit within two seconds";
  }
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), Converted);
  EXPECT_EQ(ImagePart(test::ReadFile(bif)), Counting(32, 0x40));
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), Reused);
}

TEST_F(BifCacheChange, ABifThatDisagreesWithItsHeaderIsConvertedAgain) {
  std::string mot = WriteMot(Dir / "app.mot", 0x10);
  test::SetFileTime(mot, 1700000000);
  std::string bif = Dir / "app.bif";
  ASSERT_EQ(LoadImageFile(mot), 0);
  const Bytes whole = test::ReadFile(bif);

  auto damaged = [&](Bytes contents) {
    test::WriteFile(bif, std::string(contents.begin(), contents.end()));
    test::SetFileTime(bif, 1700000000);
  };
  Bytes swapped = whole; // start above end
  swapped[1] = 0x01;
  swapped[5] = 0x00;
  swapped[4] = 0x20;
  swapped[0] = 0x40;
  Bytes tooLong = whole;
  tooLong.resize(whole.size() + 253, 0xFF);
  Bytes longest = whole; // a record below the highest may reach 252 past it
  longest.resize(whole.size() + 252, 0xFF);
  for (const Bytes &contents : {Bytes(whole.begin(), whole.end() - 1), Bytes(whole.begin(), whole.begin() + 8),
                                swapped, tooLong}) {
    damaged(contents);
    ASSERT_EQ(FatTimeOf(bif), FatTimeOf(mot));
    ASSERT_EQ(LoadImageFile(mot), 0);
    EXPECT_EQ(LoadStatusText.Get(), Converted) << contents.size();
    EXPECT_EQ(test::ReadFile(bif), whole) << contents.size();
  }
  damaged(longest);
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), Reused);
}

TEST_F(BifCacheChange, CopiesThatKeepTheirTime) {
  std::string mot = WriteMot(Dir / "app.mot", 0x10);
  test::SetFileTime(mot, 1700000000);
  ASSERT_EQ(LoadImageFile(mot), 0);

  // The S-record file and its .bif copied together, the .bif last: reused.
  std::filesystem::create_directory(Dir.path() / "copy");
  test::CopyKeepingTime(mot, Dir / "copy/app.mot");
  test::CopyKeepingTime(Dir / "app.bif", Dir / "copy/app.bif");
  ASSERT_EQ(LoadImageFile(Dir / "copy/app.mot"), 0);
  EXPECT_EQ(LoadStatusText.Get(), Reused);

  // Other text with the same time copied over the S-record file: converted.
  std::filesystem::create_directory(Dir.path() / "other");
  std::string other = WriteMot(Dir / "other/app.mot", 0x70);
  test::SetFileTime(other, 1700000000);
  NextClockStep();
  test::CopyKeepingTime(other, mot);
  ASSERT_EQ(FatTimeOf(mot), FatTimeOf(Dir / "app.bif"));
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), Converted);
  EXPECT_EQ(ImagePart(test::ReadFile(Dir / "app.bif")), Counting(32, 0x70));
}

} // namespace
} // namespace kestrune
