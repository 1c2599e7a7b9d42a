// Two programs on one station's database, each flashing a swapping line of
// faulty units, both killed at random moments and started again: no value
// is ever on two units that passed, and every value of the range is
// accounted for as passed, spent, withheld or still free.
#include "handset/VirtualHandset.h"
#include "tests/cli/CliProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using kestrune::handset::HandsetOptions;
using kestrune::handset::RamModel;
using kestrune::handset::VirtualHandset;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const std::string &command, int &exit) {
  std::string text;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    text.append(buffer, n);
  int status = pclose(pipe);
  exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return text;
}

std::string Quoted(const std::vector<std::string> &args) {
  std::string command = std::string("'") + KESTRUNE_CLI + "'";
  for (const std::string &a : args)
    command += " '" + a + "'";
  return command;
}

// Starts the program with its output in a file of its own.
pid_t Start(const std::vector<std::string> &args, const std::string &outPath) {
  return kestrune::testing::StartCli(args, outPath);
}

constexpr long RangeFirst = 1, RangeLast = 99999;

// One program of the station: killed Kills times, then started for a last,
// short run that it ends on its own.
struct Program {
  std::string Name;
  std::vector<std::string> Ports;
  int Kills = 0;
  int Starts = 0;
  pid_t Pid = -1;
  Clock::time_point KillAt{};
  bool Done = false;
  int LastExit = -1;
};

} // namespace

