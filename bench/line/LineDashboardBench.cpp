// The dashboard under a line's load: a private server holding a million
// records of 50 stations of 8 channels over 30 days, those 50 stations
// writing their state every two seconds through the stations' own writer,
// and kestrune-line's server in this process. Prints the page's first load
// (the page, its script and style, and the four answers it asks for at
// once) and each API answer's median and 95th percentile.
//
// bench_line_dashboard [RECORDS] [REQUESTS]   (default 1000000 and 200)
#include "line/LineDatabase.h"
#include "line/LineSchema.h"
#include "line/LineServer.h"
#include "records/PgRecords.h"
#include "records/PgStationState.h"
#include "records/StateWriter.h"
#include "tests/records/PgServer.h"

#include <httplib.h>
#include <pqxx/pqxx>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace kestrune;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Stations = 50;
constexpr int Channels = 8;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

// Records as a line makes them: 3 % failed with one of five texts, some
// units flashed again with their values, every unit its own serial value.
void Fill(const std::string &url, long records) {
  pqxx::connection connection(url);
  records::EnsurePgTable(connection);
  pqxx::nontransaction work(connection);
  work.exec("SET synchronous_commit = off");
  const long chunk = 100000;
  for (long first = 0; first < records; first += chunk) {
    const long last = std::min(records, first + chunk) - 1;
    work.exec_params(
        "INSERT INTO kestrune_records (id, started, ended, station, channel, port, image_path, "
        "image_size, image_sha256, sent_sha256, outcome, final_status, error_code, unit, serials) "
        "SELECT gen_random_uuid(), t, t + interval '40 seconds', 'station-' || lpad((i % 50)::text, 2, '0'), "
        "1 + (i / 50) % 8, '/dev/ttyUSB' || ((i / 50) % 8), '/srv/images/phone.bif', 1048576, "
        "repeat('a', 64), repeat('a', 64), "
        "CASE WHEN i % 33 = 0 THEN 'failed' ELSE 'passed' END, "
        "CASE WHEN i % 33 <> 0 THEN '다운로드 완료 !!!!!!!!!!!!!!!!!' "
        "WHEN i % 5 = 0 THEN 'ERROR Flash Erase Fail !! (0)' "
        "WHEN i % 5 = 1 THEN 'ERROR FLASH programming error (C:1, S:0x000000A0) (0)' "
        "WHEN i % 5 = 2 THEN 'COMM Closed (31)' WHEN i % 5 = 3 THEN 'ERROR Verify failed (44)' "
        "ELSE 'ERROR Device not supported by RAM program (1200)' END, "
        "CASE WHEN i % 33 = 0 THEN 31 ELSE 0 END, i % 97 <> 0, "
        "json_build_object('sn', lpad((CASE WHEN i % 41 = 0 THEN i - 1 ELSE i END)::text, 10, '0')) "
        "FROM (SELECT i, now() - (($2::bigint - i) * interval '2.592 seconds') AS t "
        "FROM generate_series($1::bigint, $3::bigint) AS i) AS s",
        first, records, last);
    std::fprintf(stderr, "\r  %ld records", last + 1);
  }
  std::fprintf(stderr, "\n");
  work.exec(line::DashboardIndexSql());
  work.exec("ANALYZE kestrune_records");
}

} // namespace

