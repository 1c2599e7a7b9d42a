// The station's ledger on a fresh database file, with a small counter pool.
#pragma once

#include "serial/SqliteLedger.h"
#include "tests/serial/LedgerTestSupport.h"

#include <gtest/gtest.h>

namespace kestrune::serial::test {

class SqliteLedgerTest : public ::testing::Test {
protected:
  std::unique_ptr<SqliteLedger> Open() {
    std::string why;
    auto ledger = SqliteLedger::Open(Path, why);
    EXPECT_TRUE(ledger) << why;
    return ledger;
  }

  Claim MustClaim(SqliteLedger &ledger, const std::vector<PoolRequest> &requests, int channel = 1) {
    Claim claim;
    std::string error;
    EXPECT_TRUE(ledger.Claim(requests, {"A", channel}, claim, error)) << error;
    return claim;
  }

  void MustSettle(SqliteLedger &ledger, const Claim &claim, ClaimEnd end) {
    std::string error;
    EXPECT_TRUE(ledger.Settle(claim, end, error)) << error;
  }

  TempDir Dir;
  std::string Path = Dir.File("station/records.sqlite");
  PoolRequest Sn = CounterPool("sn:counter:1000", "sn", 1000, 5);
};

} // namespace kestrune::serial::test
