// Run records under load: 10,000 records handed to the recorder as the
// channels hand them over, written to SQLite (alone, then with a private
// PostgreSQL server taking them as well). Prints the time a hand-over costs
// the channel (mean, 99th percentile, worst), the time per record until
// written (and until on the server), and the database's size. Then the
// wait a channel has before it shows its outcome, its record committed
// (one channel alone, and eight ending their runs together).
//
//   bench_records [records]   (default 10000)
#include "records/Recorder.h"
#include "records/PgForwarder.h"
#include "records/RecordTime.h"
#include "records/Uuid.h"
#include "tests/records/PgServer.h"

#include <pqxx/pqxx>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace kestrune;
using namespace kestrune::records;
using Clock = std::chrono::steady_clock;

namespace {

RunReport SampleReport(int i) {
  RunReport r;
  r.Channel = 1 + i % 8;
  r.Port = "/dev/ttyUSB" + std::to_string(i % 8);
  r.PortOpened = true;
  r.Started = RunReport::Clock::now() - std::chrono::seconds(40);
  r.Ended = RunReport::Clock::now();
  r.LineRate = 921600;
  r.Identification = {0x01, 0x00, 0x7E, 0x22, 0x10, 0x22, 0x00, 0x22, 0x01, 0x22};
  r.Outcome = i % 50 == 0 ? RunOutcome::Failed : RunOutcome::Passed;
  r.FinalStatus = i % 50 == 0 ? "ERROR Flash Erase Fail !! (0)" : "다운로드 완료 !!!!!!!!!!!!!!!!!";
  r.ErrorCode = i % 50 == 0 ? 31 : 0;
  r.BytesSent = 16u << 20;
  return r;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char *name, std::vector<double> handOver, Clock::duration written,
            Clock::duration sent, int count, const std::string &path) {
  std::sort(handOver.begin(), handOver.end());
  double mean = 0;
  for (double v : handOver)
    mean += v;
  mean /= double(handOver.size());
  std::error_code ignored;
  auto size = std::filesystem::file_size(path, ignored);
  std::printf("%s\n", name);
  std::printf("  hand-over to the recorder: mean %.4f ms, p99 %.4f ms, worst %.4f ms\n", mean,
              handOver[handOver.size() * 99 / 100], handOver.back());
  std::printf("  written to SQLite: %.3f s in all, %.3f ms per record\n",
              Ms(written) / 1000, Ms(written) / count);
  if (sent != Clock::duration{})
    std::printf("  on the server: %.3f s in all, %.3f ms per record\n", Ms(sent) / 1000,
                Ms(sent) / count);
  // Measured after the recorder closed: the write-ahead log is folded in.
  std::printf("  database: %.2f MiB (%.0f bytes per record)\n", double(size) / 1048576,
              double(size) / count);
}

void RunOnce(const char *name, const std::string &target, const std::string &path, int count,
             const std::string &url) {
  std::vector<double> handOver;
  handOver.reserve(size_t(count));
  auto start = Clock::now();
  Clock::duration written{}, sent{};
  {
    Recorder recorder({target, "bench", [](const std::string &t) {
                         std::fprintf(stderr, "notice: %s\n", t.c_str());
                       }});
    for (int i = 0; i < count; ++i) {
      RunReport report = SampleReport(i);
      auto before = Clock::now();
      recorder.Submit(report);
      handOver.push_back(Ms(Clock::now() - before));
    }
    recorder.WaitUntilWritten();
    written = Clock::now() - start;
    if (!url.empty()) {
      pqxx::connection connection(url);
      for (;;) {
        pqxx::nontransaction work(connection);
        auto rows = work.exec("SELECT count(*) FROM kestrune_records");
        if (rows[0][0].as<int>() >= count)
          break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      sent = Clock::now() - start;
    }
    recorder.Close();
  }
  Report(name, handOver, written, sent, count, path);
}

// Each of channels threads keeps count / channels records, one at a time,
// as a channel does before it shows each outcome.
void RunKept(const std::string &path, int count, int channels) {
  auto waits = std::vector<std::vector<double>>(size_t(channels));
  {
    Recorder recorder({path, "bench", [](const std::string &t) {
                         std::fprintf(stderr, "notice: %s\n", t.c_str());
                       }});
    std::vector<std::thread> threads;
    for (int c = 0; c < channels; ++c)
      threads.emplace_back([&, c] {
        for (int i = c; i < count; i += channels) {
          RunReport report = SampleReport(i);
          auto before = Clock::now();
          recorder.Keep(report);
          waits[size_t(c)].push_back(Ms(Clock::now() - before));
        }
      });
    for (std::thread &t : threads)
      t.join();
  }
  std::vector<double> all;
  for (const auto &w : waits)
    all.insert(all.end(), w.begin(), w.end());
  std::sort(all.begin(), all.end());
  double mean = 0;
  for (double v : all)
    mean += v;
  mean /= double(all.size());
  std::printf("kept before the outcome shows, %d channel%s: mean %.3f ms, median %.3f ms, "
              "p99 %.3f ms, worst %.3f ms\n",
              channels, channels == 1 ? "" : "s", mean, all[all.size() / 2],
              all[all.size() * 99 / 100], all.back());
}

} // namespace

int main(int argc, char **argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    return 1;
  const std::filesystem::path dir = pattern;
  std::printf("%d records\n", count);

  const std::string alone = (dir / "alone.sqlite").string();
  RunOnce("SQLite alone", alone, alone, count, "");
  RunKept((dir / "kept1.sqlite").string(), std::min(count, 2000), 1);
  RunKept((dir / "kept8.sqlite").string(), std::min(count, 2000), 8);

  test::PgServer server;
  if (!server.Start()) {
    std::printf("SQLite + PostgreSQL: skipped (%s)\n", server.Error().c_str());
  } else {
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const std::string local = (dir / "data/Orv/Kestrune/records.sqlite").string();
    RunOnce("SQLite + PostgreSQL", server.Url(), local, count, server.Url());
  }
  std::filesystem::remove_all(dir);
  return 0;
}
