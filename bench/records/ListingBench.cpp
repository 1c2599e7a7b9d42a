// Listing a station's records in constant memory: fills a database with
// records (default 1,000,000), then lists them as JSON, CSV and a table to
// /dev/null, each in a child process, and prints each listing's time and
// the child's peak resident memory. With --server the same records go to a
// private PostgreSQL server, and the listings come from it.
//
//   bench_listing [records] [--server]
#include "records/BoundedConnection.h"
#include "records/PgRecords.h"
#include "records/RecordListing.h"
#include "records/ServerAddress.h"
#include "records/SqliteStore.h"
#include "tests/records/PgServer.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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
    std::ofstream out("/dev/null");
    ListingWriter writer(out, format);
    if (IsServerUrl(path)) {
      try {
        BoundedConnection connection(WithClientLimits(path), nullptr);
        ForEachPg(connection, {}, [&](const Record &r) { writer.Add(r); });
      } catch (const std::exception &failure) {
        std::printf("  %s\n", failure.what());
        _exit(1);
      }
      writer.Finish();
      _exit(0);
    }
    std::string why;
    auto store = SqliteStore::Open(path, why);
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

// Sends every record of the database to the server; false when it cannot.
bool FillServer(const std::string &url, const std::string &path) {
  std::string why;
  auto store = SqliteStore::Open(path, why);
  std::vector<Record> batch;
  const auto start = Clock::now();
  size_t sent = 0;
  try {
    BoundedConnection connection(WithClientLimits(url), nullptr);
    EnsurePgTable(connection);
    auto flush = [&] {
      InsertPg(connection, batch);
      sent += batch.size();
      batch.clear();
    };
    if (!store || !store->ForEach({}, [&](const Record &r) {
          batch.push_back(r);
          if (batch.size() == 1000)
            flush();
        }, why))
      return false;
    flush();
  } catch (const std::exception &failure) {
    std::printf("cannot fill the server: %s\n", failure.what());
    return false;
  }
  std::printf("%zu records sent to the server in %.1f s\n", sent,
              std::chrono::duration<double>(Clock::now() - start).count());
  return true;
}

int main(int argc, char **argv) {
  int count = 1000000;
  bool server = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--server")
      server = true;
    else
      count = std::atoi(argv[i]);
  }
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
  std::string listed = path;
  std::unique_ptr<kestrune::records::test::PgServer> pg;
  if (server) {
    pg = std::make_unique<kestrune::records::test::PgServer>();
    if (!pg->Start()) {
      std::printf("cannot start a server: %s\n", pg->Error().c_str());
      return 1;
    }
    if (!FillServer(pg->Url(), path))
      return 1;
    listed = pg->Url();
  }
  const std::pair<const char *, ListFormat> formats[] = {
      {"json", ListFormat::Json}, {"csv", ListFormat::Csv}, {"table", ListFormat::Table}};
  for (const auto &[name, format] : formats) {
    double seconds = 0;
    double mib = ListInChild(listed, format, seconds);
    std::printf("%-5s listed in %.1f s, peak resident %.1f MiB\n", name, seconds, mib);
  }
  pg.reset();
  std::filesystem::remove_all(pattern);
  return 0;
}
