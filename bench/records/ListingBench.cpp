// Listing a station's records in constant memory: fills a database with
// records (default 1,000,000), then lists them as JSON, CSV and a table to
// /dev/null, each in a child process, and prints each listing's time and
// the child's peak resident memory.
//
//   bench_listing [records]
#include "records/RecordListing.h"
#include "records/SqliteStore.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace kestrune::records;
using Clock = std::chrono::steady_clock;

namespace {

Record Sample(int i) {
  Record r;
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", i);
  r.Id = id;
  char started[32];
  std::snprintf(started, sizeof started, "2026-%02d-%02dT%02d:%02d:%02d.000Z", 1 + i / 2678400 % 12,
                1 + i / 86400 % 28, i / 3600 % 24, i / 60 % 60, i % 60);
  r.Started = r.Ended = started;
  r.Station = "station-" + std::to_string(i % 4);
  r.Channel = 1 + i % 8;
  r.Port = "/dev/ttyUSB" + std::to_string(i % 8);
  r.ImagePath = "/srv/images/handset-firmware-v2.s19";
  r.ImageSize = 16u << 20;
  r.ImageSha256 = std::string(64, 'a');
  r.RamProgramSha256 = std::string(64, 'b');
  r.Speed = 921600;
  r.Identification = "01 00 7E 22 10 22 00 22 01 22";
  r.Outcome = i % 50 == 0 ? "failed" : "passed";
  r.FinalStatus = "Download complete";
  r.Seconds = 41.5;
  r.ProgramVersion = "1.0.0";
  return r;
}

// Lists in a child process; returns its peak resident memory in MiB.
double ListInChild(const std::string &path, ListFormat format, double &seconds) {
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::string why;
    auto store = SqliteStore::Open(path, why);
    std::ofstream out("/dev/null");
    ListingWriter writer(out, format);
    if (!store || !store->ForEach({}, [&](const Record &r) { writer.Add(r); }, why))
      _exit(1);
    writer.Finish();
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::printf("  (the listing failed)\n");
  return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-list-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    return 1;
  const std::string path = (std::filesystem::path(pattern) / "records.sqlite").string();
  std::string why;
  {
    auto store = SqliteStore::Open(path, why);
    if (!store) {
      std::printf("cannot open %s: %s\n", path.c_str(), why.c_str());
      return 1;
    }
    auto start = Clock::now();
    std::vector<Record> batch;
    for (int i = 0; i < count; ++i) {
      batch.push_back(Sample(i));
      if (batch.size() == 20000 || i + 1 == count) {
        if (!store->InsertAll(batch, why)) {
          std::printf("cannot fill: %s\n", why.c_str());
          return 1;
        }
        batch.clear();
      }
    }
    std::printf("%d records written in %.1f s, database %.0f MiB\n", count,
                std::chrono::duration<double>(Clock::now() - start).count(),
                double(std::filesystem::file_size(path)) / 1048576.0);
  }
  const std::pair<const char *, ListFormat> formats[] = {
      {"json", ListFormat::Json}, {"csv", ListFormat::Csv}, {"table", ListFormat::Table}};
  for (const auto &[name, format] : formats) {
    double seconds = 0;
    double mib = ListInChild(path, format, seconds);
    std::printf("%-5s listed in %.1f s, peak resident %.1f MiB\n", name, seconds, mib);
  }
  std::filesystem::remove_all(pattern);
  return 0;
}
