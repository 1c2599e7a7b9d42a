// A line's server that holds the program up: a table locked by another
// session, every server process stopped, a listing asked of a server that
// does not answer, and a listing of many rows. Each test starts its own
// server and the command-line program.
#include "handset/VirtualHandset.h"
#include "records/BoundedConnection.h"
#include "records/PgRecords.h"
#include "records/Recorder.h"
#include "records/SilenceWatch.h"
#include "tests/records/PgForwardFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pqxx/pqxx>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace kestrune::records;
using namespace kestrune::records::test;
using namespace std::chrono;
using kestrune::handset::HandsetOptions;
using kestrune::handset::RamModel;
using kestrune::handset::VirtualHandset;

namespace {

using HungServer = PgForward;

size_t CountOf(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Waits until the output holds part; false after timeout.
bool WaitForOutput(const std::function<std::string()> &output, const std::string &part,
                   seconds timeout) {
  for (auto until = steady_clock::now() + timeout; steady_clock::now() < until;) {
    if (output().find(part) != std::string::npos)
      return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

TEST_F(HungServer, StopRequestAfterTheRunsEndsTheWaitOnALockedTableAtOnce) {
  {
    pqxx::connection setup(Url);
    EnsurePgTable(setup);
  }
  // Another session holds the table: the program's sending waits on it.
  pqxx::connection holder(Url);
  pqxx::work holding(holder);
  holding.exec("LOCK TABLE kestrune_records IN ACCESS EXCLUSIVE MODE");

  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  const std::string image = WriteImage(40000);
  pid_t pid = Spawn({"--json", "--records", Url, "--station", "st-int", "--image", image,
                     handset.DevicePath()},
                    "int.txt");
  auto output = [this] { return Output("int.txt"); };
  ASSERT_TRUE(WaitForOutput(output, "\"event\":\"end\"", seconds(30))) << output();
  // Past the result table, in the wait for the server (3 s at most).
  std::this_thread::sleep_for(milliseconds(600));
  const auto signalled = steady_clock::now();
  ::kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  const auto took = steady_clock::now() - signalled;
  // Ended by the program itself, not by the signal's default.
  ASSERT_TRUE(WIFEXITED(status)) << output();
  EXPECT_EQ(WEXITSTATUS(status), 0) << output();
  EXPECT_LT(took, milliseconds(1000)) << duration_cast<milliseconds>(took).count() << " ms";
  EXPECT_NE(output().find("kestrune-cli: 1 record not sent to the server yet; they are kept in " +
                          LocalPath()),
            std::string::npos)
      << output();
  EXPECT_EQ(LocalPending(), 1);
  holding.abort();
}

TEST_F(HungServer, EveryServerProcessStoppedHoldsTheExitNoLongerThanItsDeadline) {
  VirtualHandset handset(HandsetOptions{.Model = RamModel::Host, .SwapAfterRunMs = 300});
  ASSERT_TRUE(handset.StartOnPty());
  const std::string image = WriteImage(40000);
  constexpr int Runs = 4;
  pid_t pid = Spawn({"--json", "--repeat", std::to_string(Runs), "--swap-silence", "0.1",
                     "--records", Url, "--station", "st-hung", "--image", image,
                     handset.DevicePath()},
                    "hung.txt");
  auto output = [this] { return Output("hung.txt"); };
  // The first record reached the server: the program holds a connection.
  for (auto until = steady_clock::now() + seconds(30);
       ServerCount() < 1 && steady_clock::now() < until;)
    std::this_thread::sleep_for(milliseconds(20));
  ASSERT_GE(ServerCount(), 1) << output();
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  ASSERT_TRUE(WaitForOutput(output, "\"event\":\"end\"", seconds(60))) << output();
  const auto ended = steady_clock::now();
  const int exit = Wait(pid);
  const auto took = steady_clock::now() - ended;
  ASSERT_TRUE(Server->Resume()) << Server->Error();
  EXPECT_EQ(exit, 0) << output();
  // The documented deadline of 3 s, plus 2.
  EXPECT_LT(took, seconds(5)) << duration_cast<milliseconds>(took).count() << " ms";
  EXPECT_EQ(CountOf(output(), "\"event\":\"outcome\""), size_t(Runs)) << output();
  const int unsent = LocalPending();
  EXPECT_GT(unsent, 0);
  EXPECT_NE(output().find(std::to_string(unsent) + (unsent == 1 ? " record" : " records") +
                          " not sent to the server yet"),
            std::string::npos)
      << output();

  // The next start sends what stayed; the server keeps one of each.
  ASSERT_EQ(Wait(Spawn({"records", "--records", Url, "--format", "csv"}, "next.txt")), 0)
      << Output("next.txt");
  EXPECT_EQ(LocalPending(), 0);
  EXPECT_EQ(ServerCount("station = 'st-hung'"), Runs);
  EXPECT_EQ(CountOf(Output("next.txt"), "\r\n"), size_t(Runs) + 4) << Output("next.txt");
}

TEST_F(HungServer, ListingFromAServerThatDoesNotAnswerFallsBackToTheStationsOwnRecords) {
  {
    // Two records on this station, both sent.
    Recorder recorder({Url, "", {}});
    recorder.Submit(SampleRecord("st-own", 1, "2026-12-08T05:00:00.000Z"));
    recorder.Submit(SampleRecord("st-own", 2, "2026-12-08T05:00:01.000Z"));
    recorder.Close(seconds(20));
  }
  ASSERT_EQ(ServerCount(), 2);
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  // Stopped: the network connection is taken, nothing answers it. Then an
  // address nobody listens on.
  for (const std::string &url :
       {Url, std::string("postgresql://kestrune@127.0.0.1:1/postgres")}) {
    const auto before = steady_clock::now();
    const int exit = Wait(Spawn({"records", "--records", url, "--format", "csv"}, "list.txt"));
    const auto took = steady_clock::now() - before;
    const std::string text = Output("list.txt");
    EXPECT_EQ(exit, 1) << url << ": " << text;
    EXPECT_LT(took, seconds(8)) << url << ": " << duration_cast<milliseconds>(took).count();
    EXPECT_NE(text.find("kestrune-cli: cannot read records from the server: "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("; listed instead: this station's own records from " + LocalPath()),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\r\nst-own,1,1,0,0,100.0%\r\nst-own,2,1,0,0,100.0%\r\n"),
              std::string::npos)
        << text;
  }
  ASSERT_TRUE(Server->Resume()) << Server->Error();
}

TEST_F(HungServer, ServerListingTakesTheSameMemoryForManyRowsInEveryFormat) {
  {
    pqxx::connection setup(Url);
    EnsurePgTable(setup);
  }
  auto addRows = [this](int count, const std::string &station) {
    PgScalar(Url, "INSERT INTO kestrune_records (id, started, ended, station, channel, port, "
                  "final_status, outcome) SELECT gen_random_uuid(), "
                  "'2026-12-08T05:00:00Z'::timestamptz + i * interval '1 ms', "
                  "'2026-12-08T05:00:01Z', '" + station + "', 1 + i % 8, '/dev/ttyUSB0', "
                  "repeat('x', 800), CASE WHEN i % 10 = 0 THEN 'failed' ELSE 'passed' END "
                  "FROM generate_series(1, " + std::to_string(count) + ") AS i");
  };
  // Twenty times as many rows of about 1 kB besides: 40 MB more if held.
  addRows(2000, "few");
  addRows(38000, "many");
  // The program's peak memory listing the line's records as format.
  auto peakKiB = [this](const std::string &format, const std::string &station,
                        const std::string &outName) {
    std::vector<std::string> args{"records", "--records", Url, "--format", format};
    if (!station.empty())
      args.insert(args.end(), {"--station", station});
    pid_t pid = Spawn(args, outName);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output(outName);
    return usage.ru_maxrss;
  };
  for (const std::string format : {"json", "csv", "table"}) {
    const long few = peakKiB(format, "few", "few." + format);
    const long all = peakKiB(format, "", "all." + format);
    EXPECT_LT(all - few, 12 * 1024) << format << ": " << few << " KiB, then " << all << " KiB";
  }
  auto json = nlohmann::json::parse(Output("all.json"));
  ASSERT_EQ(json["records"].size(), 40000u);
  // Newest first across the cursor's chunks.
  EXPECT_EQ(json["records"][0]["station"], "many");
  EXPECT_GT(json["records"][0]["started"], json["records"][39999]["started"]);
  EXPECT_EQ(nlohmann::json::parse(Output("few.json"))["records"].size(), 2000u);
  // Header, rows, the blank line, the summary's header and one line per
  // station and channel.
  EXPECT_EQ(CountOf(Output("all.csv"), "\r\n"), 40000u + 3 + 16);
  EXPECT_NE(Output("all.table").find("many channel 3: passed"), std::string::npos);
}

TEST_F(HungServer, ConnectingToAStoppedServerEndsAtOnceWhenCutAndByItsLimitOtherwise) {
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  ServerCut cut;
  std::thread cutter([&cut] {
    std::this_thread::sleep_for(milliseconds(300));
    cut.Cut();
  });
  auto before = steady_clock::now();
  EXPECT_THROW(BoundedConnection(WithClientLimits(Url), &cut), pqxx::broken_connection);
  auto took = steady_clock::now() - before;
  cutter.join();
  EXPECT_LT(took, milliseconds(1000)) << duration_cast<milliseconds>(took).count() << " ms";

  // Not cut: the address's connect_timeout holds for the whole attempt.
  before = steady_clock::now();
  try {
    BoundedConnection connection(WithClientLimits(Url + "?connect_timeout=2"), nullptr);
    ADD_FAILURE() << "a stopped server was connected to";
  } catch (const pqxx::broken_connection &failure) {
    EXPECT_NE(std::string(failure.what()).find("did not answer within 2 s"), std::string::npos)
        << failure.what();
  }
  took = steady_clock::now() - before;
  EXPECT_GE(took, milliseconds(1900));
  EXPECT_LT(took, milliseconds(3500)) << duration_cast<milliseconds>(took).count() << " ms";
  ASSERT_TRUE(Server->Resume()) << Server->Error();
}

TEST_F(HungServer, ListingFromAServerThatStopsAfterConnectingEndsByTheSilenceLimit) {
  ServerCut cut;
  BoundedConnection connection(WithClientLimits(Url), &cut);
  EnsurePgTable(connection);
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  SilenceWatch watch(cut, milliseconds(1000));
  const auto before = steady_clock::now();
  EXPECT_ANY_THROW(ForEachPg(connection, {}, [](const Record &) {}));
  const auto took = steady_clock::now() - before;
  EXPECT_TRUE(watch.Cut());
  EXPECT_LT(took, milliseconds(2500)) << duration_cast<milliseconds>(took).count() << " ms";
  cut.SetSocket(-1);
  ASSERT_TRUE(Server->Resume()) << Server->Error();
}

} // namespace
