// kestrune-cli --json and --repeat as a factory system sees them: one JSON
// object per line for every event, handset after handset on one channel,
// and more channels than the window has.
#include "handset/VirtualHandset.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;
using kestrune::handset::HandsetOptions;
using kestrune::handset::RamModel;
using kestrune::handset::VirtualHandset;

namespace {

struct Workspace {
  fs::path Dir = fs::temp_directory_path() / ("kestrune-clijson-" + std::to_string(getpid()));
  Workspace() {
    fs::create_directories(Dir);
    std::ofstream image(Image(), std::ios::binary);
    for (int i = 0; i < 70000; ++i)
      image.put(char(i * 5));
  }
  ~Workspace() { fs::remove_all(Dir); }
  std::string Image() const { return (Dir / "image.bin").string(); }
  std::string Errors() const { return (Dir / "stderr.txt").string(); }
};

struct Output {
  int Exit = -1;
  std::vector<json> Events;
  std::vector<std::string> NotJson;
};

// Runs the program; its standard output must be JSON lines only.
Output RunCli(const Workspace &w, const std::vector<std::string> &args) {
  std::string command = std::string("'") + KESTRUNE_CLI + "'";
  for (const std::string &a : args)
    command += " '" + a + "'";
  command += " 2>'" + w.Errors() + "'";
  std::string text;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    text.append(buffer, n);
  int status = pclose(pipe);
  Output out;
  out.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    json event = json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object())
      out.NotJson.push_back(line);
    else
      out.Events.push_back(std::move(event));
  }
  return out;
}

std::vector<json> OfKind(const Output &out, const std::string &kind, int channel = 0) {
  std::vector<json> found;
  for (const json &e : out.Events)
    if (e["event"] == kind && (channel == 0 || e["channel"] == channel))
      found.push_back(e);
  return found;
}

// An event's time of day in seconds, from its "time" field.
double SecondsOfDay(const json &event) {
  const std::string time = event.value("time", "");
  return std::stoi(time.substr(11, 2)) * 3600.0 + std::stoi(time.substr(14, 2)) * 60.0 +
         std::stod(time.substr(17, 6));
}

std::unique_ptr<VirtualHandset> Handset(HandsetOptions options) {
  auto handset = std::make_unique<VirtualHandset>(options);
  if (!handset->StartOnPty())
    ADD_FAILURE() << handset->ErrorText();
  return handset;
}

} // namespace

TEST(CliJson, EveryEventOfARepeatingChannelIsOneJsonLine) {
  Workspace w;
  auto handset = Handset({.Model = RamModel::Host, .SwapAfterRunMs = 500});
  const std::string port = handset->DevicePath();
  Output out = RunCli(w, {"--json", "--repeat", "2", "--swap-silence", "0.2", "--image",
                          w.Image(), port});
  EXPECT_EQ(out.Exit, 0);
  EXPECT_TRUE(out.NotJson.empty()) << out.NotJson.front();
  ASSERT_FALSE(out.Events.empty());

  const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  std::map<std::string, int> kinds;
  for (const json &e : out.Events) {
    ++kinds[e.value("event", "")];
    EXPECT_EQ(e["channel"], 1) << e.dump();
    EXPECT_EQ(e["port"], port) << e.dump();
    EXPECT_TRUE(std::regex_match(e.value("time", ""), time)) << e.dump();
  }
  EXPECT_EQ(kinds.size(), 7u); // run-start, status, phase, progress, outcome, verdict, end

  auto starts = OfKind(out, "run-start");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0]["run"], 1);
  EXPECT_EQ(starts[1]["run"], 2);
  auto outcomes = OfKind(out, "outcome");
  ASSERT_EQ(outcomes.size(), 2u);
  for (int run = 1; run <= 2; ++run) {
    const json &o = outcomes[size_t(run - 1)];
    EXPECT_EQ(o["run"], run);
    EXPECT_EQ(o["outcome"], "passed") << o.dump();
    EXPECT_EQ(o["code"], 0);
    EXPECT_EQ(o["bytes"], 70000);
    EXPECT_EQ(o["waiting"], false);
    EXPECT_GT(o["seconds"].get<double>(), 0.0);
  }
  // The second run waited for the unit to be swapped.
  bool sawSwapText = false;
  for (const json &s : OfKind(out, "status"))
    sawSwapText = sawSwapText || s["text"] == "Handset still connected: remove it";
  EXPECT_TRUE(sawSwapText);
  // Programming progress ends with the whole image.
  std::vector<json> programming;
  for (const json &p : OfKind(out, "progress"))
    if (p["phase"] == "programming")
      programming.push_back(p);
  ASSERT_FALSE(programming.empty());
  EXPECT_EQ(programming.back()["sent"], 70000);
  EXPECT_EQ(programming.back()["total"], 70000);

  const json &end = out.Events.back();
  EXPECT_EQ(end["event"], "end");
  EXPECT_EQ(end["passed"], 2);
  EXPECT_EQ(end["failed"], 0);
  EXPECT_EQ(end["outcome"], "completed");
}

