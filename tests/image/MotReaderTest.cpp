// The S-record reader: digit rule, record layout, the two passes.
#include "MotTestFiles.h"

#include "image/HexDigits.h"
#include "image/MotReader.h"
#include "image/MotRecord.h"

#include <gtest/gtest.h>

#include <utility>

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;

struct Placed {
  uint32_t Start = 0;
  uint32_t End = 0;
  Bytes Image; // the image file from offset 8 on, filled with 0xFF first
  std::vector<uint64_t> Seeks;
  std::vector<std::string> Warnings;
};

// Both passes over the text, the way the loader runs them.
Placed Place(const std::string &text) {
  MotMemoryInput input(text, 13);
  Placed result;
  MotScan scan = ScanMotRange(input);
  EXPECT_EQ(scan.Error, "");
  result.Start = scan.Start;
  result.End = scan.End;
  result.Warnings = scan.Warnings;
  test::MemoryImageSink sink;
  sink.Image.assign(8 + uint64_t{result.End - result.Start}, 0xFF);
  EXPECT_TRUE(input.Rewind());
  std::string error;
  EXPECT_TRUE(WriteMotImage(input, sink, result.Start, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(sink.Image.size(), 8 + scan.Extent);
  result.Image.assign(sink.Image.begin() + 8, sink.Image.end());
  result.Seeks = sink.Seeks;
  return result;
}

// The one line of text taken apart; the problem for a bad record.
MotLineKind Parse(const std::string &line, MotRecord &record, std::string *problem = nullptr,
                  bool ended = true) {
  std::string text;
  MotLineKind kind = ParseMotLine(line, ended, false, record, text);
  if (problem)
    *problem = text;
  return kind;
}

// A record's line without its line end.
std::string Line(char type, uint32_t address, const Bytes &data) {
  return Srec(type, address, data, "");
}

Bytes Fill(size_t count) { return Bytes(count, 0xFF); }

Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HexDigits, DigitsOfEitherCaseAndNothingElse) {
  const char *upper = "0123456789ABCDEF";
  const char *lower = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(HexDigitValue(upper[i]), i) << upper[i];
    EXPECT_EQ(HexDigitValue(lower[i]), i) << lower[i];
  }
  for (char c : std::string("Gg:/@` \0\r\xFF", 12))
    EXPECT_EQ(HexDigitValue(c), -1) << int(c);
  EXPECT_EQ(HexByteValue("a5"), 0xA5);
  EXPECT_EQ(HexAddress16("12aB"), 0x12ABu);
  EXPECT_EQ(HexAddress24("12aBcD"), 0x12ABCDu);
  EXPECT_EQ(HexAddress32("fEdC1234"), 0xFEDC1234u);
}

TEST(MotRecord, CountLessOverheadIsTheDataLength) {
  MotRecord record;
  const std::string s1 = Line('1', 0x1234, Counting(16));
  ASSERT_EQ(Parse(s1, record), MotLineKind::Data);
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x1234u);
  EXPECT_EQ(std::string(record.Data, 4), "0001");
  ASSERT_EQ(Parse(Line('2', 0x123456, Counting(16)), record), MotLineKind::Data);
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x123456u);
  ASSERT_EQ(Parse(Line('3', 0x12345678, Counting(16)), record), MotLineKind::Data);
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x12345678u);
  EXPECT_EQ(Line('3', 0x12345678, Counting(32)).substr(2, 2), "25");
  ASSERT_EQ(Parse(Line('3', 0x12345678, Counting(32)), record), MotLineKind::Data);
  EXPECT_EQ(record.DataLength, 32u);
  // Zero data bytes is a record.
  ASSERT_EQ(Parse("S1030010EC", record), MotLineKind::Data);
  EXPECT_EQ(record.DataLength, 0u);
}

TEST(MotRecord, RecordsUpToCount255AreTakenWhole) {
  MotRecord record;
  for (auto [type, length] : {std::pair{'1', 252}, {'2', 251}, {'3', 250}}) {
    std::string line = Line(type, 0x100, Counting(static_cast<size_t>(length)));
    ASSERT_EQ(line.size(), 4u + 2 * 255) << type;
    ASSERT_EQ(Parse(line, record), MotLineKind::Data) << type;
    EXPECT_EQ(record.DataLength, static_cast<uint32_t>(length));
  }
}

TEST(MotRecord, OnlyDataAndTerminationRecordsAreChecked) {
  MotRecord record;
  EXPECT_EQ(Parse("S9030000FC", record), MotLineKind::Termination);
  EXPECT_EQ(Parse("S804000000FB", record), MotLineKind::Termination);
  EXPECT_EQ(Parse("S70500000000FA", record), MotLineKind::Termination);
  std::string problem;
  EXPECT_EQ(Parse("S9030000FD", record, &problem), MotLineKind::Bad);
  EXPECT_EQ(problem, "checksum 0xFD is wrong, the record's bytes give 0xFC");
  // Header and count records, lower-case "s" and any other text: not looked at.
  for (const char *other : {"S0 hello", "S5030001FF", "S6xyz", "s1070030AABBCCDDFF", "", "S",
                            " S1030010EC", "hello", "\x1A"})
    EXPECT_EQ(Parse(other, record), MotLineKind::Other) << other;
}