TEST(CliSerialStress, TwoProgramsKilledAtRandomNeverShareAValue) {
  fs::path dir = fs::temp_directory_path() / ("kestrune-serialstress-" + std::to_string(getpid()));
  fs::create_directories(dir);
  struct Cleanup {
    fs::path Dir;
    // A failed run keeps the programs' output for a look.
    ~Cleanup() {
      if (::testing::Test::HasFailure())
        std::printf("kept %s\n", Dir.c_str());
      else
        fs::remove_all(Dir);
    }
  } cleanup{dir};
  {
    std::ofstream image(dir / "image.bin", std::ios::binary);
    for (size_t i = 0; i < 70000; ++i)
      image.put(char(i * 13 + 5));
  }
  const std::string scheme = (dir / "scheme.json").string();
  std::ofstream(scheme) << R"({"fields":[{"name":"sn","address":"0x800","length":6,"encoding":"ascii",)"
                        << R"("counter":{"start":)" << RangeFirst << R"(,"last":)" << RangeLast
                        << "}}]}";
  const std::string db = (dir / "station.sqlite").string();

  const unsigned seed = unsigned(Clock::now().time_since_epoch().count());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);

  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  std::vector<Program> programs(2);
  const int channels[2] = {5, 4};
  for (int p = 0; p < 2; ++p) {
    programs[p].Name = p == 0 ? "a" : "b";
    programs[p].Kills = 1 + int(random() % 2);
    for (int c = 0; c < channels[p]; ++c) {
      HandsetOptions options;
      options.Model = RamModel::Host;
      // Longer than the program's swap silence, or a fresh unit is taken
      // for the one just flashed.
      options.SwapAfterRunMs = 600;
      // Taken off well after the program's watchdog gave up on it.
      options.PullHungUnitMs = 2500;
      options.RandomFaults = HandsetOptions::FaultDraw{uint32_t(random()), 25};
      handsets.push_back(std::make_unique<VirtualHandset>(options));
      ASSERT_TRUE(handsets.back()->StartOnPty());
      programs[p].Ports.push_back(handsets.back()->DevicePath());
    }
  }

  auto startProgram = [&](Program &p) {
    bool last = p.Kills == 0;
    std::vector<std::string> args{"--records", db, "--image", (dir / "image.bin").string(),
                                  "--serial", scheme, "--repeat", last ? "2" : "1000",
                                  "--swap-silence", "0.2", "--watchdog", "1", "--json"};
    args.insert(args.end(), p.Ports.begin(), p.Ports.end());
    ++p.Starts;
    p.Pid = Start(args, (dir / (p.Name + "-" + std::to_string(p.Starts) + ".out")).string());
    p.KillAt = Clock::now() + std::chrono::milliseconds(1200 + random() % 2800);
  };
  for (Program &p : programs)
    startProgram(p);

  const auto giveUp = Clock::now() + std::chrono::seconds(50);
  int kills = 0;
  while (!(programs[0].Done && programs[1].Done) && Clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (Program &p : programs) {
      if (p.Done)
        continue;
      int status = 0;
      pid_t ended = waitpid(p.Pid, &status, WNOHANG);
      if (p.Kills == 0) {
        if (ended == p.Pid) {
          p.Done = true;
          p.LastExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        continue;
      }
      ASSERT_EQ(ended, 0) << "program " << p.Name << " ended before it was killed";
      if (Clock::now() < p.KillAt)
        continue;
      kill(p.Pid, SIGKILL);
      waitpid(p.Pid, nullptr, 0);
      ++kills;
      --p.Kills;
      startProgram(p);
    }
  }
  for (Program &p : programs) {
    if (!p.Done) {
      kill(p.Pid, SIGKILL);
      waitpid(p.Pid, nullptr, 0);
    }
    ASSERT_TRUE(p.Done) << "program " << p.Name << " did not end its last run";
    // 0: every unit passed, 1: some failed; both are a finished line.
    EXPECT_TRUE(p.LastExit == 0 || p.LastExit == 1) << p.Name << " exit " << p.LastExit;
  }
  ASSERT_GE(kills, 2);

  int exit = -1;
  const std::string listing =
      ReadAll(Quoted({"records", "--records", db, "--format", "json"}) + " 2>/dev/null", exit);
  ASSERT_EQ(exit, 0) << listing;
  auto records = nlohmann::json::parse(listing)["records"];

  const std::string statusText =
      ReadAll(Quoted({"serial", "status", "--serial", scheme, "--records", db}) + " 2>&1", exit);
  ASSERT_EQ(exit, 0) << statusText;
  SCOPED_TRACE(statusText);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(statusText, m, std::regex(R"(left: (\d+))")));
  const long left = std::stol(m[1]);
  ASSERT_TRUE(std::regex_search(
      statusText, m, std::regex(R"(passed: (\d+), spent: (\d+), claimed: (\d+), skipped: (\d+))")));
  const long passed = std::stol(m[1]), spent = std::stol(m[2]), claimed = std::stol(m[3]),
             skipped = std::stol(m[4]);
  long withheld = 0;
  if (std::regex_search(statusText, m, std::regex(R"(written off: (\d+))")))
    withheld = std::stol(m[1]);
  // With every program ended, no claim is left open.
  EXPECT_EQ(claimed, 0);
  EXPECT_EQ(passed + spent + claimed + skipped + withheld + left, RangeLast - RangeFirst + 1);

  std::set<std::string> spentValues;
  const std::regex spentLine(R"(^    (\d{6})  station )");
  std::istringstream lines(statusText);
  for (std::string text; std::getline(lines, text);)
    if (std::regex_search(text, m, spentLine))
      spentValues.insert(m[1]);
  // Every value spent is listed, on a failed unit or on a claim a kill left open.
  EXPECT_EQ(long(spentValues.size()), spent);

  // Each value is on one record at most: a value spent on a failed unit is
  // never written again, a value given back is on no record.
  std::map<std::string, int> seen;
  long passedRecords = 0, failedWithValue = 0;
  for (const auto &record : records) {
    if (!record.contains("serials") || !record["serials"].contains("sn"))
      continue;
    const std::string sn = record["serials"]["sn"];
    ASSERT_EQ(sn.size(), 6u) << record.dump();
    const long number = std::stol(sn);
    EXPECT_GE(number, RangeFirst) << sn;
    EXPECT_LE(number, RangeLast) << sn;
    EXPECT_EQ(++seen[sn], 1) << sn << " is on two records";
    if (record["outcome"] == "passed") {
      ++passedRecords;
      EXPECT_EQ(spentValues.count(sn), 0u) << sn << " passed and is counted spent";
    } else {
      ++failedWithValue;
      EXPECT_EQ(spentValues.count(sn), 1u) << sn << " failed but is not counted spent";
    }
  }
  EXPECT_GT(passedRecords, 0);
  // A kill can come between a unit's settling and its record: the ledger may
  // count a few more passes, never fewer, and never more than one per channel
  // a kill caught.
  EXPECT_GE(passed, passedRecords);
  EXPECT_LE(passed - passedRecords, long(kills) * 5);
  EXPECT_GE(spent, failedWithValue);
  std::printf("serial stress: %d kills, %ld passed records, %ld failed with a value, ledger "
              "passed %ld spent %ld written off %ld left %ld\n",
              kills, passedRecords, failedWithValue, passed, spent, withheld, left);
}
