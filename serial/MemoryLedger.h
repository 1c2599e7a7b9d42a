// A ledger held in memory only, for tests of what uses a ledger. It keeps
// every rule of the ledger (all or none of a claim, a returned position
// handed out first, a text passed or spent never handed out again under its
// field's name) but forgets everything at exit.
#pragma once

#include "serial/SerialLedger.h"

#include <map>
#include <mutex>
#include <set>

namespace kestrune::serial {

class MemoryLedger final : public SerialLedger {
public:
  bool Claim(const std::vector<PoolRequest> &requests, const Claimant &who, serial::Claim &claim,
             std::string &error) override;
  bool Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) override;
  std::vector<PoolStatus> Status(const std::vector<PoolRequest> &requests) override;

  // Settling fails with this text while it is set (a store that cannot be
  // written).
  void FailSettles(std::string text);

private:
  struct Pool {
    uint64_t Next = 0;                // positions below it were handed out
    std::set<uint64_t> Returned;      // handed out and given back
    std::map<uint64_t, ClaimEnd> Ends; // settled positions (passed, spent)
    uint64_t Claimed = 0;
    std::vector<std::string> SpentTexts;
  };
  struct Open {
    std::vector<std::pair<std::string, uint64_t>> Positions; // pool, position
    std::vector<std::string> Texts;
  };
  bool Take(const PoolRequest &request, uint64_t &position, std::string &text,
            std::string &error);

  std::mutex Mutex;
  std::map<std::string, Pool> Pools;
  std::map<std::string, std::set<std::string>> UsedTexts; // by field name
  std::map<uint64_t, Open> Claims;
  uint64_t NextId = 1;
  std::string SettleFailure;
};

} // namespace kestrune::serial