TEST(MotRecord, TrailingBlanksAndLowerCaseDigitsAreAccepted) {
  MotRecord record;
  std::string line = Line('2', 0xABCDEF, {0xAB, 0xCD});
  for (char &c : line)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  line[0] = 'S';
  line += " \t ";
  ASSERT_EQ(Parse(line, record), MotLineKind::Data);
  EXPECT_EQ(record.Address, 0xABCDEFu);
  EXPECT_EQ(HexByteValue(record.Data), 0xAB);
}

TEST(MotRecord, APastTheTopRecordIsWellFormedButRunsPastTheTop) {
  MotRecord record;
  ASSERT_EQ(Parse(Line('3', 0xFFFFFFF8u, Counting(16)), record), MotLineKind::Data);
  EXPECT_TRUE(RunsPastTop(record));
  ASSERT_EQ(Parse(Line('3', 0xFFFFFFF0u, Counting(15)), record), MotLineKind::Data);
  EXPECT_FALSE(RunsPastTop(record));
}

TEST(MotReader, TwoContiguousRecordsFillTheImageWithoutASeek) {
  Placed placed = Place(Srec('1', 0x0000, Counting(16)) + Srec('1', 0x0010, Counting(16, 16)));
  EXPECT_EQ(placed.Start, 0u);
  EXPECT_EQ(placed.End, 0x20u);
  EXPECT_EQ(placed.Image, Counting(32));
  EXPECT_EQ(placed.Seeks, std::vector<uint64_t>{8}); // only the one to the image data
}

TEST(MotReader, EachDataTypeCarriesItsCount) {
  Placed placed = Place(Srec('2', 0x010000, Counting(16)) + Srec('3', 0x010010, Counting(32, 16)) +
                        Srec('1', 0xFFF0, Counting(16, 0xF0)));
  EXPECT_EQ(placed.Start, 0xFFF0u);
  EXPECT_EQ(placed.End, 0x010030u);
  Bytes expected = Concat(Counting(16, 0xF0), Counting(48));
  EXPECT_EQ(placed.Image, expected);
}

TEST(MotReader, LowerCaseDigitsReadLikeUpperCase) {
  std::string upper = Srec('3', 0x00ABCDEF, {0xAB, 0xCD, 0xEF, 0xFA});
  std::string lower = upper;
  for (char &c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  lower[0] = 'S';
  Placed a = Place(upper);
  Placed b = Place(lower);
  EXPECT_EQ(b.Start, 0x00ABCDEFu);
  EXPECT_EQ(a.Start, b.Start);
  EXPECT_EQ(a.End, b.End);
  EXPECT_EQ(a.Image, b.Image);
  EXPECT_EQ(b.Image, (Bytes{0xAB, 0xCD, 0xEF, 0xFA}));
}

TEST(MotReader, LinesEndAtLineFeedCarriageReturnOrBoth) {
  std::string text = Srec('3', 0x1000, Counting(32), "\r\n") + Srec('3', 0x1020, Counting(16, 32), "\r") +
                     "\r" + Srec('3', 0x1030, Counting(16, 48), "\n") + "S9030000FC";
  Placed placed = Place(text);
  EXPECT_EQ(placed.End, 0x1040u);
  EXPECT_EQ(placed.Image, Counting(64));
  EXPECT_TRUE(placed.Warnings.empty());
}

TEST(MotReader, ALongRecordAmongShortOnesIsPlaced) {
  std::string text = Srec('1', 0x0000, Counting(16)) + Srec('1', 0x0010, Counting(48, 16)) +
                     Srec('1', 0x0040, Counting(16, 64)) + "S9030000FC\n";
  Placed placed = Place(text);
  EXPECT_EQ(placed.End, 0x50u);
  EXPECT_EQ(placed.Image, Counting(80));
  // Records of 250 bytes only.
  text.clear();
  for (uint32_t at = 0; at < 1000; at += 250)
    text += Srec('3', 0x8000 + at, Counting(250, static_cast<uint8_t>(at)));
  placed = Place(text + "S70500000000FA\n");
  EXPECT_EQ(placed.Start, 0x8000u);
  EXPECT_EQ(placed.End, 0x8000u + 1000);
  EXPECT_EQ(placed.Image, Counting(1000));
}

TEST(MotReader, OtherRecordsChangeNothingAndDataAfterTheEndRecordCounts) {
  std::string text = "S00600004844521B\n" + Srec('1', 0x10, Counting(4)) + "S5030001FB\n" +
                     "S9030000FC\n" + Srec('2', 0x20, Counting(4, 4)) + "S804000000FB\n" +
                     "S70500000000FA\n" + "s1070030AABBCCDDFF\n";
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0x10u);
  EXPECT_EQ(placed.End, 0x24u);
  EXPECT_EQ(placed.Image, Concat(Concat(Counting(4), Fill(12)), Counting(4, 4)));
}

