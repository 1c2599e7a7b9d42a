// S-record files dated outside the years a FAT time can hold (1980 to
// 2107): such a file is never taken as converted already, and its .bif
// gets the nearest time the form allows.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"

namespace kestrune {
namespace {

using test::Counting;
using test::Srec;

class FatRange : public test::LoaderTest {};

TEST_F(FatRange, TimesOutsideTheFormAreConvertedEachLoadWithTheNearestTime) {
  struct Case {
    int64_t Seconds;
    FatTime Nearest;
  };
  // 1975-06-01 and 2120-06-01 (UTC); the edges are local times.
  for (const Case &c : {Case{170812800, FatTime{1980, 1, 1, 0, 0, 0}},
                        Case{4747161600, FatTime{2107, 12, 31, 23, 59, 29}}}) {
    SCOPED_TRACE(c.Seconds);
    std::string mot = Dir / "old.mot";
    std::string bif = Dir / "old.bif";
    test::WriteFile(mot, Srec('1', 0x100, Counting(16, 0x40)));
    try {
      test::SetFileTime(mot, c.Seconds);
    } catch (const std::exception &) {
      GTEST_SKIP() << "this file system cannot hold the time " << c.Seconds;
    }
    FatTime read;
    uint32_t error = 0;
    ASSERT_TRUE(GetLastWriteFatTime(mot, read, error)) << error;
    EXPECT_FALSE(read.Exact);
    EXPECT_EQ(read.Year, c.Nearest.Year);

    ASSERT_EQ(LoadImageFile(mot), 0);
    EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x000110");
    EXPECT_EQ(FatTimeOf(bif), c.Nearest);

    // Loaded again it is converted again: the .bif's exact time is not the
    // S-record file's, whatever the fields say.
    test::WriteFile(bif, std::string(8 + 16, '\0'));
    SetLastWriteFatTime(bif, c.Nearest, error);
    LoadStatusText.Set("");
    ASSERT_EQ(LoadImageFile(mot), 0);
    EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x000110");
    EXPECT_EQ(test::ReadFile(bif).size(), 8u + 16);
    EXPECT_EQ(test::ReadFile(bif)[8], 0x40) << "the image bytes were written anew";
    std::filesystem::remove(PathFromUtf8(mot));
    std::filesystem::remove(PathFromUtf8(bif));
  }
}

TEST_F(FatRange, TimesInsideTheFormAreExact) {
  std::string mot = Dir / "new.mot";
  test::WriteFile(mot, Srec('1', 0x100, Counting(16)));
  test::SetFileTime(mot, 1700000000);
  FatTime read;
  uint32_t error = 0;
  ASSERT_TRUE(GetLastWriteFatTime(mot, read, error)) << error;
  EXPECT_TRUE(read.Exact);
  EXPECT_GE(read.Year, 2023);
}

} // namespace
} // namespace kestrune
