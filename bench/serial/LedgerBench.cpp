// The cost of serial values per unit: one claim and one settle, as a
// channel makes them around each unit, on the station's SQLite database
// and on leases from a private PostgreSQL server. One channel alone, then
// eight at once, back to back and then paced by 100 ms between a channel's
// units. Prints the mean, the 99th percentile and the worst time a
// channel waits, the wall time per unit and the processor time this
// program spent per unit (every thread: the channels' and the ledger's
// own; a server's processes are not counted); then where the time went, for
// every unit and for the slowest 1%: queued behind the batch under way,
// waiting for the database's write lock, writing the batch, and after it
// (claims waiting for the disk, the reserve's top-up, being woken), with
// the load average at the start of each case.
//
//   bench_serial [units per channel]   (default 500)
#include "serial/PgLeaseLedger.h"
#include "serial/SqliteLedger.h"
#include "tests/records/PgServer.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kestrune::serial;
using Clock = std::chrono::steady_clock;

namespace {

PoolRequest Pool() {
  PoolRequest request;
  request.Pool = "sn:counter:0";
  request.Field = "sn";
  request.Capacity = 100'000'000;
  request.TextAt = [](uint64_t position) {
    std::string digits = std::to_string(position);
    return std::string(10 - digits.size(), '0') + digits;
  };
  return request;
}

// Between a paced channel's units: far less than any real unit takes.
constexpr std::chrono::milliseconds Gap{100};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One unit's claim and settle, leg by leg.
struct UnitLegs {
  double Total = 0, Queued = 0, WriteLock = 0, Written = 0, After = 0;
  int Durable = 0;
  size_t Batches = 0, InBatches = 0;
};
thread_local UnitLegs CurrentUnit;

void Observe(const CallTiming &timing) {
  CurrentUnit.Queued += Ms(timing.Queued);
  CurrentUnit.WriteLock += Ms(timing.WriteLock);
  CurrentUnit.Written += Ms(timing.Written);
  CurrentUnit.After += Ms(timing.After);
  CurrentUnit.Durable += timing.Durable ? 1 : 0;
  CurrentUnit.Batches += 1;
  CurrentUnit.InBatches += timing.BatchSize;
}

// User and system time of every thread of this program so far.
double ProcessorMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void PrintLegs(const char *what, const std::vector<UnitLegs> &units) {
  if (units.empty())
    return;
  UnitLegs sum;
  for (const UnitLegs &u : units) {
    sum.Total += u.Total;
    sum.Queued += u.Queued;
    sum.WriteLock += u.WriteLock;
    sum.Written += u.Written;
    sum.After += u.After;
    sum.Durable += u.Durable;
    sum.Batches += u.Batches;
    sum.InBatches += u.InBatches;
  }
  const double n = double(units.size());
  std::printf("    %-14s mean %7.3f ms = queued %7.3f + write lock %7.3f + writing %7.3f + "
              "after %7.3f; claims waiting for the disk %d, calls per batch %.2f\n",
              what, sum.Total / n, sum.Queued / n, sum.WriteLock / n, sum.Written / n,
              sum.After / n, sum.Durable, sum.Batches ? double(sum.InBatches) / sum.Batches : 0.0);
}

// Returns false when a claim or a settle failed.
// gap: the time between a channel's units (its flashing stands in by a
// sleep); zero for units back to back.
bool Measure(const char *name, SerialLedger &ledger, int channels, int units,
             std::chrono::milliseconds gap = std::chrono::milliseconds(0)) {
  const PoolRequest pool = Pool();
  const double load = LoadAverage();
  std::mutex mutex;
  std::vector<double> waits;
  std::vector<UnitLegs> legs;
  bool failed = false;
  const double processorBefore = ProcessorMs();
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int channel = 1; channel <= channels; ++channel)
    threads.emplace_back([&, channel] {
      std::vector<double> mine;
      std::vector<UnitLegs> myLegs;
      for (int unit = 0; unit < units; ++unit) {
        if (gap.count())
          std::this_thread::sleep_for(gap);
        CurrentUnit = {};
        const Clock::time_point begin = Clock::now();
        Claim claim;
        std::string error;
        bool ok = ledger.Claim({pool}, {"bench", channel}, claim, error) &&
                  ledger.Settle(claim, unit % 20 == 0 ? ClaimEnd::Spent : ClaimEnd::Passed, error);
        mine.push_back(Ms(Clock::now() - begin));
        CurrentUnit.Total = mine.back();
        myLegs.push_back(CurrentUnit);
        if (!ok) {
          std::lock_guard lock(mutex);
          if (!failed)
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
          failed = true;
          return;
        }
      }
      std::lock_guard lock(mutex);
      waits.insert(waits.end(), mine.begin(), mine.end());
      legs.insert(legs.end(), myLegs.begin(), myLegs.end());
    });
  for (std::thread &t : threads)
    t.join();
  const double wall = Ms(Clock::now() - start);
  const double processor = ProcessorMs() - processorBefore;
  if (failed || waits.empty())
    return false;
  std::sort(waits.begin(), waits.end());
  double mean = 0;
  for (double w : waits)
    mean += w;
  mean /= double(waits.size());
  const double p99 = waits[std::min(waits.size() - 1, waits.size() * 99 / 100)];
  const double median = waits[waits.size() / 2];
  std::printf("%-26s %d channel%s %s  %5zu units  wait mean %6.3f ms  median %6.3f ms  "
              "p99 %7.3f ms  worst %7.3f ms  wall per unit %6.3f ms  processor per unit %6.3f ms  "
              "(load average %.2f)\n",
              name, channels, channels == 1 ? " " : "s", gap.count() ? "paced" : "back ",
              waits.size(), mean, median, p99, waits.back(),
              gap.count() ? 0.0 : wall / double(waits.size()), processor / double(waits.size()),
              load);
  std::vector<UnitLegs> slowest;
  for (const UnitLegs &u : legs)
    if (u.Total >= p99)
      slowest.push_back(u);
  PrintLegs("every unit", legs);
  PrintLegs("slowest 1%", slowest);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    return 1;
  const std::filesystem::path dir = pattern;
  bool ok = true;
  {
    std::string why;
    auto ledger = SqliteLedger::Open((dir / "station.sqlite").string(), why);
    if (!ledger) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;
    }
    ledger->ObserveCalls(Observe);
    ok = Measure("SQLite, station alone", *ledger, 1, units) && ok;
    ok = Measure("SQLite, station alone", *ledger, 8, units) && ok;
    ok = Measure("SQLite, station alone", *ledger, 8, units / 4, Gap) && ok;
  }
  kestrune::records::test::PgServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "no PostgreSQL server: %s\n", server.Error().c_str());
  } else {
    LedgerPlace place;
    place.StationDatabase = (dir / "line.sqlite").string();
    place.ServerUrl = server.Url();
    place.Station = "bench";
    place.LeaseSize = 1000;
    place.Notice = [](const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    std::string why;
    auto ledger = PgLeaseLedger::Open(place, why);
    if (!ledger) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;
    }
    ledger->ObserveCalls(Observe);
    ok = Measure("PostgreSQL leases of 1000", *ledger, 1, units) && ok;
    ok = Measure("PostgreSQL leases of 1000", *ledger, 8, units) && ok;
    ok = Measure("PostgreSQL leases of 1000", *ledger, 8, units / 4, Gap) && ok;
    const Clock::time_point begin = Clock::now();
    const bool reported = ledger->WaitReported(std::chrono::seconds(30));
    std::printf("all settled values on the server %s %.0f ms after the last\n",
                reported ? "within" : "NOT within", Ms(Clock::now() - begin));
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return ok ? 0 : 1;
}
