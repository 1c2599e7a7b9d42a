// kestrune-cli job status and job release: the places of a job's count of
// units left by programs that ended are shown, and given back by the
// supervisor, in the station's database and on the line's server; a place
// of a program still running is never given back.
#include "handset/VirtualHandset.h"
#include "image/ImageDigest.h"
#include "tests/cli/CliProcess.h"
#include "tests/records/PgServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kestrune::records::test::PgScalar;
using kestrune::records::test::PgServer;
using nlohmann::json;

namespace {

struct Result {
  int Exit = -1;
  std::string Out; // standard output and error together
};

// A process id no program has now: a child that has ended.
int64_t EndedProcess() {
  pid_t child = fork();
  if (child == 0)
    _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

class JobPlaces : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-cli-places-XXXXXX";
    Directory = ::mkdtemp(pattern);
    const std::string image(2 * 32768 + 17, 'x');
    std::ofstream(Directory / "image.bin", std::ios::binary) << image;
    Document = {{"name", "fw-line-a"},
                {"version", "1"},
                {"image",
                 {{"path", "image.bin"},
                  {"sha256", kestrune::Sha256Hex(reinterpret_cast<const uint8_t *>(image.data()),
                                                 image.size())}}},
                {"units", 5},
                {"records", Path("station.sqlite")},
                {"station", "st-a"}};
  }
  void TearDown() override { fs::remove_all(Directory); }

  std::string Path(const std::string &name) const { return (Directory / name).string(); }
  std::string Job() {
    std::ofstream(Directory / "job.json") << Document.dump();
    return Path("job.json");
  }
  Result Run(const std::vector<std::string> &args) {
    const std::string out = Path("out");
    pid_t pid = kestrune::testing::StartCli(args, out, Path("data"));
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    std::stringstream text;
    text << std::ifstream(out).rdbuf();
    r.Out = text.str();
    return r;
  }
  static std::string Status(uint64_t built, uint64_t underWay, uint64_t ended, uint64_t here,
                            uint64_t left, const std::string &station = "st-a") {
    return "Job fw-line-a 1: 5 units\n  built:                   " + std::to_string(built) +
           "\n  under way:               " + std::to_string(underWay) +
           "\n  held by ended programs:  " + std::to_string(ended) + " (" +
           std::to_string(here) + " of station " + station +
           ")\n  left:                    " + std::to_string(left) + "\n";
  }

  fs::path Directory;
  json Document;
};

void Exec(const std::string &path, const std::string &sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char *error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string Row(const std::string &state, const std::string &station, int64_t process,
                const std::string &table = "job_units") {
  return "INSERT INTO " + table +
         " (job_name, job_version, state, station, process, channel, at) VALUES ('fw-line-a', "
         "'1', '" + state + "', '" + station + "', " + std::to_string(process) +
         ", 1, '2026-12-09T06:00:00Z');";
}

} // namespace

TEST_F(JobPlaces, TheStationsDatabaseShowsAndGivesBackOnlyThePlacesOfEndedPrograms) {
  const std::string job = Job();
  Result empty = Run({"job", "status", "--job", job});
  ASSERT_EQ(empty.Exit, 0) << empty.Out;
  EXPECT_EQ(empty.Out, Status(0, 0, 0, 0, 5));

  const std::string db = Path("station.sqlite");
  Exec(db, Row("passed", "st-a", 1) + Row("flight", "st-a", EndedProcess()) +
               Row("flight", "st-a", getpid()) + Row("flight", "st-b", EndedProcess()));
  // The ended program's place is found and counted as built; this test's
  // own place is under way, as is the other station's, which only its own
  // machine can tell.
  Result status = Run({"job", "status", "--job", job});
  ASSERT_EQ(status.Exit, 0) << status.Out;
  EXPECT_EQ(status.Out, Status(1, 2, 1, 1, 1));

  Result released = Run({"job", "release", "--job", job});
  ASSERT_EQ(released.Exit, 0) << released.Out;
  EXPECT_EQ(released.Out, "Released 1 place of job fw-line-a 1 left by programs of station st-a "
                          "that ended; they may be built again.\n");
  Result after = Run({"job", "status", "--job", job});
  EXPECT_EQ(after.Out, Status(1, 2, 0, 0, 2));
  Result again = Run({"job", "release", "--job", job});
  EXPECT_EQ(again.Exit, 0);
  EXPECT_NE(again.Out.find("Released 0 places"), std::string::npos) << again.Out;

  // --records and --station in place of the job's own.
  fs::copy_file(db, Path("copy.sqlite"));
  Result other = Run({"job", "status", "--job", job, "--records", Path("copy.sqlite"),
                      "--station", "st-c"});
  EXPECT_EQ(other.Out, Status(1, 2, 0, 0, 2, "st-c"));
}

TEST_F(JobPlaces, AJobWithoutACountOrWithoutItsJobIsAnError) {
  Document.erase("units");
  Result none = Run({"job", "status", "--job", Job()});
  EXPECT_EQ(none.Exit, 1);
  EXPECT_EQ(none.Out, "kestrune-cli: job fw-line-a 1 sets no count of units ('units')\n");
  Result missing = Run({"job", "release"});
  EXPECT_EQ(missing.Exit, 2) << missing.Out;
  Result unreadable = Run({"job", "status", "--job", Path("no-such.json")});
  EXPECT_EQ(unreadable.Exit, 1) << unreadable.Out;
}

