// Every encoding of numbers and list lines against a model of its rule.
#include "serial/FieldEncoding.h"

#include <gtest/gtest.h>

using namespace kestrune::serial;
using Bytes = std::vector<uint8_t>;

namespace {

SerialValue Number(uint64_t n) { return {true, n, std::to_string(n)}; }
SerialValue Line(std::string text) { return {false, 0, text}; }

Bytes Encoded(const SerialValue &value, Encoding encoding, uint32_t length) {
  Bytes bytes;
  std::string error;
  EXPECT_TRUE(EncodeValue(value, encoding, length, bytes, error)) << error;
  EXPECT_EQ(bytes.size(), length);
  return bytes;
}

bool Refused(const SerialValue &value, Encoding encoding, uint32_t length) {
  Bytes bytes;
  std::string error;
  bool ok = EncodeValue(value, encoding, length, bytes, error);
  EXPECT_TRUE(ok || !error.empty());
  return !ok;
}

Bytes Chars(const std::string &text) { return Bytes(text.begin(), text.end()); }

// The models: digits of n in the base, most significant first.
std::string Digits(uint64_t n, unsigned base) {
  std::string text;
  do {
    text.insert(text.begin(), "0123456789ABCDEF"[n % base]);
    n /= base;
  } while (n != 0);
  return text;
}

} // namespace

TEST(SerialEncodings, NumbersAsAsciiHexAndBcd) {
  for (uint64_t n : {0ull, 7ull, 1000ull, 99999ull, 123456789ull}) {
    for (uint32_t length : {5u, 10u}) {
      std::string decimal = Digits(n, 10);
      std::string hex = Digits(n, 16);
      if (decimal.size() <= length)
        EXPECT_EQ(Encoded(Number(n), Encoding::Ascii, length),
                  Chars(std::string(length - decimal.size(), '0') + decimal));
      else
        EXPECT_TRUE(Refused(Number(n), Encoding::Ascii, length));
      if (hex.size() <= length)
        EXPECT_EQ(Encoded(Number(n), Encoding::Hex, length),
                  Chars(std::string(length - hex.size(), '0') + hex));
      else
        EXPECT_TRUE(Refused(Number(n), Encoding::Hex, length));
      // BCD: the decimal digits zero-padded to two a byte.
      if (decimal.size() <= 2 * length) {
        std::string padded = std::string(2 * length - decimal.size(), '0') + decimal;
        Bytes bcd;
        for (uint32_t i = 0; i < length; ++i)
          bcd.push_back(uint8_t((padded[2 * i] - '0') * 16 + (padded[2 * i + 1] - '0')));
        EXPECT_EQ(Encoded(Number(n), Encoding::Bcd, length), bcd);
      } else {
        EXPECT_TRUE(Refused(Number(n), Encoding::Bcd, length));
      }
    }
  }
  EXPECT_EQ(Encoded(Number(0xABC), Encoding::Hex, 4), Chars("0ABC"));
  EXPECT_EQ(Encoded(Number(1234), Encoding::Bcd, 2), (Bytes{0x12, 0x34}));
  EXPECT_TRUE(Refused(Number(12345), Encoding::Bcd, 2));
}

TEST(SerialEncodings, NumbersInBinaryEitherByteOrder) {
  const uint64_t n = 0x0200000000FEull; // a MAC address
  Bytes big = Encoded(Number(n), Encoding::Big, 6);
  Bytes little = Encoded(Number(n), Encoding::Little, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(big[size_t(i)], uint8_t(n >> (8 * (5 - i))));
    EXPECT_EQ(little[size_t(i)], uint8_t(n >> (8 * i)));
  }
  EXPECT_EQ(Encoded(Number(0x1234), Encoding::Big, 4), (Bytes{0, 0, 0x12, 0x34}));
  EXPECT_EQ(Encoded(Number(0x1234), Encoding::Little, 4), (Bytes{0x34, 0x12, 0, 0}));
  EXPECT_EQ(Encoded(Number(255), Encoding::Big, 1), (Bytes{255}));
  EXPECT_TRUE(Refused(Number(256), Encoding::Big, 1));
  EXPECT_TRUE(Refused(Number(n), Encoding::Little, 5));
  // Wider than eight bytes: the number's high bytes are zeros.
  Bytes wide = Encoded(Number(0x0102030405060708ull), Encoding::Big, 10);
  EXPECT_EQ(wide, (Bytes{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SerialEncodings, ListLinesByEncoding) {
  // ascii: digits are a number, other text is padded with zero bytes.
  EXPECT_EQ(Encoded(Line("42"), Encoding::Ascii, 5), Chars("00042"));
  Bytes text = Chars("AB-7");
  text.resize(6, 0);
  EXPECT_EQ(Encoded(Line("AB-7"), Encoding::Ascii, 6), text);
  EXPECT_TRUE(Refused(Line("TOO-LONG"), Encoding::Ascii, 4));
  // hex: digits upper-cased and zero-padded; anything else refused.
  EXPECT_EQ(Encoded(Line("beef"), Encoding::Hex, 6), Chars("00BEEF"));
  EXPECT_TRUE(Refused(Line("xyz"), Encoding::Hex, 6));
  // bcd: decimal digits only.
  EXPECT_EQ(Encoded(Line("123"), Encoding::Bcd, 2), (Bytes{0x01, 0x23}));
  EXPECT_TRUE(Refused(Line("12a"), Encoding::Bcd, 2));
  // le/be: hex bytes as written, separators allowed.
  EXPECT_EQ(Encoded(Line("0a:1b:2c"), Encoding::Big, 4), (Bytes{0, 0x0A, 0x1B, 0x2C}));
  EXPECT_EQ(Encoded(Line("0A1B2C"), Encoding::Little, 4), (Bytes{0x2C, 0x1B, 0x0A, 0}));
  EXPECT_TRUE(Refused(Line("0A1B2C"), Encoding::Big, 2));
  EXPECT_TRUE(Refused(Line("0A1"), Encoding::Big, 4));
  EXPECT_TRUE(Refused(Line("hello"), Encoding::Little, 8));
}

TEST(SerialEncodings, TextShownIsWhatWasWrittenForCharacters) {
  Bytes bytes = Encoded(Number(1000), Encoding::Ascii, 10);
  EXPECT_EQ(FieldText(Number(1000), Encoding::Ascii, bytes), "0000001000");
  SerialValue mac{true, 0x020000000001ull, "02:00:00:00:00:01"};
  bytes = Encoded(mac, Encoding::Big, 6);
  EXPECT_EQ(FieldText(mac, Encoding::Big, bytes), "02:00:00:00:00:01");
  bytes = Encoded(Line("AB"), Encoding::Ascii, 4);
  EXPECT_EQ(FieldText(Line("AB"), Encoding::Ascii, bytes), "AB");
  for (const char *name : {"ascii", "hex", "bcd", "le", "be"})
    EXPECT_STREQ(EncodingName(*ParseEncoding(name)), name);
  EXPECT_FALSE(ParseEncoding("base64"));
  EXPECT_FALSE(ParseEncoding("ASCII"));
}
