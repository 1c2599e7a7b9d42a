// Reading and checking job files, and the content a signature covers.
#include "job/JobFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using kestrune::job::CanonicalContent;
using kestrune::job::CheckJob;
using kestrune::job::JobFile;
using nlohmann::json;

namespace {

const std::string Digest(64, 'a');

json Minimal() {
  return {{"name", "fw-line-a"}, {"version", "1"}, {"image", {{"path", "a.mot"}, {"sha256", Digest}}}};
}

std::string Problem(const json &document) {
  JobFile job;
  return CheckJob(document, "/srv/jobs", job);
}

TEST(JobFile, EveryMemberIsTakenWithRelativePathsFromTheJobsFolder) {
  json document = Minimal();
  document["ram_program"] = {{"path", "/srv/fw/loader.bin"}, {"sha256", std::string(64, 'b')}};
  document["speed"] = "460K";
  document["watchdog"] = 0;
  document["resend_limit"] = 3;
  document["repeat"] = 0;
  document["swap_silence"] = 2.5;
  document["serial"] = {{"pattern", "A{n}"}};
  document["units"] = 500;
  document["records"] = "/srv/records.sqlite";
  document["station"] = "bench-2";
  JobFile job;
  ASSERT_EQ(CheckJob(document, "/srv/jobs", job), "");
  EXPECT_EQ(job.Name, "fw-line-a");
  // Compared as paths: Windows writes the folder with its own separator.
  EXPECT_EQ(std::filesystem::path(job.ImagePath), std::filesystem::path("/srv/jobs/a.mot"));
  EXPECT_EQ(job.ImageSha256, Digest);
  EXPECT_EQ(std::filesystem::path(job.RamProgramPath), std::filesystem::path("/srv/fw/loader.bin"));
  EXPECT_EQ(job.SpeedRow, 5);
  EXPECT_EQ(job.WatchdogSeconds, 0u);
  EXPECT_EQ(job.ResendLimit, 3u);
  ASSERT_TRUE(job.Repeat && job.SwapSilenceSeconds && job.Units);
  EXPECT_EQ(*job.Repeat, 0u);
  EXPECT_DOUBLE_EQ(*job.SwapSilenceSeconds, 2.5);
  EXPECT_EQ(*job.Units, 500u);
  EXPECT_EQ(job.Serial["pattern"], "A{n}");
  EXPECT_EQ(job.Station, "bench-2");

  JobFile plain;
  ASSERT_EQ(CheckJob(Minimal(), "/srv/jobs", plain), "");
  EXPECT_EQ(plain.SpeedRow, 6);
  EXPECT_TRUE(plain.RamProgramPath.empty());
  EXPECT_FALSE(plain.Repeat || plain.Units);
}

TEST(JobFile, AWrongMemberIsRefusedByName) {
  auto with = [](const char *member, json value) {
    json document = Minimal();
    document[member] = std::move(value);
    return Problem(document);
  };
  EXPECT_EQ(with("colour", "red"), "unknown job member 'colour'");
  EXPECT_EQ(with("speed", "230K"), "job member 'speed' must be \"115K\", \"460K\" or \"920K\"");
  EXPECT_EQ(with("speed", 920), "job member 'speed' must be \"115K\", \"460K\" or \"920K\"");
  EXPECT_EQ(with("units", 0), "job member 'units' must be a whole number from 1 to 4294967295");
  EXPECT_EQ(with("units", -5), "job member 'units' must be a whole number from 1 to 4294967295");
  EXPECT_EQ(with("watchdog", 3601), "job member 'watchdog' must be a whole number from 0 to 3600");
  EXPECT_EQ(with("swap_silence", 1), "job member 'swap_silence' needs 'repeat'");
  EXPECT_EQ(with("name", ""), "job member 'name' must be a non-empty text");
  EXPECT_EQ(with("image", {{"path", "a"}, {"sha256", std::string(64, 'A')}}),
            "job member 'image' needs a 'sha256' of 64 lower-case hex digits");
  EXPECT_EQ(with("image", {{"path", "a"}, {"sha256", Digest}, {"size", 4}}),
            "job member 'image' has an unknown member 'size'");
  EXPECT_EQ(with("ram_program", {{"sha256", Digest}}), "job member 'ram_program' needs a 'path' text");
  json noVersion = Minimal();
  noVersion.erase("version");
  EXPECT_EQ(Problem(noVersion), "job member 'version' is missing");
  EXPECT_EQ(Problem(json::array()), "a job file holds one JSON object");
}

TEST(JobFile, TheCanonicalContentIgnoresOrderSpacingAndTheSignature) {
  const json a = json::parse(R"({"version": "1", "name": "x",
      "image": {"sha256": "s", "path": "p"}})");
  const json b = json::parse(R"({"name":"x","image":{"path":"p","sha256":"s"},"version":"1",
      "signature":{"value":"abc"}})");
  EXPECT_EQ(CanonicalContent(a), R"({"image":{"path":"p","sha256":"s"},"name":"x","version":"1"})");
  EXPECT_EQ(CanonicalContent(a), CanonicalContent(b));
  json c = a;
  c["version"] = "2";
  EXPECT_NE(CanonicalContent(a), CanonicalContent(c));
}

} // namespace
