#include "serial/MemoryLedger.h"

namespace kestrune::serial {

bool MemoryLedger::Take(const PoolRequest &request, uint64_t &position, std::string &text,
                        std::string &error) {
  Pool &pool = Pools[request.Pool];
  const std::set<std::string> &used = UsedTexts[request.Field];
  while (true) {
    if (!pool.Returned.empty()) {
      position = *pool.Returned.begin();
      pool.Returned.erase(pool.Returned.begin());
    } else if (pool.Next < request.Capacity) {
      position = pool.Next++;
    } else {
      error = "Serial range of " + request.Field + " used up: all " +
              std::to_string(request.Capacity) + " values handed out";
      return false;
    }
    text = request.TextAt(position);
    if (!used.count(text))
      return true;
    // Already on a unit under this field's name: never again.
    pool.Ends[position] = ClaimEnd::Spent;
  }
}

bool MemoryLedger::Claim(const std::vector<PoolRequest> &requests, const Claimant &who,
                         serial::Claim &claim, std::string &error) {
  (void)who;
  std::lock_guard lock(Mutex);
  Open open;
  serial::Claim made;
  for (const PoolRequest &request : requests) {
    uint64_t position = 0;
    std::string text;
    if (!Take(request, position, text, error)) {
      // All or none: what this claim took goes back.
      for (const auto &[pool, taken] : open.Positions)
        Pools[pool].Returned.insert(taken);
      return false;
    }
    open.Positions.emplace_back(request.Pool, position);
    open.Texts.push_back(text);
    made.Values.push_back({request.Field, position, text});
  }
  for (const auto &[pool, position] : open.Positions)
    ++Pools[pool].Claimed;
  made.Id = NextId++;
  Claims[made.Id] = std::move(open);
  claim = std::move(made);
  return true;
}

bool MemoryLedger::Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) {
  std::lock_guard lock(Mutex);
  if (!SettleFailure.empty()) {
    error = SettleFailure;
    return false;
  }
  auto it = Claims.find(claim.Id);
  if (it == Claims.end()) {
    error = "claim " + std::to_string(claim.Id) + " is not open";
    return false;
  }
  const Open &open = it->second;
  for (size_t i = 0; i < open.Positions.size(); ++i) {
    Pool &pool = Pools[open.Positions[i].first];
    uint64_t position = open.Positions[i].second;
    --pool.Claimed;
    if (end == ClaimEnd::Returned) {
      pool.Returned.insert(position);
      continue;
    }
    pool.Ends[position] = end;
    UsedTexts[claim.Values[i].Field].insert(open.Texts[i]);
    if (end == ClaimEnd::Spent)
      pool.SpentTexts.push_back(open.Texts[i]);
  }
  Claims.erase(it);
  return true;
}

std::vector<PoolStatus> MemoryLedger::Status(const std::vector<PoolRequest> &requests) {
  std::lock_guard lock(Mutex);
  std::vector<PoolStatus> all;
  for (const PoolRequest &request : requests) {
    Pool &pool = Pools[request.Pool];
    PoolStatus status;
    status.Pool = request.Pool;
    status.Field = request.Field;
    uint64_t next = pool.Returned.empty() ? pool.Next : *pool.Returned.begin();
    if (next < request.Capacity)
      status.NextText = request.TextAt(next);
    uint64_t handedOut = std::min(pool.Next, request.Capacity);
    status.Left = request.Capacity - handedOut + pool.Returned.size();
    for (const auto &[position, end] : pool.Ends)
      ++(end == ClaimEnd::Passed ? status.Passed : status.Spent);
    status.Claimed = pool.Claimed;
    status.SpentTexts = pool.SpentTexts;
    all.push_back(std::move(status));
  }
  return all;
}

void MemoryLedger::FailSettles(std::string text) {
  std::lock_guard lock(Mutex);
  SettleFailure = std::move(text);
}

} // namespace kestrune::serial
