// The station's ledger shared by several programs, some of them killed part
// way: the other programs are forked, which only Linux can do.
#include "tests/serial/SqliteLedgerFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <thread>

using namespace kestrune::serial;
using namespace kestrune::serial::test;

namespace {

TEST_F(SqliteLedgerTest, AClaimOfAKilledProgramIsSpentAndOneOfARunningProgramIsNot) {
  PoolRequest big = CounterPool("sn:counter:0", "sn", 0, 1000);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // Forked while this program has no ledger, and so none of its threads.
  pid_t child = fork();
  if (child == 0) {
    std::string why;
    auto other = SqliteLedger::Open(Path, why);
    Claim claim;
    bool ok = other && other->Claim({big}, {"A", 2}, claim, why);
    char c = ok ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  auto ledger = Open();
  Claim mine = MustClaim(*ledger, {big});
  // Another program opening the file while both run spends neither claim.
  {
    auto second = Open();
    EXPECT_EQ(second->Status({big})[0].Claimed, 2u);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  auto reopened = Open();
  PoolStatus status = reopened->Status({big})[0];
  EXPECT_EQ(status.Spent, 1u);
  EXPECT_EQ(status.Claimed, 1u);
  // What the killed one had reserved ahead may have been claimed in a
  // write the power took: withheld, never handed out.
  EXPECT_GT(status.WrittenOff, 0u);
  EXPECT_EQ(status.Claimed + status.Spent + status.WrittenOff + status.Left, big.Capacity);
  std::vector<uint64_t> withheld = PositionsIn(Path, big.Pool, "withheld");
  const uint64_t next = MustClaim(*reopened, {big}).Values[0].Position;
  EXPECT_FALSE(std::binary_search(withheld.begin(), withheld.end(), next));
  EXPECT_GT(next, withheld.back());
  MustSettle(*ledger, mine, ClaimEnd::Passed);
}

// Two programs on one file, each with four channels, killed again and
// again: a position written is never written again, and every position is
// passed, spent or still free.
TEST_F(SqliteLedgerTest, TwoProgramsKilledAgainAndAgainNeverShareAPosition) {
  PoolRequest pool = CounterPool("sn:counter:0", "sn", 0, 1000000);
  const std::string log = Dir.File("passed.log");
  auto runProgram = [&](int program) {
    std::string why;
    auto ledger = SqliteLedger::Open(Path, why);
    if (!ledger)
      _exit(2);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::thread> channels;
    for (int channel = 1; channel <= 4; ++channel)
      channels.emplace_back([&, channel] {
        std::mt19937 random{unsigned(getpid() * 10 + channel)};
        for (int unit = 0; unit < 60; ++unit) {
          Claim claim;
          std::string error;
          if (!ledger->Claim({pool}, {"P" + std::to_string(program), channel}, claim, error))
            _exit(3);
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
          const ClaimEnd end = ClaimEnd(random() % 3);
          if (!ledger->Settle(claim, end, error))
            _exit(4);
          if (end == ClaimEnd::Passed) {
            std::string line = std::to_string(claim.Values[0].Position) + "\n";
            (void)!write(out, line.data(), line.size());
          }
        }
      });
    for (std::thread &t : channels)
      t.join();
    _exit(0);
  };
  std::mt19937 random(7);
  int cleanEnds = 0;
  for (int round = 0; round < 4; ++round) {
    pid_t programs[2];
    for (int p = 0; p < 2; ++p) {
      programs[p] = fork();
      if (programs[p] == 0)
        runProgram(p);
    }
    // One of the two is killed part way in most rounds.
    if (round < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 120));
      kill(programs[random() % 2], SIGKILL);
    }
    for (pid_t program : programs) {
      int status = 0;
      waitpid(program, &status, 0);
      if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        ++cleanEnds;
      } else {
        EXPECT_TRUE(WIFSIGNALED(status));
      }
    }
  }
  EXPECT_GE(cleanEnds, 5);

  auto ledger = Open(); // spends what the killed ones left claimed
  std::vector<uint64_t> logged;
  std::ifstream in(log);
  for (uint64_t position; in >> position;)
    logged.push_back(position);
  std::set<uint64_t> distinct(logged.begin(), logged.end());
  EXPECT_EQ(distinct.size(), logged.size());
  std::vector<uint64_t> passed = PositionsIn(Path, pool.Pool, "passed");
  for (uint64_t position : logged)
    EXPECT_TRUE(std::binary_search(passed.begin(), passed.end(), position)) << position;
  PoolStatus status = ledger->Status({pool})[0];
  EXPECT_EQ(status.Claimed, 0u);
  EXPECT_GT(status.Spent, 0u);
  EXPECT_EQ(status.Passed + status.Spent + status.WrittenOff + status.Left, pool.Capacity);
  // Nothing withheld was ever passed.
  for (uint64_t position : PositionsIn(Path, pool.Pool, "withheld"))
    EXPECT_FALSE(std::binary_search(passed.begin(), passed.end(), position)) << position;
}

} // namespace
