// The process start on Linux: the fields of /proc/PID/stat read right
// whatever the program's name, and a claim kept by a forked program (only
// Linux forks) under a number that now holds another program.
#include "serial/ProcessAlive.h"
#include "serial/SqliteLedger.h"
#include "tests/serial/LedgerTestSupport.h"
#include "tests/serial/SleepingProgram.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace kestrune::serial;
using namespace kestrune::serial::test;

namespace {

TEST(ProcessAlive, AProgramNameWithSpacesAndParenthesesDoesNotShiftTheFields) {
  SleepingProgram plain;
  SleepingProgram odd("a) 1 2 (b c");
  ASSERT_GT(plain.Pid(), 0);
  ASSERT_GT(odd.Pid(), 0);
  const std::string plainMark = ProcessStartMark(plain.Pid());
  const std::string oddMark = ProcessStartMark(odd.Pid());
  plain.Kill();
  odd.Kill();
  // Both children started within a moment of each other, well after this
  // program: their start ticks are close to each other, never to fields
  // read one place off (a count of pages, a priority).
  ASSERT_FALSE(plainMark.empty());
  ASSERT_FALSE(oddMark.empty());
  const auto ticks = [](const std::string &m) { return std::stoll(m.substr(m.rfind(':') + 1)); };
  EXPECT_EQ(plainMark.substr(0, plainMark.rfind(':')), oddMark.substr(0, oddMark.rfind(':')));
  EXPECT_LE(std::llabs(ticks(oddMark) - ticks(plainMark)), 100) << plainMark << " " << oddMark;
  EXPECT_GE(ticks(oddMark), ticks(ProcessStartMark(CurrentProcessId())));
}

void SetStarted(const std::string &path, pid_t pid, const std::string &started) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  const std::string sql =
      "UPDATE serial_sessions SET started = '" + started + "' WHERE pid = " + std::to_string(pid);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);
}

TEST(ProcessAlive, AClaimKeptUnderANumberNowOfAnotherProgramIsSpent) {
  TempDir dir;
  const std::string path = dir.File("records.sqlite");
  const PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // Forked while this program has no ledger, and so none of its threads.
  pid_t child = fork();
  if (child == 0) {
    std::string why;
    auto ledger = SqliteLedger::Open(path, why);
    Claim claim;
    char c = ledger && ledger->Claim({pool}, {"A", 1}, claim, why) ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  close(ready[0]);
  close(ready[1]);
  std::string why;
  {
    // Its program runs under the number kept: its claim stays open.
    auto ledger = SqliteLedger::Open(path, why);
    ASSERT_TRUE(ledger) << why;
    EXPECT_EQ(ledger->Status({pool})[0].Claimed, 1u);
  }
  // As if that program had ended and its number gone to a later one: the
  // number runs, but not the program that kept the claim.
  SetStarted(path, child, ProcessStartMark(child) + "0");
  auto ledger = SqliteLedger::Open(path, why);
  ASSERT_TRUE(ledger) << why;
  PoolStatus status = ledger->Status({pool})[0];
  EXPECT_EQ(status.Claimed, 0u);
  EXPECT_EQ(status.Spent, 1u);
  EXPECT_GT(status.WrittenOff, 0u);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

} // namespace
