// kestrune-cli --serial against virtual handsets on a swapping line: each
// unit's flash holds the image with that unit's own values at their
// addresses, the events and records name them, and a scheme that does not
// fit is refused before any port opens.
#include "handset/VirtualHandset.h"
#include "image/ImageDigest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kestrune::handset::HandsetOptions;
using kestrune::handset::RamModel;
using kestrune::handset::VirtualHandset;
using Bytes = std::vector<uint8_t>;

namespace {

struct Output {
  int Exit = -1;
  std::string Text;
};

Output RunCli(const std::vector<std::string> &args, bool withErrors = true) {
  // A line that never ends is a failure, not a hang of the whole suite.
  std::string command = std::string("timeout -s KILL 180 '") + KESTRUNE_CLI + "'";
  for (const std::string &a : args)
    command += " '" + a + "'";
  command += withErrors ? " 2>&1" : " 2>/dev/null";
  Output out;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.Text.append(buffer, n);
  int status = pclose(pipe);
  out.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

constexpr size_t ImageSize = 100000; // four blocks
constexpr size_t SnAt = 0x1000, MacAt = 0x10004;

struct Line {
  fs::path Dir = fs::temp_directory_path() / ("kestrune-cliserial-" + std::to_string(getpid()));
  Bytes Image;
  Line() {
    fs::create_directories(Dir);
    for (size_t i = 0; i < ImageSize; ++i)
      Image.push_back(uint8_t(i * 7 + 3));
    std::ofstream(Dir / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char *>(Image.data()), std::streamsize(Image.size()));
  }
  ~Line() { fs::remove_all(Dir); }
  std::string Path(const std::string &name) const { return (Dir / name).string(); }
  std::string Scheme(const std::string &name, const std::string &text) const {
    std::ofstream(Dir / name) << text;
    return Path(name);
  }
  // The image as a unit with these values must hold it.
  Bytes Expected(const std::string &sn, const std::string &mac) const {
    Bytes expected = Image;
    std::copy(sn.begin(), sn.end(), expected.begin() + SnAt);
    for (size_t i = 0; i < 6; ++i)
      expected[MacAt + i] = uint8_t(std::stoul(mac.substr(3 * i, 2), nullptr, 16));
    return expected;
  }
};

Bytes Head(const std::string &path, size_t count) {
  Bytes bytes(count);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(count));
  bytes.resize(size_t(in.gcount()));
  return bytes;
}

const char *const SnAndMac =
    R"({"fields":[{"name":"sn","address":"0x1000","length":10,"encoding":"ascii",
                   "counter":{"start":1000,"step":1,"last":999999}},
                  {"name":"mac","offset":"0x10004","length":6,"encoding":"be",
                   "mac":{"first":"02:00:00:00:00:fe","last":"02:00:00:00:ff:ff"}}]})";

} // namespace