TEST(MotReader, ARecordAtZeroAloneGivesItsLengthAsTheEnd) {
  Placed placed = Place(Srec('1', 0, Counting(7)));
  EXPECT_EQ(placed.Start, 0u);
  EXPECT_EQ(placed.End, 7u);
}

TEST(MotReader, TheEndComesFromTheRecordWithTheHighestAddress) {
  // The lower record reaches further, but the highest one decides; of two
  // at the highest address, the first one's count counts.
  std::string text = Srec('1', 0x0000, Counting(32)) + Srec('1', 0x0010, Counting(2, 0xA0)) +
                     Srec('1', 0x0010, Counting(8, 0xB0));
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0u);
  EXPECT_EQ(placed.End, 0x12u);
  // Every record is placed in full, past the end of the fill; the later
  // record wins where they overlap.
  Bytes expected = Concat(Counting(16), Counting(8, 0xB0));
  expected = Concat(expected, Counting(8, 0x18));
  EXPECT_EQ(placed.Image, expected);
}

TEST(MotReader, OutOfOrderRecordsLandAtTheirAddressAndLaterOnesWin) {
  std::string text = Srec('2', 0x2010, Counting(8, 0x80)) + Srec('2', 0x2000, Counting(8)) +
                     Srec('2', 0x2004, Counting(8, 0x40)) + Srec('2', 0x2008, {0xEE});
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0x2000u);
  EXPECT_EQ(placed.End, 0x2018u);
  Bytes expected = Concat(Counting(4), Counting(8, 0x40));
  expected[8] = 0xEE;
  expected = Concat(Concat(expected, Fill(4)), Counting(8, 0x80));
  EXPECT_EQ(placed.Image, expected);
  // Three records do not continue where the previous one ended.
  EXPECT_EQ(placed.Seeks.size(), 5u);
}

TEST(MotReader, RecordsPastTheTopAreSkippedWithAWarning) {
  std::string text = Srec('1', 0x0100, Counting(4)) +
                     Srec('3', 0xFFFFFFFCu, Counting(8)) + // wraps the address space
                     Srec('1', 0x0104, Counting(4, 4)) + Srec('3', 0xFFFFFFF0u, Counting(17)) +
                     "S9030000FC\n";
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0x100u);
  EXPECT_EQ(placed.End, 0x108u);
  EXPECT_EQ(placed.Image, Counting(8));
  EXPECT_EQ(placed.Warnings, std::vector<std::string>{
                                 "WARNING: MOT file line 2: the record at 0xFFFFFFFC runs past "
                                 "address 0xFFFFFFFF and is skipped (2 such records in all)"});
}

TEST(MotReader, OverlapsAndAMissingTerminationAreWarnedAbout) {
  // Overlaps by one byte (line 3) and a whole record again (line 4); a
  // record that only touches the one before it does not overlap.
  std::string text = Srec('1', 0x10, Counting(8)) + Srec('1', 0x18, Counting(8, 8)) +
                     Srec('1', 0x1F, {0xAA}) + Srec('1', 0x10, Counting(8, 0x50));
  Placed placed = Place(text);
  EXPECT_EQ(placed.Warnings,
            (std::vector<std::string>{
                "WARNING: MOT file has no termination record (S7, S8 or S9)",
                "WARNING: MOT file line 3: the record at 0x00001F overlaps data of an earlier "
                "record; the later bytes are kept (2 such records in all)"}));
  Bytes expected = Concat(Counting(8, 0x50), Counting(7, 8));
  expected.push_back(0xAA);
  EXPECT_EQ(placed.Image, expected);
  // Records out of order that do not overlap give no warning.
  placed = Place(Srec('1', 0x20, Counting(8)) + Srec('1', 0x00, Counting(8)) +
                 Srec('1', 0x08, Counting(24, 8)) + "S9030000FC\n");
  EXPECT_TRUE(placed.Warnings.empty()) << placed.Warnings.front();
}

TEST(MotReader, TheFirstBadRecordStopsTheScanWithItsLineNumber) {
  std::string text = "S00600004844521B\n\n" + Srec('1', 0, Counting(4)) + "S1070004AABBCCDD00\n" +
                     "S1 garbage\n";
  MotMemoryInput input(text);
  MotScan scan = ScanMotRange(input);
  EXPECT_EQ(scan.Error,
            "ERROR: MOT file line 4: checksum 0x00 is wrong, the record's bytes give 0xE6");
}

TEST(MotReader, AFileWithoutDataRecordsHasNoRange) {
  MotMemoryInput input("S00600004844521B\nS9030000FC\nhello\n");
  MotScan scan = ScanMotRange(input);
  EXPECT_EQ(scan.Error, "");
  EXPECT_GT(scan.Start, scan.End);
}

} // namespace
} // namespace kestrune
