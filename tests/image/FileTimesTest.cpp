// Last-write times in the FAT form: local time in two-second slots.
#include "MotTestFiles.h"

#include "platform/FileTimes.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>

namespace kestrune {
namespace {

TEST(FileTimes, ASetTimeReadsBackFieldByField) {
  test::ScratchDir dir;
  std::string path = dir / "file";
  test::WriteFile(path, "x");
  uint32_t error = 0;
  for (FatTime time : {FatTime{2021, 6, 15, 13, 45, 17}, FatTime{1999, 12, 31, 23, 59, 29},
                       FatTime{2024, 2, 29, 0, 0, 0}}) {
    ASSERT_TRUE(SetLastWriteFatTime(path, time, error)) << error;
    FatTime back;
    ASSERT_TRUE(GetLastWriteFatTime(path, back, error)) << error;
    EXPECT_EQ(back, time);
  }
}

TEST(FileTimes, SecondsAreTakenInTwoSecondSlotsOfLocalTime) {
  test::ScratchDir dir;
  std::string path = dir / "file";
  test::WriteFile(path, "x");
  const time_t seconds = 1700000123;
  std::tm local{};
  ASSERT_TRUE(test::LocalCalendarTime(seconds, local));
  test::SetFileTime(path, seconds, 999999999);
  FatTime time;
  uint32_t error = 0;
  ASSERT_TRUE(GetLastWriteFatTime(path, time, error));
  EXPECT_EQ(time, (FatTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec / 2}));
  // Setting it back lands on the start of the slot.
  ASSERT_TRUE(SetLastWriteFatTime(path, time, error));
  EXPECT_EQ(test::FileTimeSeconds(path), seconds - seconds % 2);
}

TEST(FileTimes, AMissingFileGivesThePlatformsErrorCode) {
  test::ScratchDir dir;
  FatTime time;
  uint32_t error = 0;
  EXPECT_FALSE(GetLastWriteFatTime(dir / "missing", time, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
  error = 0;
  EXPECT_FALSE(SetLastWriteFatTime(dir / "missing", FatTime{2020, 1, 1, 0, 0, 0}, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
}

} // namespace
} // namespace kestrune
