// A job's count of units on the line's server: two stations building at
// once, with several channels each, never pass more units than the job
// allows between them; a server that cannot be reached lets no unit start.
#include "jobcount/JobCountGate.h"
#include "tests/jobcount/JobCountBuild.h"
#include "tests/records/PgServer.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <pqxx/pqxx>
#include <fstream>

using namespace kestrune;
using namespace kestrune::jobcount;
using namespace kestrune::jobcount::test;
using kestrune::records::test::PgScalar;
using kestrune::records::test::PgServer;
using kestrune::records::test::TempDir;

namespace {

JobKey Key(uint64_t units, const std::string &station) {
  JobKey key;
  key.Name = "fw-line-a";
  key.Version = "1";
  key.Units = units;
  key.Station = station;
  return key;
}

class JobCountPg : public ::testing::Test {
protected:
  void SetUp() override {
    if (PgServer::BinDir().empty())
      GTEST_SKIP() << "PostgreSQL server programs (initdb, pg_ctl under /usr/lib/postgresql) "
                      "are not installed; install the Debian package postgresql";
    Server = std::make_unique<PgServer>();
    ASSERT_TRUE(Server->Start()) << Server->Error();
    Url = Server->Url();
  }
  TempDir Dir;
  std::unique_ptr<PgServer> Server;
  std::string Url;
};

} // namespace

TEST_F(JobCountPg, TwoStationsTogetherNeverPassMoreUnitsThanTheJobAllows) {
  constexpr uint64_t Units = 24;
  std::vector<pid_t> stations;
  for (int s = 0; s < 2; ++s) {
    pid_t child = fork();
    if (child == 0) {
      const JobKey key = Key(Units, "station-" + std::to_string(s));
      std::string why;
      auto store = OpenPgJobUnits(Url, key, why);
      if (!store) {
        std::ofstream(Dir.File("why-" + std::to_string(s))) << why;
        _exit(2);
      }
      JobCountGate gate(key, std::move(store));
      // Both stations build at once, from the same moment.
      std::ofstream(Dir.File("ready-" + std::to_string(s))) << "ready";
      while (!std::filesystem::exists(Dir.File("ready-0")) ||
             !std::filesystem::exists(Dir.File("ready-1")))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      BuildTally tally;
      Build(gate, 3, 4, tally, 1 + 10 * s, 5000);
      std::ofstream(Dir.File("passed-" + std::to_string(s))) << tally.Passed;
      _exit(tally.LastRefusal == "Job fw-line-a: all 24 units built" ? 0 : 1);
    }
    stations.push_back(child);
  }
  uint64_t passed = 0;
  for (int s = 0; s < 2; ++s) {
    int status = 0;
    waitpid(stations[size_t(s)], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "station " << s;
    uint64_t each = 0;
    std::ifstream(Dir.File("passed-" + std::to_string(s))) >> each;
    EXPECT_GT(each, 0u) << "station " << s << " built no unit";
    passed += each;
  }
  EXPECT_EQ(passed, Units);
  EXPECT_EQ(PgScalar(Url, "SELECT count(*) FROM kestrune_job_units WHERE state = 'passed'"),
            std::to_string(Units));
  EXPECT_EQ(PgScalar(Url, "SELECT count(*) FROM kestrune_job_units WHERE state = 'flight'"), "0");
}

TEST_F(JobCountPg, AServerThatCannotBeReachedLetsNoUnitStart) {
  const JobKey key = Key(5, "station-a");
  std::string why;
  auto store = OpenPgJobUnits(Url, key, why);
  ASSERT_TRUE(store) << why;
  JobCountGate gate(key, std::move(store));
  std::string text;
  ASSERT_EQ(gate.Admit(1, text), UnitAdmission::Admitted) << text;
  gate.Finish(1, true);
  Server->Stop();
  EXPECT_EQ(gate.Admit(1, text), UnitAdmission::Refused);
  EXPECT_EQ(text.rfind("Job fw-line-a: cannot count its units, so no unit starts: the line's "
                       "server: ",
                       0),
            0u)
      << text;
  why.clear();
  EXPECT_FALSE(OpenPgJobUnits(Url, key, why));
  EXPECT_FALSE(why.empty());
}

// The server holds the job's places while another station takes one (its
// lock not given back): a stop ends the ask within half a second and takes
// no place, where the server would have made it wait its statement limit.
TEST_F(JobCountPg, AStopEndsTheAskWhileTheServerMakesItWait) {
  const JobKey key = Key(2, "station-a");
  std::string why;
  auto store = OpenPgJobUnits(Url, key, why);
  ASSERT_TRUE(store) << why;
  JobCountGate gate(key, std::move(store));
  std::atomic<bool> stop{false};
  {
    pqxx::connection other(Url);
    pqxx::work holding(other);
    holding.exec("SELECT pg_advisory_xact_lock(hashtext(" + holding.quote("fw-line-a\n1") + "))");
    auto ask = std::async(std::launch::async, [&] {
      std::string text;
      UnitAdmission admission = gate.Admit(1, text, &stop);
      return std::make_pair(admission, text);
    });
    EXPECT_EQ(ask.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    const auto stopped = std::chrono::steady_clock::now();
    stop = true;
    ASSERT_EQ(ask.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(500));
    auto [admission, text] = ask.get();
    EXPECT_EQ(admission, UnitAdmission::Stopped) << text;
    EXPECT_EQ(text, "Job fw-line-a: stopped while asking for a place: no place taken");
  }
  EXPECT_EQ(PgScalar(Url, "SELECT count(*) FROM kestrune_job_units"), "0");
  std::atomic<bool> running{false};
  std::string text;
  EXPECT_EQ(gate.Admit(1, text, &running), UnitAdmission::Admitted) << text;
  EXPECT_EQ(gate.Admit(2, text, &running), UnitAdmission::Admitted) << text;
  EXPECT_EQ(gate.Admit(3, text, &running), UnitAdmission::Wait) << text;
}
