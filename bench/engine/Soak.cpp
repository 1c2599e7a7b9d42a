// A production line's day in minutes: channels in repeat mode against
// virtual handsets whose units fail at random, with records on.
//
//   bench_soak [--channels N] [--units M] [--faults PERCENT] [--seed S]
//              [--image-kib K] [--arm] [--keep DIR]
//
// N channels (default 16) of kestrune-cli flash M units in all (default
// 2000) of a K KiB image (default 256) on instant flash. The next unit is on
// the line 0.5 s after a run ends: well after the channel, which closes and
// opens its port between units, has heard 50 ms of silence. (A unit that
// answers the call within that silence is taken for the one still there; it
// then waits for its RAM program, and the channel asks for a reset, which a
// virtual unit never gets.) PERCENT of the
// units (default 20) have one fault each, drawn by the handsets from the
// seed: a damaged block (sent again, then passed), a failed erase or
// program, silence at some phase, a line that goes dead. A hung unit is taken
// off the line after 1.5 s. Prints units per hour, passed and failed, the
// records written against the runs (they must be equal), and kestrune-cli's
// resident memory, open descriptors and threads once every channel has
// finished its first unit and again at the last unit before any channel ends.
// With --keep, the handsets' traces and the command line's events stay in
// DIR. Silence at the erase report and a line that goes dead after the second
// block are left out of the draw: the host rightly waits minutes there.
#include "bench/engine/CliRun.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace kestrune::bench;

namespace {

struct Usage {
  double ResidentMiB = 0;
  int Descriptors = 0;
  int Threads = 0;
};

Usage Sample(pid_t pid) {
  Usage usage;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      usage.ResidentMiB = kib / 1024.0;
    } else if (key == "Threads:") {
      status >> usage.Threads;
    }
  }
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
       !error && it != fs::directory_iterator(); it.increment(error))
    ++usage.Descriptors;
  return usage;
}

long CountRecords(const fs::path &database) {
  sqlite3 *db = nullptr;
  long count = -1;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM runs", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
      count = sqlite3_column_int64(query, 0);
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return count;
}

struct Options {
  int Channels = 16;
  int Units = 2000;
  int Faults = 20;
  unsigned Seed = 1;
  int ImageKiB = 256;
  bool Arm = false;
  std::string Keep;
};

bool Parse(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--arm") {
      o.Arm = true;
      continue;
    }
    if (i + 1 >= argc)
      return false;
    if (arg == "--keep") {
      o.Keep = argv[++i];
      continue;
    }
    int value = std::atoi(argv[++i]);
    if (arg == "--channels")
      o.Channels = value;
    else if (arg == "--units")
      o.Units = value;
    else if (arg == "--faults")
      o.Faults = value;
    else if (arg == "--seed")
      o.Seed = unsigned(value);
    else if (arg == "--image-kib")
      o.ImageKiB = value;
    else
      return false;
  }
  return o.Channels >= 1 && o.Channels <= 64 && o.Units >= o.Channels && o.Faults >= 0 &&
         o.Faults <= 100 && o.ImageKiB >= 1 && o.ImageKiB <= 16384;
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: bench_soak [--channels 1-64] [--units M>=N] [--faults 0-100] "
                         "[--seed S] [--image-kib K] [--arm] [--keep DIR]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("kestrune-soak-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string image = MakeImage(dir, size_t(o.ImageKiB) * 1024);
  const fs::path database = dir / "records.sqlite";
  const int perChannel = (o.Units + o.Channels - 1) / o.Channels;

  std::vector<std::vector<std::string>> handsetOptions;
  for (int i = 0; i < o.Channels; ++i)
    handsetOptions.push_back({"--model", o.Arm ? "arm" : "host", "--swap-after-run", "500",
                              "--pull-hung", "1500", "--random-faults",
                              std::to_string(o.Seed * 1000 + unsigned(i)) + ":" +
                                  std::to_string(o.Faults)});
  if (!o.Keep.empty())
    fs::create_directories(o.Keep);
  Handsets handsets(handsetOptions, o.Keep);
  if (int(handsets.Ports.size()) != o.Channels) {
    std::fprintf(stderr, "could not start the virtual handsets\n");
    return 1;
  }

  std::vector<std::string> args = {(BuildDir() / "cli/kestrune-cli").string(),
                                   "--speed", "920K", "--image", image,
                                   "--repeat", std::to_string(perChannel),
                                   "--swap-silence", "0.05", "--watchdog", "1",
                                   "--json", "--records", database.string(),
                                   "--station", "soak"};
  args.insert(args.end(), handsets.Ports.begin(), handsets.Ports.end());
  int fds[2];
  if (pipe(fds) != 0)
    return 1;
  const Clock::time_point started = Clock::now();
  pid_t cli = Spawn(args, fds[1]);
  close(fds[1]);

  long runs = 0, passed = 0, failed = 0, other = 0;
  std::set<int> channelsDone;
  Usage first, last;
  bool firstTaken = false, anyEnded = false;
  Clock::time_point nextReport = started + std::chrono::seconds(30);
  std::ofstream events;
  if (!o.Keep.empty())
    events.open(fs::path(o.Keep) / "events.jsonl");
  ForEachLine(fds[0], [&](const std::string &line) {
    if (events.is_open())
      events << line << '\n' << std::flush;
    if (Clock::now() >= nextReport) {
      std::fprintf(stderr, "%ld of %d units after %.0f s\n", runs, perChannel * o.Channels,
                   Seconds(started, Clock::now()));
      nextReport += std::chrono::seconds(30);
    }
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object())
      return;
    if (event.value("event", "") == "end")
      anyEnded = true;
    if (event.value("event", "") != "outcome")
      return;
    ++runs;
    const std::string outcome = event.value("outcome", "");
    if (outcome == "passed")
      ++passed;
    else if (outcome == "failed")
      ++failed;
    else
      ++other;
    channelsDone.insert(event.value("channel", 0));
    if (!firstTaken && int(channelsDone.size()) == o.Channels) {
      first = Sample(cli);
      firstTaken = true;
    }
    // The last figures while every channel is still on the line.
    if (firstTaken && !anyEnded)
      last = Sample(cli);
  });
  close(fds[0]);
  int status = 0;
  waitpid(cli, &status, 0);
  const double wall = Seconds(started, Clock::now());
  const long records = CountRecords(database);

  std::printf("channels: %d, units: %d per channel, faulty units: %d%%, image: %d KiB, "
              "RAM program: %s\n",
              o.Channels, perChannel, o.Faults, o.ImageKiB, o.Arm ? "emulated ARM" : "host model");
  std::printf("runs: %ld (passed %ld, failed %ld, other %ld) in %.1f s: %.0f units per hour\n",
              runs, passed, failed, other, wall, double(runs) * 3600.0 / wall);
  std::printf("records written: %ld for %ld runs: %s\n", records, runs,
              records == runs ? "equal" : "NOT EQUAL");
  std::printf("kestrune-cli after the first units: %.1f MiB resident, %d descriptors, "
              "%d threads\n",
              first.ResidentMiB, first.Descriptors, first.Threads);
  std::printf("kestrune-cli before the first end:  %.1f MiB resident, %d descriptors, "
              "%d threads\n",
              last.ResidentMiB, last.Descriptors, last.Threads);
  std::printf("growth: %+.2f MiB resident, %+d descriptors, %+d threads; exit code %d\n",
              last.ResidentMiB - first.ResidentMiB, last.Descriptors - first.Descriptors,
              last.Threads - first.Threads, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  fs::remove_all(dir);
  return records == runs && WIFEXITED(status) ? 0 : 1;
}
