// S-record files with a bad record fail the load with the line and the
// fault, and write nothing; files that only lack a termination record, or
// whose records overlap or run past the top, load with warnings.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;

// 16 bytes 00..0F at 0x0000, count 0x13, checksum 0x74.
const std::string Good = "S1130000000102030405060708090A0B0C0D0E0F74";
const std::string Header = "S00600004844521B\n";

struct BadCase {
  const char *Name;
  std::string Text;
  const char *Error;
};

class BadMot : public test::LoaderTest {};

TEST_F(BadMot, EachBadRecordFailsTheLoadWithItsLineAndFault) {
  const BadCase cases[] = {
      {"flipped data digit", Header + "S1130000000102030405060708090A0B0C0D0E1F74\nS9030000FC\n",
       "line 2: checksum 0x74 is wrong, the record's bytes give 0x64"},
      {"wrong checksum", Header + Good.substr(0, 40) + "75\nS9030000FC\n",
       "line 2: checksum 0x75 is wrong, the record's bytes give 0x74"},
      {"letter G", Header + "S1130000G00102030405060708090A0B0C0D0E0F74\n",
       "line 2: 'G' in column 9 is not a hexadecimal digit"},
      {"NUL", Header + std::string("S113000000\0" "102030405060708090A0B0C0D0E0F74\n", 43),
       "line 2: character 0x00 in column 11 is not a hexadecimal digit"},
      {"count larger than the record", Header + "S1130000000102030405060708090A0B0C0D74\n",
       "line 2: count 0x13 needs 38 digits after it, the record has 34"},
      {"count smaller than the record", Header + Good + "0\n",
       "line 2: count 0x13 needs 38 digits after it, the record has 39"},
      {"count below the address and checksum", Header + "S10200FD\n",
       "line 2: count 0x02 is too small for an S1 record"},
      {"no count", Header + "S3\r\n", "line 2: the record has no count"},
      {"line too long", Header + "S1" + std::string(1100, '0') + "\n",
       "line 2: the line is longer than 1024 characters"},
      {"last record cut short", Header + Good + "\nS1130010000102",
       "line 3: the record is cut short by the end of the file (count 0x13 needs 38 digits after "
       "it, the record has 10)"},
      {"last record cut after its type", Header + Good + "\nS2", 
       "line 3: the record is cut short by the end of the file"},
      {"termination record cut short", Header + Good + "\nS9030000F",
       "line 3: the record is cut short by the end of the file (count 0x03 needs 6 digits after "
       "it, the record has 5)"},
      {"bad termination record", Header + Good + "\nS9030000FD\n",
       "line 3: checksum 0xFD is wrong, the record's bytes give 0xFC"},
      {"bad record after CR-only lines", Header + Good + "\r" + Good + "\rS1130000\r",
       "line 4: count 0x13 needs 38 digits after it, the record has 4"},
  };
  for (const BadCase &bad : cases) {
    std::string mot = Dir / "bad.mot";
    test::WriteFile(mot, bad.Text);
    LoadWarnings.Set({"left over"});
    EXPECT_EQ(LoadImageFile(mot), 1) << bad.Name;
    EXPECT_EQ(LoadStatusText.Get(), std::string("ERROR: MOT file ") + bad.Error) << bad.Name;
    EXPECT_EQ(Dir.Names(), std::vector<std::string>{"bad.mot"}) << bad.Name;
    EXPECT_TRUE(LoadWarnings.Get().empty()) << bad.Name;
  }
}

TEST_F(BadMot, ABadRecordKeepsAnOldBifOutOfDateAndUntouched) {
  std::string mot = Dir / "app.mot";
  test::WriteFile(mot, Header + Good + "\nS9030000FC\n");
  test::SetFileTime(mot, 1700000000);
  ASSERT_EQ(LoadImageFile(mot), 0);
  const Bytes old = test::ReadFile(Dir / "app.bif");
  test::WriteFile(mot, Header + Good.substr(0, 40) + "00\nS9030000FC\n");
  test::SetFileTime(mot, 1700000100);
  EXPECT_EQ(LoadImageFile(mot), 1);
  EXPECT_EQ(test::ReadFile(Dir / "app.bif"), old);
  EXPECT_NE(FatTimeOf(Dir / "app.bif"), FatTimeOf(mot));
}

TEST_F(BadMot, CrOnlyLinesAndLongRecordsConvertWhole) {
  // The whole image: 16, 48, 250 and 16 bytes, contiguous from 0x100.
  std::string text = Srec('1', 0x100, Counting(16), "\r") + Srec('2', 0x110, Counting(48, 16), "\r") +
                     Srec('3', 0x140, Counting(250, 64), "\r\n") +
                     Srec('1', 0x23A, Counting(16, 58), "\r") + "S9030000FC\r";
  std::string mot = Dir / "cr.mot";
  test::WriteFile(mot, text);
  ASSERT_EQ(LoadImageFile(mot), 0) << LoadStatusText.Get();
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000100, End 0x00024A");
  EXPECT_EQ(ImagePart(test::ReadFile(Dir / "cr.bif")), Counting(0x14A));
  EXPECT_TRUE(LoadWarnings.Get().empty());
}

TEST_F(BadMot, FilesThatStillLoadCarryWarnings) {
  std::string mot = Dir / "warn.mot";
  test::WriteFile(mot, Srec('1', 0x10, Counting(16)) + Srec('1', 0x18, Counting(4, 0xA0)) +
                           Srec('3', 0xFFFFFFF0u, Counting(32)));
  ASSERT_EQ(LoadImageFile(mot), 0) << LoadStatusText.Get();
  // The later record has the highest address: it gives the end, and the
  // first one's bytes reach past it.
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000010, End 0x00001C");
  EXPECT_EQ(LoadWarnings.Get(),
            (std::vector<std::string>{
                "WARNING: MOT file has no termination record (S7, S8 or S9)",
                "WARNING: MOT file line 2: the record at 0x000018 overlaps data of an earlier "
                "record; the later bytes are kept",
                "WARNING: MOT file line 3: the record at 0xFFFFFFF0 runs past address 0xFFFFFFFF "
                "and is skipped"}));
  Bytes expected = Counting(16);
  for (int i = 0; i < 4; ++i)
    expected[8 + i] = static_cast<uint8_t>(0xA0 + i);
  EXPECT_EQ(ImagePart(test::ReadFile(Dir / "warn.bif")), expected);
  // The next load starts without them.
  test::WriteFile(mot, Srec('1', 0x10, Counting(16)) + "S9030000FC\n");
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_TRUE(LoadWarnings.Get().empty());
}

} // namespace
} // namespace kestrune
