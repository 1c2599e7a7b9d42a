// The S-record reader: digit rule, record layout, the two passes.
#include "MotTestFiles.h"

#include "image/HexDigits.h"
#include "image/MotReader.h"
#include "image/MotRecord.h"

#include <gtest/gtest.h>

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
};

// Both passes over the text, the way the loader runs them.
Placed Place(const std::string &text) {
  MotMemoryInput input(text, 13);
  Placed result;
  result.End = ScanMotRange(input, result.Start);
  test::MemoryImageSink sink;
  sink.Image.assign(8 + uint64_t{result.End - result.Start}, 0xFF);
  EXPECT_TRUE(input.Rewind());
  EXPECT_TRUE(WriteMotImage(input, sink, result.Start));
  result.Image.assign(sink.Image.begin() + 8, sink.Image.end());
  result.Seeks = sink.Seeks;
  return result;
}

Bytes Fill(size_t count) { return Bytes(count, 0xFF); }

Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HexDigits, EveryCharacterGivesTheLowBitsOfItsShiftedValue) {
  const char *upper = "0123456789ABCDEF";
  const char *lower = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(HexDigitValue(upper[i]), i) << upper[i];
    EXPECT_EQ(HexDigitValue(lower[i]), i) << lower[i];
  }
  EXPECT_EQ(HexDigitValue('G'), 0);
  EXPECT_EQ(HexDigitValue('g'), 0);
  EXPECT_EQ(HexDigitValue(':'), 3);
  EXPECT_EQ(HexDigitValue(' '), 0);
  EXPECT_EQ(HexDigitValue('\xFF'), 0x8); // (0xFF - 0x37) & 0x0F
  EXPECT_EQ(HexByteValue("a5"), 0xA5);
  EXPECT_EQ(HexByteValue("G:"), 0x03);
  EXPECT_EQ(HexAddress16("12aB"), 0x12ABu);
  EXPECT_EQ(HexAddress24("12aBcD"), 0x12ABCDu);
  EXPECT_EQ(HexAddress32("fEdC1234"), 0xFEDC1234u);
}

TEST(MotRecord, CountLessOverheadIsTheDataLength) {
  MotRecord record;
  const std::string s1 = Srec('1', 0x1234, Counting(16));
  ASSERT_TRUE(ParseMotRecord(s1, record));
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x1234u);
  EXPECT_EQ(std::string(record.Data, 4), "0001");
  ASSERT_TRUE(ParseMotRecord("S214123456" + std::string(34, '0') + "\n", record));
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x123456u);
  ASSERT_TRUE(ParseMotRecord("S31512345678" + std::string(34, '0') + "\n", record));
  EXPECT_EQ(record.DataLength, 16u);
  EXPECT_EQ(record.Address, 0x12345678u);
  ASSERT_TRUE(ParseMotRecord("S32512345678" + std::string(66, '0') + "\n", record));
  EXPECT_EQ(record.DataLength, 32u);
}

TEST(MotRecord, RecordsThatDoNotFitTheirLineAreSkipped) {
  MotRecord record;
  // Count below the overhead (would mean 255 bytes).
  EXPECT_FALSE(ParseMotRecord("S1020000FD\n", record));
  EXPECT_FALSE(ParseMotRecord("S30400000000FB\n", record));
  // Count asks for 16 bytes, the line holds 8.
  EXPECT_FALSE(ParseMotRecord("S1130000" + std::string(16, '0') + "FF\n", record));
  // Address cut short.
  EXPECT_FALSE(ParseMotRecord("S31500\n", record));
  // The line feed and carriage return are no data characters.
  EXPECT_FALSE(ParseMotRecord("S1050000AB\r\n", record));
  EXPECT_FALSE(ParseMotRecord("S1050000AB\n\n", record));
  // Data that fills the line to its end fits; the checksum may be missing.
  ASSERT_TRUE(ParseMotRecord("S1050000ABCD\r\n", record));
  EXPECT_EQ(record.DataLength, 2u);
  // Data past the top of the address space would wrap the end address.
  EXPECT_FALSE(ParseMotRecord(Srec('3', 0xFFFFFFF8u, Counting(16)), record));
  EXPECT_TRUE(ParseMotRecord(Srec('3', 0xFFFFFFF0u, Counting(15)), record));
  // Zero data bytes is a record.
  ASSERT_TRUE(ParseMotRecord("S1030010EC\n", record));
  EXPECT_EQ(record.DataLength, 0u);
}

