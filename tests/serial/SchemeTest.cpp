// Schemes read from their JSON, and every way a scheme is refused before a
// port opens, with the text the operator sees.
#include "serial/SerialScheme.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrune::serial;
namespace fs = std::filesystem;

namespace {

struct SchemeDir {
  fs::path Dir = fs::temp_directory_path() / ("kestrune-scheme-" + std::to_string(::getpid()));
  SchemeDir() { fs::create_directories(Dir); }
  ~SchemeDir() { fs::remove_all(Dir); }
  void Write(const std::string &name, const std::string &text) {
    std::ofstream(Dir / name, std::ios::binary) << text;
  }
};

std::string Field(const std::string &rest) {
  return R"({"fields":[{"name":"sn","address":"0x1000","length":10,"encoding":"ascii",)" + rest +
         "}]}";
}

// The refusal's text, or "" when the scheme was taken.
std::string Refusal(const std::string &json, const std::string &dir = ".") {
  SerialScheme scheme;
  std::string error;
  return ParseScheme(json, dir, scheme, error) ? std::string() : error;
}

} // namespace

TEST(SerialScheme, ReadsEverySourceAndWhereItGoes) {
  SchemeDir dir;
  dir.Write("values.txt", "# batch 7\nSN-A\nSN-B\n");
  dir.Write("scheme.json", R"({"fields":[
    {"name":"sn","address":"0x1000","length":10,"encoding":"ascii",
     "counter":{"start":1000,"step":1,"last":999999}},
    {"name":"tag","offset":16,"length":6,"encoding":"ascii","list":"values.txt"},
    {"name":"imei","offset":"0x20","length":15,"encoding":"ascii","imei":{"tac":"35209900","start":0}},
    {"name":"mac","address":4096,"length":6,"encoding":"be",
     "mac":{"first":"02:00:00:00:00:01","last":"02:00:00:00:ff:ff"}}]})");
  SerialScheme scheme;
  std::string error;
  ASSERT_TRUE(ReadScheme((dir.Dir / "scheme.json").string(), scheme, error)) << error;
  ASSERT_EQ(scheme.Fields.size(), 4u);
  EXPECT_EQ(scheme.Fields[0].Address, 0x1000u);
  EXPECT_EQ(scheme.Fields[1].Offset, 16u);
  EXPECT_EQ(scheme.Fields[2].Offset, 0x20u);
  EXPECT_EQ(scheme.Fields[3].Address, 4096u);
  EXPECT_EQ(scheme.Fields[0].Source->Capacity(), 999999u - 1000u + 1);
  EXPECT_EQ(scheme.Fields[1].Source->Capacity(), 2u);
  EXPECT_EQ(scheme.Fields[3].Source->Capacity(), 0xFFFFu);
  std::vector<uint8_t> bytes;
  std::string text;
  ASSERT_TRUE(scheme.Fields[0].ValueAt(0, bytes, text, error));
  EXPECT_EQ(text, "0000001000");
  ASSERT_TRUE(scheme.Fields[1].ValueAt(1, bytes, text, error));
  EXPECT_EQ(text, "SN-B");
  // Pools are named by field and source, so two fields never share one.
  EXPECT_NE(scheme.Fields[0].Pool(), scheme.Fields[2].Pool());
  EXPECT_EQ(scheme.Fields[0].Pool().rfind("sn:", 0), 0u);
}