TEST(CliSerial, EachUnitsFlashHoldsItsOwnValues) {
  Line line;
  constexpr int Units = 3;
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  for (int c = 1; c <= 2; ++c) {
    fs::create_directories(line.Dir / ("h" + std::to_string(c)));
    HandsetOptions options;
    options.Model = RamModel::Host;
    // The unit stays away far longer than the swap silence plus the host's
    // turnaround after a verdict (record and serial values settled), which
    // under a sanitizer and a loaded machine can take several hundred ms:
    // a unit back sooner is taken for the one just flashed.
    options.SwapAfterRunMs = 3000;
    options.FlashDumpDir = line.Path("h" + std::to_string(c));
    handsets.push_back(std::make_unique<VirtualHandset>(options));
    ASSERT_TRUE(handsets.back()->StartOnPty());
  }
  const std::string db = line.Path("station.sqlite");
  Output run = RunCli({"--records", db, "--image", line.Path("image.bin"), "--serial",
                       line.Scheme("scheme.json", SnAndMac), "--repeat", std::to_string(Units),
                       "--swap-silence", "0.3", "--json", handsets[0]->DevicePath(),
                       handsets[1]->DevicePath()},
                      false);
  ASSERT_EQ(run.Exit, 0) << run.Text;

  std::istringstream events(run.Text);
  std::string text;
  std::set<std::string> sns, macs;
  int outcomes = 0, claims = 0;
  while (std::getline(events, text)) {
    auto event = nlohmann::json::parse(text);
    if (event["event"] == "serials")
      ++claims;
    if (event["event"] != "outcome")
      continue;
    ++outcomes;
    ASSERT_EQ(event["outcome"], "passed") << text;
    std::string sn = event["serials"]["sn"], mac = event["serials"]["mac"];
    sns.insert(sn);
    macs.insert(mac);
    int channel = event["channel"], unit = event["run"];
    Bytes expected = line.Expected(sn, mac);
    std::string dump = line.Path("h" + std::to_string(channel) + "/run-" + std::to_string(unit) +
                                 ".bin");
    Bytes flash = Head(dump, ImageSize + 256);
    ASSERT_EQ(flash.size(), ImageSize + 256) << dump;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()))
        << "channel " << channel << " unit " << unit << " does not hold " << sn << " " << mac;
    EXPECT_EQ(Bytes(flash.begin() + ImageSize, flash.end()), Bytes(256, 0xFF));
    EXPECT_EQ(event["sent_sha256"], kestrune::Sha256Hex(expected.data(), expected.size()));
    EXPECT_EQ(event["image_sha256"], kestrune::Sha256Hex(line.Image.data(), line.Image.size()));
  }
  EXPECT_EQ(outcomes, 2 * Units);
  EXPECT_EQ(claims, 2 * Units);
  // Six units, six values of each field, from the first on.
  EXPECT_EQ(sns.size(), size_t(2 * Units));
  EXPECT_EQ(macs.size(), size_t(2 * Units));
  EXPECT_EQ(*sns.begin(), "0000001000");
  EXPECT_EQ(*sns.rbegin(), "0000001005");
  EXPECT_EQ(*macs.rbegin(), "02:00:00:00:01:03");

  // The records find the unit by any of its values.
  Output found = RunCli({"records", "--records", db, "--serial-value", "02:00:00:00:01:00",
                         "--format", "json"});
  ASSERT_EQ(found.Exit, 0) << found.Text;
  auto listing = nlohmann::json::parse(found.Text);
  ASSERT_EQ(listing["records"].size(), 1u) << found.Text;
  EXPECT_EQ(listing["records"][0]["serials"]["mac"], "02:00:00:00:01:00");
  EXPECT_EQ(listing["records"][0]["serials"]["sn"].get<std::string>().size(), 10u);
}

TEST(CliSerial, SchemeThatDoesNotFitIsRefusedBeforeAnyPortOpens) {
  Line line;
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  std::ofstream(line.Dir / "values.txt") << "SN-1\nSN-WAY-TOO-LONG\n";
  struct Case {
    std::string Scheme;
    int Exit;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {R"({"fields":[{"name":"sn","address":"0x1000","length":8,"encoding":"ascii","list":"values.txt"}]})",
       2, "\"SN-WAY-TOO-LONG\" needs 15 characters, the field has 8"},
      {R"({"fields":[{"name":"sn","address":"0x1000","length":4,"encoding":"ascii",
                      "counter":{"start":1,"last":99999}}]})",
       2, "\"99999\" needs 5 characters, the field has 4"},
      {R"({"fields":[{"name":"sn","address":"0x1000","length":4,"encoding":"rot13",
                      "counter":{"start":1,"last":9}}]})",
       2, "unknown encoding \"rot13\""},
      {R"({"fields":[{"name":"sn","address":"0x20000","length":4,"encoding":"ascii",
                      "counter":{"start":1,"last":9}}]})",
       1, "Serial field sn at 0x20000 lies outside the image (0x0..0x186A0)"},
      {R"({"fields":[{"name":"sn","offset":"0x1869E","length":4,"encoding":"ascii",
                      "counter":{"start":1,"last":9}}]})",
       1, "Image too short for serial field sn"},
      {R"({"fields":[{"name":"a","offset":0,"length":4,"encoding":"ascii","counter":{"start":1,"last":9}},
                     {"name":"b","address":"0x2","length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})",
       1, "overlaps serial field a"},
  };
  for (const Case &c : cases) {
    Output run = RunCli({"--records", line.Path("db.sqlite"), "--image", line.Path("image.bin"),
                         "--serial", line.Scheme("bad.json", c.Scheme), handset.DevicePath()});
    EXPECT_EQ(run.Exit, c.Exit) << run.Text;
    EXPECT_NE(run.Text.find(c.Text), std::string::npos) << run.Text;
    EXPECT_EQ(run.Text.find("Opened COMM port"), std::string::npos) << run.Text;
  }
  EXPECT_EQ(handset.CompletedRuns(), 0);
  Output lease = RunCli({"--image", line.Path("image.bin"), "--serial-lease", "10",
                         handset.DevicePath()});
  EXPECT_EQ(lease.Exit, 2);
  EXPECT_NE(lease.Text.find("--serial-lease needs --serial"), std::string::npos) << lease.Text;
}
