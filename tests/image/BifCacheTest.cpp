// The loader's choice of file, its .bif cache and its reports.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"

#include <filesystem>
#include <utility>

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;

class BifCache : public test::LoaderTest {
protected:
  // An S-record file with a gap: 16 bytes at 0x100, 16 at 0x120.
  std::string WriteMot(const std::string &name) {
    std::string path = Dir / name;
    test::WriteFile(path, "S00600004844521B\n" + Srec('1', 0x100, Counting(16)) +
                              Srec('1', 0x120, Counting(16, 0x20)) + "S9030000FC\n");
    test::SetFileTime(path, 1700000000); // an even second: a slot starts here
    return path;
  }
};

TEST_F(BifCache, FirstLoadConvertsAndGivesTheBifTheSRecordFilesTime) {
  std::string mot = WriteMot("firmware.mot");
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x000130");
  std::string bif = Dir / "firmware.bif";
  EXPECT_EQ(SentPath(), bif);
  EXPECT_EQ(SentRaw(), 0);
  Bytes contents = test::ReadFile(bif);
  ASSERT_EQ(contents.size(), 8u + 0x30);
  EXPECT_EQ(HeaderWord(contents, 0), 0x100u);
  EXPECT_EQ(HeaderWord(contents, 4), 0x130u);
  Bytes expected = Counting(16);
  expected.resize(32, 0xFF); // the gap reads as 0xFF
  Bytes second = Counting(16, 0x20);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(ImagePart(contents), expected);
  EXPECT_EQ(FatTimeOf(bif), FatTimeOf(mot));
  // Nothing else is left beside it.
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"firmware.bif", "firmware.mot"}));
}

TEST_F(BifCache, SecondLoadReusesTheBifAndReportsItsHeader) {
  std::string mot = WriteMot("firmware.mot");
  ASSERT_EQ(LoadImageFile(mot), 0);
  // Move the header's range but keep its length and the time: a reuse
  // reports the header, a conversion would restore it.
  std::string bif = Dir / "firmware.bif";
  Bytes contents = test::ReadFile(bif);
  contents[1] = 0x02; // start 0x000200
  contents[5] = 0x02; // end 0x000230
  int64_t written = test::FileTimeSeconds(bif);
  test::WriteFile(bif, std::string(contents.begin(), contents.end()));
  test::SetFileTime(bif, written);

  LoadStatusText.Set("");
  LoadedImageReady.Set(nullptr);
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "BIF 파일 , 시작 0x000200, 종료 0x000230");
  EXPECT_EQ(SentPath(), bif);
  EXPECT_EQ(test::ReadFile(bif), contents);
}

TEST_F(BifCache, ATouchedSRecordFileIsConvertedAgain) {
  std::string mot = WriteMot("firmware.mot");
  ASSERT_EQ(LoadImageFile(mot), 0);
  std::string bif = Dir / "firmware.bif";
  test::WriteFile(mot, Srec('1', 0x200, Counting(4)));
  test::SetFileTime(mot, 1700000100);
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000200, End 0x000204");
  EXPECT_EQ(test::FileTimeSeconds(bif), 1700000100);
  EXPECT_EQ(test::ReadFile(bif).size(), 12u);
}

TEST_F(BifCache, TheSameTwoSecondSlotCountsAsCurrent) {
  std::string mot = WriteMot("firmware.mot");
  ASSERT_EQ(LoadImageFile(mot), 0);
  std::string bif = Dir / "firmware.bif";

  test::SetFileTime(bif, 1700000001, 900000000); // same slot as the input
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "BIF 파일 , 시작 0x000100, 종료 0x000130");

  test::SetFileTime(bif, 1700000002); // the next slot
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x000130");
  EXPECT_EQ(test::FileTimeSeconds(bif), 1700000000);
}

TEST_F(BifCache, ABifChosenDirectlyIsReportedFromItsHeader) {
  std::string bif = Dir / "direct.BIF";
  test::WriteFile(bif, std::string("\x00\x00\x1F\x00\x00\x00\x20\x00", 8) + "abc");
  ASSERT_EQ(LoadImageFile(bif), 0);
  EXPECT_EQ(LoadStatusText.Get(), "BIF 파일 , 시작 0x1F0000, 종료 0x200000");
  EXPECT_EQ(SentPath(), bif);
  EXPECT_EQ(SentRaw(), 0);
}

