// A station's ledger on a line: positions come from leases the line's
// PostgreSQL server hands out, kept in the station's SQLite database and
// claimed there, so that a channel waits on the server only when its
// leases hold nothing. A thread of the ledger's own takes the next lease
// ahead when one runs low and tells the server of every settled value; a
// station that loses the server goes on with its leases and says so once.
#pragma once

#include "records/ServerCut.h"
#include "serial/OpenLedger.h"
#include "serial/PgLeaseServer.h"
#include "serial/SqliteLedger.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace kestrune::serial {

class PgLeaseLedger : public SerialLedger {
public:
  // Needs no answer from the server: the leases kept here go on. Null with
  // why set when the station's database or the address is unusable.
  static std::unique_ptr<PgLeaseLedger> Open(const LedgerPlace &place, std::string &why);
  // Tells the server what is settled while it answers, for a short while,
  // then stops at once, cutting a call to a server that does not answer;
  // what is left is told at the next start.
  ~PgLeaseLedger() override;
  PgLeaseLedger(const PgLeaseLedger &) = delete;
  PgLeaseLedger &operator=(const PgLeaseLedger &) = delete;

  bool Claim(const std::vector<PoolRequest> &requests, const Claimant &who, serial::Claim &claim,
             std::string &error) override;
  bool Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) override;
  // Never asks the server itself: the line's figures are those the ledger's
  // thread last read. For a pool not read yet it waits for the thread up to
  // the place's StatusWait.
  std::vector<PoolStatus> Status(const std::vector<PoolRequest> &requests) override;

  // The station's calls as SqliteLedger::ObserveCalls tells them.
  void ObserveCalls(std::function<void(const CallTiming &)> observer) {
    Local->ObserveCalls(std::move(observer));
  }

  // True once the server was told of every value settled so far, within wait.
  bool WaitReported(std::chrono::milliseconds wait);

private:
  PgLeaseLedger(const LedgerPlace &place, std::unique_ptr<SqliteLedger> local);
  void Main();
  void Cycle(pqxx::connection_base &server);
  bool TakeLeaseNow(const PoolRequest &request, std::string &error);
  void Remember(const std::vector<PoolRequest> &requests);
  void Wake();
  void Stop();
  bool LineRead(const std::vector<PoolRequest> &requests) const;
  void ServerLost(const std::string &why);
  void ServerBack();
  uint64_t Low() const;

  LedgerPlace Place;
  std::string Url; // with the client's limits
  std::unique_ptr<SqliteLedger> Local;
  std::mutex LeaseMutex; // one lease taken at a time by this station

  std::mutex Mutex;
  std::condition_variable Changed;
  std::map<std::string, PoolRequest> Known; // pools claimed from, without their texts
  std::set<std::string> Watched;               // pools whose status was asked for
  std::map<std::string, ServerPool> LineState; // as the thread last read them
  bool Woken = true;
  // A pool's leases run low, or settled values are waited for: the thread
  // goes round again at once rather than after its pause.
  bool Urgent = false;
  bool Stopping = false;
  bool Ended = false;
  bool Down = false;
  bool AllReported = false;
  std::string LastFailure;  // why the server was last lost
  uint64_t Rounds = 0;      // the thread's rounds with the server that ended
  records::ServerCut *Current = nullptr; // the thread's connection, cut at the stop
  std::thread Thread;
};

} // namespace kestrune::serial