TEST_F(JobPlaces, OnTheLinesServerAnotherStationHasOnlyThePlacesItFoundEndedGivenBack) {
  if (PgServer::BinDir().empty())
    GTEST_SKIP() << "PostgreSQL server programs are not installed";
  PgServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  const std::string url = server.Url();
  Document["records"] = url;
  const std::string job = Job();
  Result empty = Run({"job", "status", "--job", job});
  ASSERT_EQ(empty.Exit, 0) << empty.Out;
  EXPECT_EQ(empty.Out, Status(0, 0, 0, 0, 5));

  const int64_t ended = EndedProcess();
  const std::string rows = Row("passed", "st-a", 1, "kestrune_job_units") +
                           Row("flight", "st-a", ended, "kestrune_job_units") +
                           Row("flight", "st-a", getpid(), "kestrune_job_units") +
                           Row("lost", "st-b", 7, "kestrune_job_units") +
                           Row("flight", "st-b", ended, "kestrune_job_units");
  EXPECT_EQ(PgScalar(url, rows + "SELECT count(*) FROM kestrune_job_units"), "5");

  // Station st-b, named from this machine: its place under way stays (its
  // program may well run there); the one it found ended is given back.
  Result other = Run({"job", "release", "--job", job, "--station", "st-b"});
  ASSERT_EQ(other.Exit, 0) << other.Out;
  EXPECT_NE(other.Out.find("Released 1 place of job fw-line-a 1 left by programs of station st-b"),
            std::string::npos)
      << other.Out;
  EXPECT_EQ(PgScalar(url, "SELECT count(*) FROM kestrune_job_units WHERE station = 'st-b' AND "
                          "state = 'flight'"),
            "1");
  // This station's own: the ended program's place, never the running one's.
  Result status = Run({"job", "status", "--job", job});
  EXPECT_EQ(status.Out, Status(1, 2, 1, 1, 1));
  Result own = Run({"job", "release", "--job", job});
  ASSERT_EQ(own.Exit, 0) << own.Out;
  EXPECT_NE(own.Out.find("Released 1 place of job fw-line-a 1 left by programs of station st-a"),
            std::string::npos)
      << own.Out;
  EXPECT_EQ(PgScalar(url, "SELECT count(*) FROM kestrune_job_units WHERE process = " +
                              std::to_string(getpid())),
            "1");

  server.Stop();
  Result down = Run({"job", "status", "--job", job});
  EXPECT_EQ(down.Exit, 1);
  EXPECT_NE(down.Out.find("kestrune-cli: job fw-line-a 1: cannot open its count of units: the "
                          "line's server: "),
            std::string::npos)
      << down.Out;
}

namespace {

int Count(const std::string &path, const std::string &sql) {
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_busy_timeout(db, 2000);
  sqlite3_stmt *s = nullptr;
  int value = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    value = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return value;
}

std::string ReadFile(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

template <class Done> bool WaitFor(Done done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

} // namespace

// One program holds the job's only place (its unit's boot ROM stays
// silent); a second waits for a place and asks the database again and
// again. With the database held by a third, Ctrl-C ends the second at once,
// its handset untouched and no place taken.
TEST_F(JobPlaces, CtrlCEndsAnAskThatWaitsForTheDatabaseAndTakesNoPlace) {
  Document["units"] = 1;
  // No records: the count is kept in the station's database all the same,
  // and no record waits for the database once the ask has ended.
  Document["records"] = "none";
  const std::string job = Job();
  const std::string db = Path("data/Orv/Kestrune/records.sqlite");
  kestrune::handset::HandsetOptions silent;
  silent.PowerOnDelayMs = 120000;
  kestrune::handset::VirtualHandset first(silent);
  ASSERT_TRUE(first.StartOnPty());
  pid_t holder = kestrune::testing::StartCli(
      {"--job", job, "--allow-unsigned-jobs", first.DevicePath()}, Path("holder.out"), Path("data"));
  ASSERT_TRUE(WaitFor([&] { return Count(db, "SELECT count(*) FROM job_units") == 1; },
                      std::chrono::seconds(20)))
      << ReadFile(Path("holder.out"));

  kestrune::handset::VirtualHandset second;
  ASSERT_TRUE(second.StartOnPty());
  pid_t asker = kestrune::testing::StartCli(
      {"--job", job, "--allow-unsigned-jobs", second.DevicePath()}, Path("asker.out"), Path("data"));
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Path("asker.out")).find("under way") !=
                                   std::string::npos; },
                      std::chrono::seconds(20)))
      << ReadFile(Path("asker.out"));
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  // The asker's next ask (every 200 ms) now waits for the database.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const auto stopped = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(asker, SIGINT), 0);
  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(asker, &status, WNOHANG) == asker; },
                             std::chrono::seconds(8));
  const auto took = std::chrono::steady_clock::now() - stopped;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  if (!ended) {
    kill(asker, SIGKILL);
    waitpid(asker, &status, 0);
  }
  EXPECT_TRUE(ended);
  EXPECT_LT(took, std::chrono::milliseconds(700))
      << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ReadFile(Path("asker.out"));
  EXPECT_TRUE(second.Runs().empty());
  for (const std::string &line : second.Trace())
    EXPECT_EQ(line.find("host opened the line"), std::string::npos) << line;

  ASSERT_EQ(kill(holder, SIGINT), 0);
  waitpid(holder, &status, 0);
  // The holder's stopped unit gave its place back; the asker took none.
  EXPECT_EQ(Count(db, "SELECT count(*) FROM job_units"), 0);
}