int Main(int argc, char **argv) {
  const long recordCount = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int requests = argc > 2 ? std::atoi(argv[2]) : 200;
  records::test::PgServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "cannot start the server: %s\n", server.Error().c_str());
    return 1;
  }
  const std::string url = server.Url();
  auto filled = Clock::now();
  Fill(url, recordCount);
  std::printf("records: %ld, put on the server in %.1f s\n", recordCount,
              Ms(Clock::now() - filled) / 1000);

  // 50 stations, their channels' state changing all the time.
  std::vector<std::unique_ptr<records::StationStateBoard>> boards;
  std::vector<std::unique_ptr<records::StateWriter>> writers;
  for (int s = 0; s < Stations; ++s) {
    boards.push_back(std::make_unique<records::StationStateBoard>());
    char name[32];
    std::snprintf(name, sizeof name, "station-%02d", s);
    writers.push_back(std::make_unique<records::StateWriter>(url, name, *boards.back(),
                                                             [](const std::string &t) {
      std::fprintf(stderr, "state writer: %s\n", t.c_str());
    }));
  }
  std::atomic<bool> running{true};
  std::thread changer([&] {
    for (int tick = 0; running; ++tick) {
      for (int s = 0; s < Stations; ++s) {
        std::vector<records::ChannelState> channels;
        for (int c = 1; c <= Channels; ++c)
          channels.push_back({c, "/dev/ttyUSB" + std::to_string(c - 1), "programming",
                              double((tick + c) % 100), "sn=" + std::to_string(tick),
                              "passed", "Sending segment 12", std::string(64, 'a'), ""});
        boards[s]->Publish(std::move(channels));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  line::LineDatabase database(url);
  line::LineServer http(database, {"127.0.0.1", 0, "", std::chrono::seconds(10), 8});
  std::string why;
  if (!http.Bind(why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  std::thread serving([&] { http.Serve(); });
  // Everything ends on the way out, also when an answer fails.
  struct Ending {
    std::function<void()> Run;
    ~Ending() { Run(); }
  } ending{[&] {
    running = false;
    if (changer.joinable())
      changer.join();
    for (auto &w : writers)
      w->Stop();
    http.Stop();
    if (serving.joinable())
      serving.join();
  }};
  std::this_thread::sleep_for(std::chrono::seconds(3)); // every station has written

  auto get = [&](const std::string &path) {
    httplib::Client client("127.0.0.1", http.BoundPort());
    client.set_read_timeout(120, 0); // every record counted takes its time
    auto result = client.Get(path.c_str());
    if (!result || result->status != 200) {
      // Thrown, not exited: the server is stopped on the way out.
      throw std::runtime_error("GET " + path + " failed (" +
                               std::to_string(result ? result->status : 0) + ")");
    }
    return result->body.size();
  };
  {
    const std::string stations = [&] {
      httplib::Client client("127.0.0.1", http.BoundPort());
      return client.Get("/api/stations")->body;
    }();
    std::printf("stations answer: %zu bytes for %d stations\n", stations.size(), Stations);
  }

  // The page's first load: its files, then the four answers together, as
  // the browser asks for them.
  std::vector<double> loads;
  for (int i = 0; i < 20; ++i) {
    const auto start = Clock::now();
    get("/");
    get("/app.js");
    get("/style.css");
    std::vector<std::future<size_t>> answers;
    for (const char *path : {"/api/stations", "/api/yield", "/api/failures", "/api/hourly"})
      answers.push_back(std::async(std::launch::async, get, std::string(path)));
    for (auto &a : answers)
      a.get();
    loads.push_back(Ms(Clock::now() - start));
  }
  std::printf("page first load (20 loads): median %.1f ms, 95th percentile %.1f ms, "
              "slowest %.1f ms\n",
              Percentile(loads, 0.5), Percentile(loads, 0.95), Percentile(loads, 1.0));

  const std::vector<std::string> paths = {
      "/api/stations", "/api/yield", "/api/failures", "/api/hourly",
      "/api/yield?station=station-07", "/api/search?q=0000500000",
      "/api/yield?from=2026-01-01", "/api/failures?from=2026-01-01"};
  std::printf("%-32s %10s %10s %10s\n", "answer", "median ms", "95th ms", "bytes");
  for (const std::string &path : paths) {
    std::vector<double> times;
    size_t bytes = 0;
    const int n = path.find("2026-01-01") != std::string::npos ? std::max(10, requests / 10)
                                                               : requests;
    for (int i = 0; i < n; ++i) {
      const auto start = Clock::now();
      bytes = get(path);
      times.push_back(Ms(Clock::now() - start));
    }
    std::printf("%-32s %10.1f %10.1f %10zu\n", path.c_str(), Percentile(times, 0.5),
                Percentile(times, 0.95), bytes);
  }
  uint64_t writes = 0;
  for (auto &w : writers)
    writes += w->Writes();
  std::printf("state writes committed meanwhile: %llu (50 stations, every 2 s)\n",
              static_cast<unsigned long long>(writes));
  return 0;
}

int main(int argc, char **argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception &failure) {
    std::fprintf(stderr, "bench_line_dashboard: %s\n", failure.what());
    return 1;
  }
}