TEST(CliJson, EachUnitOfARepeatingChannelHasOneVerdictEvent) {
  Workspace w;
  // The second unit's erase fails; the first and third pass.
  auto handset = Handset({.Model = RamModel::Host, .SwapAfterRunMs = 500,
                          .EraseFailSegment = 7, .EraseFailRun = 2});
  Output out = RunCli(w, {"--json", "--repeat", "3", "--swap-silence", "0.2", "--image",
                          w.Image(), handset->DevicePath()});
  EXPECT_EQ(out.Exit, 1);
  auto verdicts = OfKind(out, "verdict");
  auto outcomes = OfKind(out, "outcome");
  ASSERT_EQ(verdicts.size(), 3u);
  ASSERT_EQ(outcomes.size(), 3u);
  const char *expected[] = {"passed", "failed", "passed"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("unit " + std::to_string(i + 1));
    EXPECT_EQ(verdicts[i]["unit"], i + 1);
    EXPECT_EQ(verdicts[i]["run"], i + 1);
    EXPECT_EQ(verdicts[i]["outcome"], expected[i]);
    EXPECT_EQ(verdicts[i]["text"], outcomes[i]["text"]);
  }
  EXPECT_EQ(verdicts[1]["text"].get<std::string>().rfind("ERROR ", 0), 0u) << verdicts[1].dump();
  // Between units the channel waits, in a phase of its own.
  std::vector<json> waits;
  for (const json &p : OfKind(out, "phase"))
    if (p["phase"] == "waiting for the next unit")
      waits.push_back(p);
  ASSERT_EQ(waits.size(), 2u);
  // The wait (the 0.5 s swap at least) is not the unit's time.
  const double waitToVerdict = SecondsOfDay(outcomes[2]) - SecondsOfDay(waits[1]);
  EXPECT_LE(outcomes[2]["seconds"].get<double>(), waitToVerdict - 0.45);
  const json &end = out.Events.back();
  EXPECT_EQ(end["passed"], 2);
  EXPECT_EQ(end["failed"], 1);
}

TEST(CliJson, ARunThatReachedNoHandsetIsShownButNotCounted) {
  Workspace w;
  auto handset = Handset({.Model = RamModel::Host});
  Output out = RunCli(w, {"--json", "--image", w.Image(), handset->DevicePath(),
                          "/dev/kestrune-missing"});
  EXPECT_EQ(out.Exit, 1);
  auto missing = OfKind(out, "outcome", 2);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0]["outcome"], "failed");
  EXPECT_EQ(missing[0]["unit"], false);
  EXPECT_TRUE(OfKind(out, "verdict", 2).empty());
  auto end = OfKind(out, "end", 2);
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0]["failed"], 0);
  EXPECT_EQ(end[0]["outcome"], "failed");
  // The handset's run is a unit with its verdict.
  auto good = OfKind(out, "outcome", 1);
  ASSERT_EQ(good.size(), 1u);
  EXPECT_EQ(good[0]["unit"], true);
  ASSERT_EQ(OfKind(out, "verdict", 1).size(), 1u);
  EXPECT_EQ(OfKind(out, "end", 1)[0]["passed"], 1);
}

TEST(CliJson, TenPortsAreTenChannels) {
  Workspace w;
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  std::vector<std::string> args{"--json", "--image", w.Image()};
  for (int i = 0; i < 10; ++i) {
    handsets.push_back(Handset({.Model = RamModel::Host}));
    args.push_back(handsets.back()->DevicePath());
  }
  Output out = RunCli(w, args);
  EXPECT_EQ(out.Exit, 0);
  EXPECT_TRUE(out.NotJson.empty());
  for (int channel = 1; channel <= 10; ++channel) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    auto outcomes = OfKind(out, "outcome", channel);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0]["outcome"], "passed");
    EXPECT_EQ(outcomes[0]["port"], handsets[size_t(channel - 1)]->DevicePath());
    EXPECT_EQ(handsets[size_t(channel - 1)]->CompletedRuns(), 1);
  }
}