TEST_F(BifCache, UpperCaseBinIsARawImageOfItsLength) {
  std::string bin = Dir / "raw.BIN";
  test::WriteFile(bin, std::string(0x1234, '\x5A'));
  ASSERT_EQ(LoadImageFile(bin), 0);
  EXPECT_EQ(LoadStatusText.Get(), "BIN 파일 , 시작 0x000000, 종료 0x001234");
  EXPECT_EQ(SentRaw(), 1);
  EXPECT_EQ(SentPath(), bin);
  EXPECT_EQ(Dir.Names(), std::vector<std::string>{"raw.BIN"});

  // The next load starts from text again.
  ASSERT_EQ(LoadImageFile(WriteMot("next.mot")), 0);
  EXPECT_EQ(SentRaw(), 0);
}

TEST_F(BifCache, AnyOtherExtensionOrNoneIsSRecordText) {
  std::filesystem::create_directory(Dir.path() / "v1.2");
  const std::pair<const char *, const char *> cases[] = {
      {"a.s19", "a.bif"},           {"b.srec.txt", "b.srec.bif"}, {"v1.2/c", "v1.2/c.bif"},
      {"d.bi", "d.bif"},            {"e.binx", "e.bif"},          {"f.MOT", "f.bif"},
  };
  for (auto [name, bifName] : cases) {
    ASSERT_EQ(LoadImageFile(WriteMot(name)), 0) << name;
    EXPECT_EQ(SentPath(), Dir / bifName) << name;
    EXPECT_TRUE(std::filesystem::exists(Dir / bifName)) << name;
    EXPECT_EQ(SentRaw(), 0) << name;
  }
}

TEST_F(BifCache, AnEndAboveSixDigitsShowsAllOfThem) {
  std::string mot = Dir / "top.mot";
  test::WriteFile(mot, Srec('3', 0x00FFFFF0, Counting(16)));
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0xFFFFF0, End 0x1000000");
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "BIF 파일 , 시작 0xFFFFF0, 종료 0x1000000");
}

TEST_F(BifCache, AFileThatCannotBeOpenedLeavesNoImageReady) {
  ASSERT_EQ(LoadImageFile(WriteMot("previous.mot")), 0);
  ASSERT_NE(SentPath(), "");
  EXPECT_EQ(LoadImageFile(Dir / "missing.mot"), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: Cannot open MOT file for reading");
  EXPECT_EQ(SentPath(), "");
  EXPECT_EQ(SentRaw(), 0);
}

TEST_F(BifCache, TextWithoutDataRecordsFailsAndWritesNothing) {
  std::string mot = Dir / "empty.mot";
  test::WriteFile(mot, "S00600004844521B\nS9030000FC\n");
  EXPECT_EQ(LoadImageFile(mot), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: No S1/S2/S3 data record in MOT file");
  EXPECT_EQ(Dir.Names(), std::vector<std::string>{"empty.mot"});
}

TEST_F(BifCache, AnExistingImageThatCannotBeReadFailsTheLoad) {
  // A directory in place of the .bif: current by its time, it cannot be
  // read; out of date, it cannot be replaced.
  std::string mot = WriteMot("locked.mot");
  std::filesystem::create_directory(Dir.path() / "locked.bif");
  test::SetFileTime(Dir / "locked.bif", 1700000000);
  EXPECT_EQ(LoadImageFile(mot), 1);
  EXPECT_EQ(LoadStatusText.Get().rfind("ERROR: Cannot read BIF file (", 0), 0u)
      << LoadStatusText.Get();
  test::SetFileTime(Dir / "locked.bif", 1600000000);
  EXPECT_EQ(LoadImageFile(mot), 1);
  EXPECT_EQ(LoadStatusText.Get().rfind("ERROR: Cannot replace BIF file (", 0), 0u)
      << LoadStatusText.Get();
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "locked.bif"));

  std::filesystem::create_directory(Dir.path() / "dir.bin");
  EXPECT_EQ(LoadImageFile(Dir / "dir.bin"), 1);
  EXPECT_EQ(LoadStatusText.Get().rfind("ERROR: Cannot read BIN file (", 0), 0u)
      << LoadStatusText.Get();

  // A .bif too short for its header: chosen directly it fails; beside its
  // S-record file with the right time it is no conversion's work and is
  // converted again.
  std::string shortMot = WriteMot("short.mot");
  std::string shortBif = Dir / "short.bif";
  test::WriteFile(shortBif, "abc");
  test::SetFileTime(shortBif, 1700000000);
  EXPECT_EQ(LoadImageFile(shortBif), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: BIF file is too short for its header");
  EXPECT_EQ(LoadImageFile(shortMot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x000130");
}

} // namespace
} // namespace kestrune
