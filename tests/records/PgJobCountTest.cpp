// A production job's count of units shared by two stations through the
// line's server: two command-line programs, each with two repeating
// channels, together pass exactly the job's units, and a third start is
// refused before touching a handset.
#include "handset/VirtualHandset.h"
#include "image/ImageDigest.h"
#include "tests/records/PgForwardFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>

namespace kestrune::records::test {
namespace {

using handset::VirtualHandset;
using nlohmann::json;

int PassedOutcomes(const std::string &events) {
  std::istringstream lines(events);
  std::string line;
  int passed = 0;
  while (std::getline(lines, line)) {
    json event = json::parse(line, nullptr, false);
    if (event.is_object() && event["event"] == "outcome" && event["outcome"] == "passed")
      ++passed;
  }
  return passed;
}

TEST_F(PgForward, TwoStationsOnTheLinesServerNeverPassMoreUnitsThanTheJobAllows) {
  const std::string image = WriteImage(40000);
  std::ifstream in(image, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  constexpr int Units = 5;
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  std::vector<pid_t> stations;
  for (int s = 0; s < 2; ++s) {
    // The same job (name and version) for both, each with its station.
    json job = {{"name", "fw-line-a"},
                {"version", "1"},
                {"image", {{"path", image}, {"sha256", Sha256Hex(bytes.data(), bytes.size())}}},
                {"repeat", 0},
                {"swap_silence", 0.3},
                {"units", Units},
                {"records", Url},
                {"station", "station-" + std::to_string(s)}};
    const std::string path = Dir.File("job-" + std::to_string(s) + ".json");
    std::ofstream(path) << job.dump();
    std::vector<std::string> args{"--job", path, "--allow-unsigned-jobs", "--json"};
    for (int c = 0; c < 2; ++c) {
      handset::HandsetOptions options;
      options.SwapAfterRunMs = 1500;
      handsets.push_back(std::make_unique<VirtualHandset>(options));
      ASSERT_TRUE(handsets.back()->StartOnPty());
      args.push_back(handsets.back()->DevicePath());
    }
    stations.push_back(Spawn(args, "out-" + std::to_string(s)));
  }
  int passed = 0;
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(Wait(stations[size_t(s)]), 3) << Output("out-" + std::to_string(s));
    passed += PassedOutcomes(Output("out-" + std::to_string(s)));
  }
  EXPECT_EQ(passed, Units);
  int flashed = 0;
  for (auto &h : handsets)
    flashed += h->CompletedRuns();
  EXPECT_EQ(flashed, Units);
  EXPECT_EQ(PgScalar(Url, "SELECT count(*) FROM kestrune_job_units WHERE state = 'passed'"),
            std::to_string(Units));
  EXPECT_EQ(PgScalar(Url, "SELECT count(DISTINCT station) FROM kestrune_job_units"), "2");
  // The records reached the server, sent before each program ended, with
  // the job on them.
  EXPECT_EQ(ServerCount("job_name = 'fw-line-a' AND outcome = 'passed'"), Units);

  VirtualHandset more;
  ASSERT_TRUE(more.StartOnPty());
  pid_t again = Spawn({"--job", Dir.File("job-0.json"), "--allow-unsigned-jobs",
                       more.DevicePath()},
                      "again");
  EXPECT_EQ(Wait(again), 3) << Output("again");
  EXPECT_NE(Output("again").find("Job fw-line-a: all 5 units built"), std::string::npos)
      << Output("again");
  EXPECT_TRUE(more.Runs().empty());
}

} // namespace
} // namespace kestrune::records::test
