// The station's ledger in its SQLite database. Every claim and every
// settle is one transaction, taken with the database's write lock, so that
// the channels of one program and several programs on one file never hand
// out a position twice. Positions come from the pool's own counter, or,
// for a line, from the leases the station holds (see PgLeaseLedger).
#pragma once

#include "serial/Checkpointer.h"
#include "serial/LedgerDatabase.h"
#include "serial/SerialLedger.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;

namespace kestrune::serial {

// A lease as the station keeps it: positions First .. End-1, of which
// those from Next on were not handed out yet.
struct LocalLease {
  std::string Pool;
  int64_t Lease = 0; // the server's number for it
  uint64_t First = 0;
  uint64_t End = 0;
  uint64_t Next = 0;
  bool Released = false;
};

// A settled value the line's server has not been told of yet.
struct UnreportedValue {
  std::string Pool;
  std::string Field;
  uint64_t Position = 0;
  std::string Text;
  std::string State; // passed, spent or skipped
  std::string Station;
  int Channel = 0;
  std::string When;
};

// Where one claim or settle spent its time, for measuring the channels'
// path: queued behind the batch under way, waiting for the database's
// write lock, writing its batch (to the commit), and after its batch
// (claims that need the disk, the reserve's top-up, being woken).
struct CallTiming {
  bool IsClaim = true;
  bool Durable = false; // a claim that waited for the disk itself
  size_t BatchSize = 0;
  std::chrono::nanoseconds Queued{0};
  std::chrono::nanoseconds WriteLock{0};
  std::chrono::nanoseconds Written{0};
  std::chrono::nanoseconds After{0};
};

class SqliteLedger : public SerialLedger {
public:
  enum class Source { Counter, Leases };
  // Durable and Dry: only within a claim, which then starts again waiting
  // for the disk (Dry: this program had nothing reserved).
  enum class Outcome { Claimed, NeedLease, Failed, Durable, Dry };

  // Creates the file when missing, migrates the ledger's tables, and marks
  // spent the claims of programs on this machine that ended without
  // settling them. Null with why set.
  static std::unique_ptr<SqliteLedger> Open(const std::string &path, std::string &why,
                                            Source source = Source::Counter);
  ~SqliteLedger() override;
  SqliteLedger(const SqliteLedger &) = delete;
  SqliteLedger &operator=(const SqliteLedger &) = delete;

  bool Claim(const std::vector<PoolRequest> &requests, const Claimant &who, serial::Claim &claim,
             std::string &error) override;
  bool Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) override;
  std::vector<PoolStatus> Status(const std::vector<PoolRequest> &requests) override;

  // As Claim; with leases, NeedLease names in pool the request whose
  // leases hold no position (nothing is claimed then).
  Outcome TryClaim(const std::vector<PoolRequest> &requests, const Claimant &who,
                   serial::Claim &claim, std::string &error, std::string &pool);

  // The line's side: leases kept here and what the server is to be told.
  bool AddLease(const LocalLease &lease, std::string &why);
  bool MarkLeaseReleased(const std::string &pool, int64_t lease, std::string &why);
  std::vector<LocalLease> Leases(const std::string &pool);
  // Positions the live leases of pool still hold, returned ones included.
  uint64_t LeaseLeft(const std::string &pool);
  bool Unreported(size_t limit, std::vector<UnreportedValue> &out, std::string &why);
  bool MarkReported(const std::vector<UnreportedValue> &values, std::string &why);

  const std::string &Path() const { return FilePath; }

  // Told of every claim and settle on the caller's thread as it returns.
  // Set before the first call; for benchmarks.
  void ObserveCalls(std::function<void(const CallTiming &)> observer) {
    Observer = std::move(observer);
  }

private:
  SqliteLedger(sqlite3 *db, std::string path, Source source);
  bool StartSession(std::string &why);
  // Ends a program's session: its open claims are spent; its reserved
  // positions are given back after a clean end, withheld after a crash
  // (their claims may have been lost with the power).
  bool EndSession(int64_t session, bool clean, std::string &why);
  bool RecoverEndedSessions(std::string &why);
  Outcome ClaimAll(const std::vector<PoolRequest> &requests, const Claimant &who, bool durable,
                   serial::Claim &claim, std::string &error, std::string &pool);
  // As ClaimAll, inside a transaction already begun.
  Outcome ClaimInTransaction(const std::vector<PoolRequest> &requests, const Claimant &who,
                             bool durable, serial::Claim &claim, std::string &error,
                             std::string &pool);
  // A settle's writes, inside a transaction already begun; storeFailed
  // tells a write that failed from a claim not held as claimed.
  bool SettleInTransaction(const serial::Claim &claim, ClaimEnd end, std::string &error,
                           bool &storeFailed);

