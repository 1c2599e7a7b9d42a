// Telling a program that still runs from one that ended, when its process
// number may since have been given to another program: the number with the
// program's start, and the claims such an ended program left are spent.
#include "serial/ProcessAlive.h"
#include "serial/SqliteLedger.h"
#include "tests/serial/LedgerTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace kestrune::serial;
using namespace kestrune::serial::test;

namespace {

// A child that waits until killed; its name set first when given.
pid_t Sleeper(const char *name = nullptr) {
  int ready[2];
  if (pipe(ready) != 0)
    return -1;
  pid_t child = fork();
  if (child == 0) {
    if (name)
      prctl(PR_SET_NAME, name);
    (void)!write(ready[1], "1", 1);
    pause();
    _exit(0);
  }
  char c;
  (void)!read(ready[0], &c, 1);
  close(ready[0]);
  close(ready[1]);
  return child;
}

void Reap(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST(ProcessAlive, ANumberHeldByAProgramStartedAtAnotherTimeIsNotTheOneKept) {
  const int64_t self = CurrentProcessId();
  const std::string mark = ProcessStartMark(self);
  ASSERT_FALSE(mark.empty());
  EXPECT_EQ(ProcessStartMark(self), mark);
  EXPECT_TRUE(ProcessAlive(self, mark));
  EXPECT_TRUE(ProcessAlive(self));
  // The same number, kept for a program of another start (or another boot).
  EXPECT_FALSE(ProcessAlive(self, mark + "1"));
  EXPECT_FALSE(ProcessAlive(self, "another-boot:" + mark.substr(mark.rfind(':') + 1)));

  const pid_t child = Sleeper();
  ASSERT_GT(child, 0);
  const std::string childMark = ProcessStartMark(child);
  EXPECT_FALSE(childMark.empty());
  EXPECT_TRUE(ProcessAlive(child, childMark));
  Reap(child);
  EXPECT_FALSE(ProcessAlive(child, childMark));
  EXPECT_FALSE(ProcessAlive(child));
}

TEST(ProcessAlive, AProgramNameWithSpacesAndParenthesesDoesNotShiftTheFields) {
  const pid_t plain = Sleeper();
  const pid_t odd = Sleeper("a) 1 2 (b c");
  ASSERT_GT(plain, 0);
  ASSERT_GT(odd, 0);
  const std::string plainMark = ProcessStartMark(plain);
  const std::string oddMark = ProcessStartMark(odd);
  Reap(plain);
  Reap(odd);
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
  Reap(child);
}

} // namespace
