// Each source's values against the rules written out here: counters step
// from their start, IMEIs carry their Luhn digit, MAC addresses count up.
#include "serial/ValueSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrune::serial;

namespace {

// The Luhn rule as published: double every second digit from the right of
// the full number (check digit included), sum the digits, a multiple of 10.
bool LuhnValid(const std::string &number) {
  int sum = 0;
  for (size_t i = 0; i < number.size(); ++i) {
    int d = number[number.size() - 1 - i] - '0';
    if (i % 2 == 1) {
      d *= 2;
      d = d / 10 + d % 10;
    }
    sum += d;
  }
  return sum % 10 == 0;
}

} // namespace

TEST(SerialSources, CounterStepsFromStartToLast) {
  auto counter = CounterSource(1000, 7, 1100);
  ASSERT_EQ(counter->Capacity(), (1100u - 1000u) / 7 + 1);
  for (uint64_t i = 0; i < counter->Capacity(); ++i) {
    SerialValue v = counter->At(i);
    EXPECT_TRUE(v.IsNumber);
    EXPECT_EQ(v.Number, 1000 + 7 * i);
    EXPECT_EQ(v.Text, std::to_string(1000 + 7 * i));
    EXPECT_LE(v.Number, 1100u);
  }
  EXPECT_EQ(CounterSource(5, 1, 5)->Capacity(), 1u);
  // Its pool's name depends on where it starts, never on where it ends.
  EXPECT_EQ(CounterSource(1, 1, 10)->Origin(), CounterSource(1, 1, 99)->Origin());
  EXPECT_NE(CounterSource(1, 1, 10)->Origin(), CounterSource(2, 1, 10)->Origin());
  EXPECT_NE(CounterSource(1, 1, 10)->Origin(), CounterSource(1, 2, 10)->Origin());
}

TEST(SerialSources, ImeiCarriesTheLuhnDigitOfPublishedExamples) {
  // Published IMEIs with their check digits.
  for (std::string imei : {"490154203237518", "356938035643809", "352099001761481"}) {
    EXPECT_EQ(LuhnDigit(imei.substr(0, 14)), imei[14] - '0') << imei;
    auto source = ImeiSource(imei.substr(0, 8), std::stoull(imei.substr(8, 6)));
    EXPECT_EQ(source->At(0).Text, imei);
    EXPECT_EQ(source->At(0).Number, std::stoull(imei));
  }
  auto source = ImeiSource("35209900", 999990);
  EXPECT_EQ(source->Capacity(), 10u);
  for (uint64_t i = 0; i < source->Capacity(); ++i) {
    std::string text = source->At(i).Text;
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text.substr(0, 8), "35209900");
    EXPECT_EQ(std::stoull(text.substr(8, 6)), 999990 + i);
    EXPECT_TRUE(LuhnValid(text)) << text;
  }
  // Leading zeros of the serial stay.
  EXPECT_EQ(ImeiSource("35209900", 42)->At(0).Text.substr(8, 6), "000042");
  EXPECT_EQ(ImeiSource("35209900", 0)->Capacity(), 1000000u);
}

TEST(SerialSources, MacCountsUpAcrossByteBoundaries) {
  uint64_t first = 0, last = 0;
  ASSERT_TRUE(ParseMac("02:00:00:00:00:fe", first));
  ASSERT_TRUE(ParseMac("02-00-00-00-01-02", last));
  EXPECT_EQ(first, 0x0200000000FEull);
  auto mac = MacSource(first, last);
  ASSERT_EQ(mac->Capacity(), 5u);
  EXPECT_EQ(mac->At(0).Text, "02:00:00:00:00:fe");
  EXPECT_EQ(mac->At(2).Text, "02:00:00:00:01:00");
  EXPECT_EQ(mac->At(4).Number, 0x020000000102ull);
  uint64_t ignored = 0;
  for (std::string bad : {"02:00:00:00:00", "02:00:00:00:00:0g", "02:00-00:00:00:01",
                          "0200:00:00:00:01", "02.00.00.00.00.01"})
    EXPECT_FALSE(ParseMac(bad, ignored)) << bad;
}

TEST(SerialSources, ListSkipsBlankAndCommentLines) {
  auto path = std::filesystem::temp_directory_path() /
              ("kestrune-list-" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(path);
    out << "# values for the first batch\nA1\n\n  B2  \r\n#C3\nD4";
  }
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(ReadListFile(path, lines, error)) << error;
  EXPECT_EQ(lines, (std::vector<std::string>{"A1", "B2", "D4"}));
  auto list = ListSource("values.txt", lines);
  EXPECT_EQ(list->Capacity(), 3u);
  EXPECT_FALSE(list->At(1).IsNumber);
  EXPECT_EQ(list->At(1).Text, "B2");
  std::filesystem::remove(path);
  EXPECT_FALSE(ReadListFile(path, lines, error));
  EXPECT_NE(error.find(path.string()), std::string::npos);
}