  // Group commit: the channels' claims and settles wait in a queue; the
  // first channel to find no batch under way writes every call waiting in
  // one transaction, and the others wait only for the batch holding their
  // own call.
  struct Call;
  void Run(Call &call);
  // Waits for the batch that holds call; first puts it ahead of the others.
  void RunQueued(Call &call, bool first = false);
  void RunBatch(const std::vector<Call *> &batch);
  // A claim that needs the disk, on its own channel after its batch: waits
  // for the reservation under way with no lock held and joins the next
  // batch, or else claims in a transaction of its own that waits for the
  // disk.
  void ClaimDurably(Call &call);
  Outcome ClaimOne(const PoolRequest &request, const Claimant &who, int64_t claimId,
                   const std::string &now, bool durable, ClaimedValue &value, std::string &error);
  // Reserves positions ahead on db, in the given state.
  Outcome Reserve(sqlite3 *db, const PoolRequest &request, const char *state, std::string &error);
  bool NextFresh(sqlite3 *db, const PoolRequest &request, uint64_t &position, Outcome &outcome,
                 std::string &error);
  // Asks the reserving thread to look whether this program's reserved
  // positions of these pools run low, and to reserve more if so.
  void TopUpIfLow(const std::vector<PoolRequest> &requests);
  // This program's reserved positions of pool, read on db.
  int64_t ReservedLeft(sqlite3 *db, const std::string &pool);
  // Asks the reserving thread for more of these pools, whatever is left.
  void AskTopUp(const std::vector<PoolRequest> &requests);
  // Waits for the reserving thread's work on these pools; true when some
  // was under way and is done.
  bool AwaitTopUps(const std::vector<PoolRequest> &requests);
  void TopUpMain();
  bool TopUp(sqlite3 *db, const PoolRequest &request);
  std::string Failure(const std::string &what) const;

  std::function<void(const CallTiming &)> Observer;
  std::mutex QueueMutex;
  std::vector<Call *> Queue; // calls not yet taken into a batch
  bool Leading = false;      // a batch is under way

  // Reads on the claims' path (how much the leases hold) go through a
  // connection of their own, so that they never wait for a batch.
  std::mutex ReadMutex;
  sqlite3 *ReadDb = nullptr;
  std::unique_ptr<StatementCache> ReadCached;

  std::mutex Mutex; // one connection, one thread at a time
  sqlite3 *Db;
  std::unique_ptr<StatementCache> Cached; // Db's, for claims and settles
  // The reserving thread's connection and its statements.
  std::atomic<sqlite3 *> TopDb{nullptr};
  std::unique_ptr<StatementCache> TopCached;
  StatementCache &CacheOf(sqlite3 *db) { return db == TopDb.load() ? *TopCached : *Cached; }
  std::string FilePath;
  Source From;
  int64_t Session = 0;
  std::unique_ptr<Checkpointer> Copier;

  // The reserving thread: positions reserved ahead of need, made durable
  // by flushing the log with no lock held, so that no claim waits for it.
  std::thread Topper;
  std::mutex TopMutex;
  std::condition_variable TopChanged;
  // Positions reserved at a time, on the disk before any is used, and kept
  // at least reserved ahead: 64, doubled (up to 256) each time the
  // channels ran through them before the next were on the disk.
  std::atomic<int> Ahead{64};
  std::map<std::string, PoolRequest> TopWanted; // pools to top up, without texts
  std::map<std::string, PoolRequest> TopCheck;  // pools to look at, topped up when low
  std::set<std::string> TopBusy;                // asked for or under way
  bool TopStopping = false;
};

// "Serial range of sn used up: ..." for a request whose positions are all
// handed out.
std::string RangeUsedUpText(const PoolRequest &request);

} // namespace kestrune::serial