TEST(MotRecord, TheLongestRecordsThatFitAReadOf79Characters) {
  MotRecord record;
  // 35 bytes of S1, 34 of S2 and 33 of S3 end at character 78; with the
  // checksum the line is longer than one read and only the first read is
  // taken, which still holds all the data.
  EXPECT_TRUE(ParseMotRecord(Srec('1', 0, Counting(35)).substr(0, 79), record));
  EXPECT_EQ(record.DataLength, 35u);
  EXPECT_TRUE(ParseMotRecord(Srec('2', 0, Counting(34)).substr(0, 79), record));
  EXPECT_EQ(record.DataLength, 34u);
  EXPECT_TRUE(ParseMotRecord(Srec('3', 0, Counting(33)).substr(0, 79), record));
  EXPECT_EQ(record.DataLength, 33u);
  EXPECT_FALSE(ParseMotRecord(Srec('1', 0, Counting(36)).substr(0, 79), record));
  EXPECT_FALSE(ParseMotRecord(Srec('3', 0, Counting(34)).substr(0, 79), record));
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

TEST(MotReader, An80CharacterS3LineWithCrLfIsReadWhole) {
  std::string line = Srec('3', 0x1000, Counting(32), "\r\n");
  ASSERT_EQ(line.size(), 80u);
  MotMemoryInput input(line + line);
  std::string_view read;
  ASSERT_TRUE(input.NextLine(read));
  EXPECT_EQ(read, line.substr(0, 79)); // ends with the carriage return
  ASSERT_TRUE(input.NextLine(read));
  EXPECT_EQ(read, "\n");
  Placed placed = Place(line);
  EXPECT_EQ(placed.End, 0x1020u);
  EXPECT_EQ(placed.Image, Counting(32));
}

TEST(MotReader, LaterPiecesOfALongLineAreSkippedUnlessTheyLookLikeARecord) {
  // A too long S1 line: its first read cannot hold the count's data; its
  // second piece begins like an S1 record and is taken as one.
  std::string tail = Srec('1', 0x0040, {0x11, 0x22});
  std::string longLine = "S1" + std::string(77, 'F') + tail;
  std::string text = longLine + Srec('1', 0x0000, Counting(4)) + std::string(200, '0') + "\n";
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0u);
  EXPECT_EQ(placed.End, 0x42u);
  Bytes expected = Concat(Counting(4), Fill(0x3C));
  expected.push_back(0x11);
  expected.push_back(0x22);
  EXPECT_EQ(placed.Image, expected);
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

TEST(MotReader, MalformedRecordsAreSkippedInBothPasses) {
  std::string text = Srec('1', 0x0100, Counting(4)) +
                     "S1130000" + std::string(16, '0') + "\n" + // too short for its count
                     "S1020000FD\n" +                            // count below overhead
                     Srec('3', 0xFFFFFFFCu, Counting(8)) +      // wraps the address space
                     Srec('1', 0x0104, Counting(4, 4));
  Placed placed = Place(text);
  EXPECT_EQ(placed.Start, 0x100u);
  EXPECT_EQ(placed.End, 0x108u);
  EXPECT_EQ(placed.Image, Counting(8));
}

TEST(MotReader, AFileWithoutDataRecordsHasNoRange) {
  MotMemoryInput input("S00600004844521B\nS9030000FC\nhello\n");
  uint32_t start = 0;
  uint32_t end = ScanMotRange(input, start);
  EXPECT_GT(start, end);
}

} // namespace
} // namespace kestrune