TEST(SerialScheme, BadFormRefusedWithItsText) {
  struct Case {
    std::string Json, Text;
  };
  const std::vector<Case> cases = {
      {"{\"fields\":[", "is not valid JSON"},
      {"[]", "is not a JSON object"},
      {R"({"fields":[],"extra":1})", "unknown key \"extra\""},
      {R"({"fields":[]})", "not a list of fields"},
      {Field(R"("counter":{"start":1,"last":9},"colour":"red")"), "unknown key \"colour\""},
      {Field(R"("counter":{"start":1,"last":9,"stop":3})"), "unknown key \"stop\""},
      {R"({"fields":[{"name":"sn","length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "either \"address\" or \"offset\""},
      {R"({"fields":[{"name":"sn","address":1,"offset":1,"length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "either \"address\" or \"offset\""},
      {R"({"fields":[{"name":"sn","address":"0x1g","length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "address is not a whole number"},
      {R"({"fields":[{"name":"sn","address":-4,"length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "address is not a whole number"},
      {R"({"fields":[{"name":"sn","address":0,"length":0,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "length 0 is not 1 to 64 bytes"},
      {R"({"fields":[{"name":"sn","address":0,"length":4,"encoding":"utf16","counter":{"start":1,"last":9}}]})",
       "unknown encoding \"utf16\""},
      {R"({"fields":[{"name":"sn","address":0,"length":4,"encoding":"ascii"}]})",
       "exactly one source"},
      {Field(R"("counter":{"start":1,"last":9},"mac":{"first":"02:00:00:00:00:01","last":"02:00:00:00:00:09"})"),
       "exactly one source"},
      {Field(R"("counter":{"start":10,"last":9})"), "counter last 9 is below its start 10"},
      {Field(R"("counter":{"start":1,"step":0,"last":9})"), "counter step is 0"},
      {Field(R"("imei":{"tac":"3520990","start":0})"), "imei tac \"3520990\" is not 8 decimal digits"},
      {Field(R"("imei":{"tac":"35209900","start":1000000})"), "imei start 1000000 is not 6 digits"},
      {Field(R"("mac":{"first":"02:00:00:00:00:09","last":"02:00:00:00:00:01"})"), "is below its first"},
      {Field(R"("mac":{"first":"02:00:00:00:01","last":"02:00:00:00:00:01"})"), "is not a MAC-48 address"},
      {Field(R"("list":"no-such-values.txt")"), "Cannot read the list file"},
      {R"({"fields":[{"name":"sn","address":0,"length":4,"encoding":"ascii","counter":{"start":1,"last":9}},
                     {"name":"sn","address":8,"length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       "Serial field sn is named twice"},
  };
  for (const Case &c : cases) {
    std::string error = Refusal(c.Json);
    EXPECT_NE(error.find(c.Text), std::string::npos) << c.Json << "\n  gave: " << error;
  }
}

TEST(SerialScheme, ValueThatCannotFitItsFieldRefused) {
  // The last value of the range needs 7 digits in a 6-character field.
  EXPECT_NE(Refusal(R"({"fields":[{"name":"sn","address":0,"length":6,"encoding":"ascii",
                        "counter":{"start":1,"last":1000000}}]})")
                .find("Serial field sn: \"1000000\" needs 7 characters, the field has 6"),
            std::string::npos);
  EXPECT_EQ(Refusal(R"({"fields":[{"name":"sn","address":0,"length":6,"encoding":"ascii",
                        "counter":{"start":1,"last":999999}}]})"),
            "");
  // An IMEI is 15 digits; a MAC six bytes.
  EXPECT_NE(Refusal(Field(R"("imei":{"tac":"35209900"})")).find("needs 15"), std::string::npos);
  EXPECT_NE(Refusal(R"({"fields":[{"name":"mac","address":0,"length":5,"encoding":"le",
                        "mac":{"first":"02:00:00:00:00:01","last":"02:00:00:00:00:02"}}]})")
                .find("does not fit in 5 bytes"),
            std::string::npos);
  // A list line too long for its field is named by its place in the list.
  SchemeDir dir;
  dir.Write("values.txt", "SN1\n# skipped\nSN-TOO-LONG-FOR-IT\n");
  std::string error = Refusal(R"({"fields":[{"name":"sn","address":0,"length":6,"encoding":"ascii",
                                  "list":"values.txt"}]})",
                              dir.Dir.string());
  EXPECT_NE(error.find("SN-TOO-LONG-FOR-IT"), std::string::npos) << error;
  EXPECT_NE(error.find("list value 2"), std::string::npos) << error;
  dir.Write("empty.txt", "# nothing yet\n\n");
  EXPECT_NE(Refusal(R"({"fields":[{"name":"sn","address":0,"length":6,"encoding":"ascii",
                        "list":"empty.txt"}]})",
                    dir.Dir.string())
                .find("holds no values"),
            std::string::npos);
}

TEST(SerialScheme, PlacedInsideTheImageWithoutOverlap) {
  auto scheme = [](const std::string &fields) {
    SerialScheme s;
    std::string error;
    EXPECT_TRUE(ParseScheme("{\"fields\":[" + fields + "]}", ".", s, error)) << error;
    return s;
  };
  const std::string counter = R"("encoding":"ascii","counter":{"start":1,"last":9})";
  auto place = [](const SerialScheme &s, uint64_t start, uint64_t size) {
    std::vector<PlacedField> placed;
    std::string error;
    bool ok = PlaceFields(s, start, size, placed, error);
    EXPECT_EQ(ok, error.empty());
    return std::make_pair(placed, error);
  };
  // An address is a flash address: its offset counts from the image's start.
  auto [placed, error] = place(scheme(R"({"name":"a","address":"0x10010","length":4,)" + counter +
                                      R"(},{"name":"b","offset":4,"length":4,)" + counter + "}"),
                               0x10000, 0x100);
  ASSERT_EQ(placed.size(), 2u) << error;
  EXPECT_EQ(placed[0].Offset, 0x10u);
  EXPECT_EQ(placed[1].Offset, 4u);
  // Below the start, at or past the end, running past the end.
  SerialScheme below = scheme(R"({"name":"a","address":"0xFFFC","length":4,)" + counter + "}");
  EXPECT_NE(place(below, 0x10000, 0x100).second.find("lies outside the image (0x10000..0x10100)"),
            std::string::npos);
  SerialScheme past = scheme(R"({"name":"a","address":"0x10100","length":1,)" + counter + "}");
  EXPECT_NE(place(past, 0x10000, 0x100).second.find("lies outside the image"), std::string::npos);
  SerialScheme longer = scheme(R"({"name":"a","address":"0x100FE","length":4,)" + counter + "}");
  EXPECT_NE(place(longer, 0x10000, 0x100).second.find("Image too short for serial field a"),
            std::string::npos);
  EXPECT_EQ(place(longer, 0x10000, 0x102).second, "");
  SerialScheme offset = scheme(R"({"name":"a","offset":"0x100","length":4,)" + counter + "}");
  EXPECT_NE(place(offset, 0, 0x100).second.find("lies outside the image (0x100 bytes)"),
            std::string::npos);
  // Overlaps, whichever way round, however they are given; touching is fine.
  SerialScheme overlap = scheme(R"({"name":"a","offset":8,"length":4,)" + counter +
                                R"(},{"name":"b","address":"0x1000B","length":4,)" + counter + "}");
  EXPECT_NE(place(overlap, 0x10000, 0x100).second.find("Serial field b (0x1000B, 4 bytes) overlaps serial field a"),
            std::string::npos);
  SerialScheme touching = scheme(R"({"name":"a","offset":8,"length":4,)" + counter +
                                 R"(},{"name":"b","offset":4,"length":4,)" + counter + "}");
  EXPECT_EQ(place(touching, 0, 0x100).second, "");
  SerialScheme inside = scheme(R"({"name":"a","offset":0,"length":10,)" + counter +
                               R"(},{"name":"b","offset":4,"length":2,)" + counter + "}");
  EXPECT_NE(place(inside, 0, 0x100).second.find("overlaps"), std::string::npos);
}
