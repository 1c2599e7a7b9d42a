// A list file pinned by its digest: the scheme's {"path", "sha256"} form
// takes exactly the bytes it names, the plain name still reads as before,
// and a job's scheme takes no list without a digest.
#include "image/ImageDigest.h"
#include "job/JobFile.h"
#include "serial/JobScheme.h"
#include "serial/SerialScheme.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::serial;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct ListDir : ::testing::Test {
  fs::path Dir = fs::temp_directory_path() / ("kestrune-list-" + std::to_string(::getpid()));
  const std::string Values = "# batch 7\nSN-A\nSN-B\n";
  void SetUp() override {
    fs::create_directories(Dir);
    std::ofstream(Dir / "values.txt", std::ios::binary) << Values;
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Digest() const {
    return Sha256Hex(reinterpret_cast<const uint8_t *>(Values.data()), Values.size());
  }
  std::string ListFile() const { return (Dir / "values.txt").string(); }
  static json Scheme(const json &list) {
    return {{"fields",
             {{{"name", "sn"}, {"offset", 0}, {"length", 8}, {"encoding", "ascii"}, {"list", list}}}}};
  }
  bool Parse(const json &scheme, SerialScheme &out, std::string &error) const {
    return ParseScheme(scheme.dump(), Dir.string(), out, error);
  }
  // A job whose scheme is inline.
  job::JobFile Job(const json &scheme) const {
    job::JobFile job;
    job.Name = "fw-line-a";
    job.Version = "1";
    job.Serial = scheme;
    job.Folder = Dir.string();
    return job;
  }
};

} // namespace

TEST_F(ListDir, APinnedListReadsAsThePlainOneAndIsMarkedPinned) {
  SerialScheme plain, pinned;
  std::string error;
  ASSERT_TRUE(Parse(Scheme("values.txt"), plain, error)) << error;
  ASSERT_TRUE(Parse(Scheme({{"path", "values.txt"}, {"sha256", Digest()}}), pinned, error)) << error;
  EXPECT_FALSE(plain.Fields[0].ListPinned);
  EXPECT_TRUE(pinned.Fields[0].ListPinned);
  EXPECT_EQ(plain.Fields[0].ListSha256, Digest());
  EXPECT_EQ(pinned.Fields[0].ListFile, ListFile());
  // The same pool either way: a ledger's positions carry over.
  EXPECT_EQ(plain.Fields[0].Pool(), pinned.Fields[0].Pool());
  std::vector<uint8_t> bytes;
  std::string text;
  ASSERT_TRUE(pinned.Fields[0].ValueAt(1, bytes, text, error)) << error;
  EXPECT_EQ(text, "SN-B");
  // Upper-case hex is the same digest.
  std::string upper = Digest();
  for (char &c : upper)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(Parse(Scheme({{"path", "values.txt"}, {"sha256", upper}}), pinned, error)) << error;
}

TEST_F(ListDir, AListWhoseBytesDifferFromItsDigestIsRefusedNamingBoth) {
  SerialScheme scheme;
  std::string error;
  const std::string other(64, 'a');
  EXPECT_FALSE(Parse(Scheme({{"path", "values.txt"}, {"sha256", other}}), scheme, error));
  EXPECT_EQ(error, "Serial field sn: list file " + ListFile() + " has SHA-256 " + Digest() +
                       ", the scheme pins " + other);
  EXPECT_FALSE(Parse(Scheme({{"path", "values.txt"}, {"sha256", "12ab"}}), scheme, error));
  EXPECT_NE(error.find("list sha256 \"12ab\" is not 64 hex digits"), std::string::npos) << error;
  EXPECT_FALSE(Parse(Scheme({{"path", "values.txt"}}), scheme, error));
  EXPECT_NE(error.find("\"sha256\" is missing"), std::string::npos) << error;
  EXPECT_FALSE(Parse(Scheme({{"path", "values.txt"}, {"sha256", Digest()}, {"size", 3}}), scheme,
                     error));
  EXPECT_NE(error.find("unknown key \"size\""), std::string::npos) << error;
}

TEST_F(ListDir, AJobsSchemeTakesNoListWithoutItsDigest) {
  SerialScheme scheme;
  std::string error;
  EXPECT_FALSE(ReadJobScheme(Job(Scheme("values.txt")), scheme, error));
  EXPECT_EQ(error, "serial field sn: list file " + ListFile() + " has SHA-256 " + Digest() +
                       ", and the job's scheme pins no digest for it (give \"list\": "
                       "{\"path\": ..., \"sha256\": ...})");
  error.clear();
  EXPECT_TRUE(ReadJobScheme(Job(Scheme({{"path", "values.txt"}, {"sha256", Digest()}})), scheme,
                            error))
      << error;
  ASSERT_EQ(scheme.Fields.size(), 1u);
  // Changed after the job was made: refused.
  std::ofstream(Dir / "values.txt", std::ios::binary) << "SN-X\n";
  EXPECT_FALSE(ReadJobScheme(Job(Scheme({{"path", "values.txt"}, {"sha256", Digest()}})), scheme,
                             error));
  EXPECT_NE(error.find("the scheme pins " + Digest()), std::string::npos) << error;
}
