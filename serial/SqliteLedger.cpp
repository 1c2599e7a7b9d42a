#include "serial/SqliteLedger.h"

#include "platform/IsoUtcTime.h"
#include "records/QuietThread.h"
#include "records/RecordsLocation.h"
#include "serial/FlushFile.h"
#include "serial/LedgerDatabase.h"
#include "serial/ProcessAlive.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <set>

namespace kestrune::serial {
namespace {

// Positions reserved in one transaction.
constexpr int ReserveBlock = 64;
// Channels that take the reserved positions faster than the disk makes the
// next ones durable have the program reserve more at a time, up to this.
constexpr int MostAhead = 256;

std::string Now() { return IsoUtcTime(std::chrono::system_clock::now()); }

// The text at a position; false with error when the source cannot give it.
bool TextOf(const PoolRequest &request, uint64_t position, std::string &text, std::string &error) {
  if (!request.TextAt) {
    error = "Serial values of " + request.Field + " have no source";
    return false;
  }
  try {
    text = request.TextAt(position);
    return true;
  } catch (const std::exception &failure) {
    error = "Serial value " + std::to_string(position) + " of " + request.Field +
            " cannot be made: " + failure.what();
    return false;
  }
}

class Transaction {
public:
  explicit Transaction(sqlite3 *db) : Db(db) {}
  ~Transaction() {
    if (Open) {
      std::string ignored;
      Exec(Db, "ROLLBACK", ignored);
    }
  }
  bool Begin(std::string &why) { return Open = Exec(Db, "BEGIN IMMEDIATE", why); }
  bool Commit(std::string &why) {
    if (!Exec(Db, "COMMIT", why))
      return false;
    Open = false;
    return true;
  }

private:
  sqlite3 *Db;
  bool Open = false;
};

std::string FailureOf(sqlite3 *db, const std::string &what) {
  return what + ": " + sqlite3_errmsg(db) + " (" + std::to_string(sqlite3_extended_errcode(db)) +
         ")";
}

// Commits on this connection need not wait for the disk while it lives.
class LightSync {
public:
  explicit LightSync(sqlite3 *db) : Db(db) {
    std::string ignored;
    Exec(Db, "PRAGMA synchronous = NORMAL", ignored);
  }
  ~LightSync() {
    std::string ignored;
    Exec(Db, "PRAGMA synchronous = FULL", ignored);
  }
  LightSync(const LightSync &) = delete;
  LightSync &operator=(const LightSync &) = delete;

private:
  sqlite3 *Db;
};

const char *StateName(ClaimEnd end) {
  switch (end) {
  case ClaimEnd::Passed:
    return "passed";
  case ClaimEnd::Spent:
    return "spent";
  case ClaimEnd::Returned:
    return "returned";
  }
  return "spent";
}

// Runs a statement that must not fail for a savepoint to hold.
bool Savepoint(sqlite3 *db, const char *sql) {
  std::string ignored;
  return Exec(db, sql, ignored);
}

} // namespace

struct SqliteLedger::Call {
  bool IsClaim = true;
  // A claim's inputs and result.
  const std::vector<PoolRequest> *Requests = nullptr;
  const Claimant *Who = nullptr;
  serial::Claim *Claimed = nullptr;
  Outcome Result = Outcome::Failed;
  std::string Pool;
  // A settle's inputs and result.
  const serial::Claim *Settled = nullptr;
  ClaimEnd End = ClaimEnd::Spent;
  bool SettledOk = false;

  std::string Error;
  bool Done = false; // under QueueMutex
  std::condition_variable Woken; // its batch is done, or it is to lead

  // When it reached each leg, for the observer.
  using Clock = std::chrono::steady_clock;
  Clock::time_point Queued, BatchStart, Locked, Committed;
  size_t BatchSize = 0;
  bool WaitedForDisk = false;
};

std::string RangeUsedUpText(const PoolRequest &request) {
  std::string text = "Serial range of " + request.Field + " used up: ";
  std::string first, last, ignored;
  if (request.Capacity == 0 || !TextOf(request, 0, first, ignored) ||
      !TextOf(request, request.Capacity - 1, last, ignored))
    text += "the range holds no value";
  else
    text += "every one of the " + std::to_string(request.Capacity) + " values from " + first +
            " to " + last + " was handed out";
  return text + "; widen the range or give " + request.Field +
         " a new one in the serial scheme, then start again";
}

SqliteLedger::SqliteLedger(sqlite3 *db, std::string path, Source source)
    : Db(db), Cached(std::make_unique<StatementCache>(db)), FilePath(std::move(path)),
      From(source) {}

std::unique_ptr<SqliteLedger> SqliteLedger::Open(const std::string &path, std::string &why,
                                                 Source source) {
  sqlite3 *db = OpenLedgerDatabase(path, why);
  if (!db)
    return nullptr;
  std::unique_ptr<SqliteLedger> ledger(new SqliteLedger(db, path, source));
  std::string detail;
  // The log is copied into the file by a thread of the ledger's own.
  Exec(db, "PRAGMA wal_autocheckpoint = 0", detail);
  ledger->Copier = std::make_unique<Checkpointer>(path);
  if (!ledger->RecoverEndedSessions(detail) || !ledger->StartSession(detail)) {
    why = path + ": " + detail;
    return nullptr;
  }
  std::string ignored;
  ledger->ReadDb = OpenLedgerDatabase(path, ignored);
  if (ledger->ReadDb)
    ledger->ReadCached = std::make_unique<StatementCache>(ledger->ReadDb);
  ledger->Topper = std::thread([raw = ledger.get()] { raw->TopUpMain(); });
  return ledger;
}

SqliteLedger::~SqliteLedger() {
  if (Topper.joinable()) {
    {
      std::lock_guard lock(TopMutex);
      TopStopping = true;
      TopChanged.notify_all();
    }
    Topper.join();
  }
  Copier.reset();
  // Claims still open may have been sent: spent, never handed out again.
  std::string ignored;
  Transaction t(Db);
  if (t.Begin(ignored) && EndSession(Session, true, ignored))
    t.Commit(ignored);
  ReadCached.reset();
  sqlite3_close(ReadDb);
  Cached.reset();
  sqlite3_close(Db);
}

std::string SqliteLedger::Failure(const std::string &what) const { return FailureOf(Db, what); }

bool SqliteLedger::StartSession(std::string &why) {
  Statement s(Db, "INSERT INTO serial_sessions (host, pid, opened, started) VALUES (?, ?, ?, ?)");
  const int64_t pid = CurrentProcessId();
  s.Text(1, records::HostStationName()).Int(2, pid).Text(3, Now()).Text(4, ProcessStartMark(pid));
  if (s.Step() != SQLITE_DONE) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  Session = sqlite3_last_insert_rowid(Db);
  return true;
}

bool SqliteLedger::EndSession(int64_t session, bool clean, std::string &why) {
  Statement spend(Db, "UPDATE serial_values SET state = 'spent', settled_at = ?, reported = 0 "
                      "WHERE state = 'claimed' AND claim IN "
                      "(SELECT id FROM serial_claims WHERE session = ?)");
  Statement reserved(Db, clean ? "UPDATE serial_values SET state = 'returned', session = 0 "
                                 "WHERE state IN ('reserved', 'reserving') AND session = ?"
                               : "UPDATE serial_values SET state = 'withheld', session = 0, "
                                 "reported = 0 WHERE state IN ('reserved', 'reserving') "
                                 "AND session = ?");
  Statement claims(Db, "DELETE FROM serial_claims WHERE session = ?");
  Statement sessions(Db, "DELETE FROM serial_sessions WHERE id = ?");
  spend.Text(1, Now()).Int(2, session);
  reserved.Int(1, session);
  claims.Int(1, session);
  sessions.Int(1, session);
  if (spend.Step() != SQLITE_DONE || reserved.Step() != SQLITE_DONE ||
      claims.Step() != SQLITE_DONE || sessions.Step() != SQLITE_DONE) {
    why = sqlite3_errmsg(Db);
    return false;
  }
  return true;
}

bool SqliteLedger::RecoverEndedSessions(std::string &why) {
  // Only programs on this machine can be known to have ended; a claim of
  // one elsewhere stays claimed, so it is never handed out either.
  Transaction t(Db);
  if (!t.Begin(why))
    return false;
  std::vector<int64_t> ended;
  {
    // A session of an older program has no start kept: its number alone.
    Statement s(Db, "SELECT id, pid, started FROM serial_sessions WHERE host = ?");
    s.Text(1, records::HostStationName());
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW)
      if (!ProcessAlive(s.ColumnInt(1), s.ColumnText(2)))
        ended.push_back(s.ColumnInt(0));
    if (rc != SQLITE_DONE) {
      why = sqlite3_errmsg(Db);
      return false;
    }
  }
  for (int64_t session : ended)
    if (!EndSession(session, false, why))
      return false;
  return t.Commit(why);
}

bool SqliteLedger::Claim(const std::vector<PoolRequest> &requests, const Claimant &who,
                         serial::Claim &claim, std::string &error) {
  std::string pool;
  Outcome outcome = TryClaim(requests, who, claim, error, pool);
  if (outcome == Outcome::NeedLease)
    error = "Serial values of " + pool + ": this station holds no lease with values left";
  return outcome == Outcome::Claimed;
}

SqliteLedger::Outcome SqliteLedger::TryClaim(const std::vector<PoolRequest> &requests,
                                             const Claimant &who, serial::Claim &claim,
                                             std::string &error, std::string &pool) {
  Call call;
  call.Requests = &requests;
  call.Who = &who;
  call.Claimed = &claim;
  Run(call);
  error = std::move(call.Error);
  pool = std::move(call.Pool);
  return call.Result;
}

void SqliteLedger::Run(Call &call) {
  if (Observer)
    call.Queued = Call::Clock::now();
  RunQueued(call);
  // A claim that needs the disk waits for it on its own, after its batch:
  // the other calls of the batch are done and go on meanwhile.
  if (call.IsClaim && (call.Result == Outcome::Durable || call.Result == Outcome::Dry))
    ClaimDurably(call);
  if (!Observer)
    return;
  const auto woken = Call::Clock::now();
  CallTiming timing;
  timing.IsClaim = call.IsClaim;
  timing.Durable = call.WaitedForDisk;
  timing.BatchSize = call.BatchSize;
  if (call.Committed != Call::Clock::time_point()) {
    timing.Queued = call.BatchStart - call.Queued;
    timing.WriteLock = call.Locked - call.BatchStart;
    timing.Written = call.Committed - call.Locked;
    timing.After = woken - call.Committed;
  }
  Observer(timing);
}

void SqliteLedger::RunQueued(Call &call, bool first) {
  std::unique_lock lock(QueueMutex);
  call.Done = false;
  Queue.insert(first ? Queue.begin() : Queue.end(), &call);
  while (!call.Done) {
    if (Leading) {
      call.Woken.wait(lock);
      continue;
    }
    // No batch under way: this call leads the next, with all that waits.
    Leading = true;
    std::vector<Call *> batch;
    batch.swap(Queue);
    lock.unlock();
    RunBatch(batch);
    lock.lock();
    Leading = false;
    // Only the channels whose calls are done are woken, and the first of
    // those waiting, to lead the next batch: on a busy processor every
    // channel woken for nothing delays the others.
    for (Call *done : batch) {
      done->Done = true;
      done->Woken.notify_one();
    }
    if (!Queue.empty())
      Queue.front()->Woken.notify_one();
  }
}

void SqliteLedger::RunBatch(const std::vector<Call *> &batch) {
  std::lock_guard lock(Mutex);
  {
    // Most claims take a position reserved ahead and need not wait for the
    // disk: a power cut losing one leaves its position reserved, withheld
    // at the next start. A settle lost to a power cut leaves its values
    // claimed or reserved, and so spent or withheld at the next start:
    // never handed out twice. Taking a position given back, or reserving,
    // must be on the disk before the block leaves: those claims are left
    // to their own channels, after the batch.
    LightSync light(Db);
    Transaction t(Db);
    std::string why;
    const bool timed = bool(Observer);
    const auto batchStart = timed ? Call::Clock::now() : Call::Clock::time_point();
    const bool begun = t.Begin(why);
    if (timed) {
      const auto locked = Call::Clock::now();
      for (Call *call : batch) {
        call->BatchStart = batchStart;
        call->Locked = locked;
        call->BatchSize = batch.size();
      }
    }
    if (!begun) {
      for (Call *call : batch) {
        call->Error = Failure(call->IsClaim ? "Serial values cannot be claimed"
                                            : "The serial values of a unit cannot be settled");
        call->Result = Outcome::Failed;
      }
      return;
    }
    for (Call *call : batch) {
      // Each call is its own step: one that fails takes back only its own
      // writes.
      if (!Savepoint(Db, "SAVEPOINT call")) {
        call->Error = Failure("Serial values cannot be written");
        continue;
      }
      bool keep = true;
      if (call->IsClaim) {
        call->Result = ClaimInTransaction(*call->Requests, *call->Who, false, *call->Claimed,
                                          call->Error, call->Pool);
        keep = call->Result == Outcome::Claimed;
      } else {
        bool storeFailed = false;
        call->SettledOk = SettleInTransaction(*call->Settled, call->End, call->Error, storeFailed);
        keep = !storeFailed;
      }
      if (!keep)
        Savepoint(Db, "ROLLBACK TO call");
      Savepoint(Db, "RELEASE call");
    }
    const bool committed = t.Commit(why);
    if (timed) {
      const auto now = Call::Clock::now();
      for (Call *call : batch)
        call->Committed = now;
    }
    if (!committed) {
      for (Call *call : batch) {
        if (call->IsClaim && call->Result == Outcome::Claimed) {
          call->Result = Outcome::Failed;
          *call->Claimed = {};
          call->Error = Failure("Serial values cannot be claimed");
        } else if (!call->IsClaim && call->SettledOk) {
          call->SettledOk = false;
          call->Error = Failure("The serial values of a unit cannot be settled");
        }
      }
    }
  }
  // Reserving ahead is asked once a batch for each pool it claimed from.
  std::vector<PoolRequest> claimed;
  std::set<std::string> seen;
  for (const Call *call : batch)
    if (call->IsClaim && call->Result == Outcome::Claimed)
      for (const PoolRequest &request : *call->Requests)
        if (seen.insert(request.Pool).second)
          claimed.push_back(request);
  if (!claimed.empty())
    TopUpIfLow(claimed);
}

void SqliteLedger::ClaimDurably(Call &call) {
  const std::vector<PoolRequest> &requests = *call.Requests;
  call.Error.clear();
  call.WaitedForDisk = true;
  // Nothing reserved: the reservation asked for (or one asked for now) is
  // waited for with no lock held, so that the other channels' claims and
  // settles are written meanwhile, and the claim joins the next batch
  // ahead of the calls waiting there, so that it takes the first of the
  // new positions. Should it still find none, it tries again, and in the
  // end reserves for itself.
  for (int round = 0; call.Result == Outcome::Dry && round < 3; ++round) {
    AskTopUp(requests);
    if (!AwaitTopUps(requests))
      break;
    if (round == 0) {
      // The reserve ran dry before the next positions were on the disk:
      // reserve more at a time from now on.
      int ahead = Ahead.load();
      while (ahead < MostAhead && !Ahead.compare_exchange_weak(ahead, ahead * 2)) {
      }
    }
    call.Error.clear();
    RunQueued(call, true);
    if (call.Result != Outcome::Durable && call.Result != Outcome::Dry)
      return;
  }
  call.Error.clear();
  std::lock_guard lock(Mutex);
  call.Result = ClaimAll(requests, *call.Who, true, *call.Claimed, call.Error, call.Pool);
  if (call.Result == Outcome::Claimed)
    TopUpIfLow(requests);
}

bool SqliteLedger::AwaitTopUps(const std::vector<PoolRequest> &requests) {
  // Positions being reserved come before any reserved after them: waiting
  // for them keeps the values in order. The wait is the disk's flush.
  auto busy = [&] {
    return std::any_of(requests.begin(), requests.end(),
                       [&](const PoolRequest &r) { return TopBusy.count(r.Pool) != 0; });
  };
  std::unique_lock lock(TopMutex);
  if (!busy())
    return false;
  return TopChanged.wait_for(lock, std::chrono::seconds(15),
                             [&] { return TopStopping || !busy(); });
}

void SqliteLedger::TopUpIfLow(const std::vector<PoolRequest> &requests) {
  // The reserving thread counts what is left on its own connection: the
  // channels' path never waits for that.
  std::lock_guard lock(TopMutex);
  for (const PoolRequest &request : requests) {
    if (TopBusy.count(request.Pool) != 0)
      continue;
    PoolRequest bare = request;
    bare.TextAt = nullptr;
    TopCheck[request.Pool] = std::move(bare);
  }
  TopChanged.notify_all();
}

void SqliteLedger::AskTopUp(const std::vector<PoolRequest> &requests) {
  std::lock_guard lock(TopMutex);
  for (const PoolRequest &request : requests) {
    if (!TopBusy.insert(request.Pool).second)
      continue;
    PoolRequest bare = request;
    bare.TextAt = nullptr; // the source need not outlive the run
    TopWanted[request.Pool] = std::move(bare);
  }
  TopChanged.notify_all();
}

void SqliteLedger::TopUpMain() {
  records::BlockProcessSignals();
  std::string why;
  sqlite3 *db = OpenLedgerDatabase(FilePath, why);
  if (db) {
    // Durable by the flush below, taken with no lock held.
    Exec(db, "PRAGMA synchronous = NORMAL", why);
    Exec(db, "PRAGMA wal_autocheckpoint = 0", why);
    TopCached = std::make_unique<StatementCache>(db);
    TopDb = db;
  }
  std::unique_lock lock(TopMutex);
  for (;;) {
    TopChanged.wait(lock, [this] {
      return TopStopping || !TopWanted.empty() || !TopCheck.empty();
    });
    if (TopStopping)
      break;
    if (TopWanted.empty()) {
      // Asked to look: more only once fewer than a block are left.
      PoolRequest request = TopCheck.begin()->second;
      TopCheck.erase(TopCheck.begin());
      if (TopBusy.count(request.Pool) != 0)
        continue;
      lock.unlock();
      const bool low = db && ReservedLeft(db, request.Pool) < Ahead.load();
      lock.lock();
      if (low && TopBusy.insert(request.Pool).second)
        TopWanted[request.Pool] = std::move(request);
      continue;
    }
    PoolRequest request = TopWanted.begin()->second;
    TopWanted.erase(TopWanted.begin());
    lock.unlock();
    // Without a connection of its own the claims reserve for themselves.
    if (db)
      TopUp(db, request);
    lock.lock();
    TopBusy.erase(request.Pool);
    TopChanged.notify_all();
  }
  lock.unlock();
  TopDb = nullptr;
  TopCached.reset();
  sqlite3_close(db);
}

int64_t SqliteLedger::ReservedLeft(sqlite3 *db, const std::string &pool) {
  Statement count(CacheOf(db), "SELECT count(*) FROM serial_values WHERE pool = ? AND "
                               "session = ? AND state = 'reserved'");
  count.Text(1, pool).Int(2, Session);
  return count.Step() == SQLITE_ROW ? count.ColumnInt(0) : 0;
}

bool SqliteLedger::TopUp(sqlite3 *db, const PoolRequest &request) {
  std::string why;
  // A block to a transaction, so that the channels' writes never wait
  // behind a long one; one flush for them all.
  bool any = false;
  for (int reserved = 0; reserved < Ahead.load(); reserved += ReserveBlock) {
    Transaction t(db);
    if (!t.Begin(why) || Reserve(db, request, "reserving", why) != Outcome::Claimed ||
        !t.Commit(why))
      break;
    any = true;
  }
  if (!any)
    return false;
  // Only once on the disk may they be claimed: a claim's own write need
  // not wait for the disk only because its position already is.
  if (!FlushFile(FilePath + "-wal") || !FlushFile(FilePath))
    return false;
  // Made ready a block at a time too, lowest positions first.
  Statement ready(CacheOf(db),
                  "UPDATE serial_values SET state = 'reserved' WHERE pool = ?1 AND session = ?2 "
                  "AND state = 'reserving' AND position IN (SELECT position FROM serial_values "
                  "WHERE pool = ?1 AND session = ?2 AND state = 'reserving' ORDER BY position "
                  "LIMIT ?3)");
  for (;;) {
    Transaction t(db);
    ready.Reset();
    ready.Text(1, request.Pool).Int(2, Session).Int(3, ReserveBlock);
    if (!t.Begin(why) || ready.Step() != SQLITE_DONE)
      return false;
    const int changed = sqlite3_changes(db);
    if (!t.Commit(why))
      return false;
    if (changed < ReserveBlock)
      return true;
  }
}

SqliteLedger::Outcome SqliteLedger::ClaimAll(const std::vector<PoolRequest> &requests,
                                             const Claimant &who, bool durable,
                                             serial::Claim &claim, std::string &error,
                                             std::string &pool) {
  claim = {};
  std::string why;
  struct Sync {
    sqlite3 *Db;
    Sync(sqlite3 *db, bool durable) : Db(db) {
      std::string ignored;
      if (!durable)
        Exec(Db, "PRAGMA synchronous = NORMAL", ignored);
    }
    ~Sync() {
      std::string ignored;
      Exec(Db, "PRAGMA synchronous = FULL", ignored);
    }
  } sync(Db, durable);
  Transaction t(Db);
  if (!t.Begin(why)) {
    error = Failure("Serial values cannot be claimed");
    return Outcome::Failed;
  }
  Outcome outcome = ClaimInTransaction(requests, who, durable, claim, error, pool);
  if (outcome != Outcome::Claimed)
    return outcome;
  if (!t.Commit(why)) {
    error = Failure("Serial values cannot be claimed");
    claim = {};
    return Outcome::Failed;
  }
  return Outcome::Claimed;
}

SqliteLedger::Outcome SqliteLedger::ClaimInTransaction(const std::vector<PoolRequest> &requests,
                                                       const Claimant &who, bool durable,
                                                       serial::Claim &claim, std::string &error,
                                                       std::string &pool) {
  claim = {};
  Statement add(*Cached, "INSERT INTO serial_claims (session) VALUES (?)");
  add.Int(1, Session);
  if (add.Step() != SQLITE_DONE) {
    error = Failure("Serial values cannot be claimed");
    return Outcome::Failed;
  }
  const int64_t id = sqlite3_last_insert_rowid(Db);
  const std::string now = Now();
  for (const PoolRequest &request : requests) {
    ClaimedValue value;
    Outcome outcome = ClaimOne(request, who, id, now, durable, value, error);
    if (outcome != Outcome::Claimed) {
      if (outcome == Outcome::NeedLease)
        pool = request.Pool;
      claim = {};
      return outcome;
    }
    claim.Values.push_back(value);
  }
  claim.Id = uint64_t(id);
  return Outcome::Claimed;
}

bool SqliteLedger::NextFresh(sqlite3 *db, const PoolRequest &request, uint64_t &position,
                             Outcome &outcome, std::string &error) {
  outcome = Outcome::Failed;
  if (From == Source::Counter) {
    Statement next(CacheOf(db), "SELECT next FROM serial_pools WHERE pool = ?");
    next.Text(1, request.Pool);
    if (next.Step() != SQLITE_ROW) {
      error = FailureOf(db, "Serial values cannot be claimed");
      return false;
    }
    position = uint64_t(next.ColumnInt(0));
    if (position >= request.Capacity) {
      error = RangeUsedUpText(request);
      return false;
    }
    Statement step(CacheOf(db), "UPDATE serial_pools SET next = next + 1 WHERE pool = ?");
    step.Text(1, request.Pool);
    if (step.Step() != SQLITE_DONE) {
      error = FailureOf(db, "Serial values cannot be claimed");
      return false;
    }
    return true;
  }
  Statement lease(CacheOf(db),
                  "SELECT lease, next FROM serial_leases WHERE pool = ? AND released = 0 "
                  "AND next < end ORDER BY first LIMIT 1");
  lease.Text(1, request.Pool);
  int rc = lease.Step();
  if (rc == SQLITE_DONE) {
    outcome = Outcome::NeedLease;
    return false;
  }
  if (rc != SQLITE_ROW) {
    error = FailureOf(db, "Serial values cannot be claimed");
    return false;
  }
  position = uint64_t(lease.ColumnInt(1));
  if (position >= request.Capacity) {
    // The scheme's range was narrowed below what the lease holds.
    error = RangeUsedUpText(request);
    return false;
  }
  Statement step(CacheOf(db),
                 "UPDATE serial_leases SET next = next + 1 WHERE pool = ? AND lease = ?");
  step.Text(1, request.Pool).Int(2, lease.ColumnInt(0));
  if (step.Step() != SQLITE_DONE) {
    error = FailureOf(db, "Serial values cannot be claimed");
    return false;
  }
  return true;
}

SqliteLedger::Outcome SqliteLedger::Reserve(sqlite3 *db, const PoolRequest &request,
                                            const char *state, std::string &error) {
  Statement insert(CacheOf(db),
                   "INSERT INTO serial_values (pool, position, field, text, state, session, "
                   "reported) VALUES (?, ?, ?, ?, ?, ?, 1)");
  for (int i = 0; i < ReserveBlock; ++i) {
    uint64_t position = 0;
    Outcome outcome = Outcome::Failed;
    std::string why;
    if (!NextFresh(db, request, position, outcome, why)) {
      if (i > 0 && outcome != Outcome::Failed)
        break; // the leases hold no more: claim what is reserved
      if (i > 0 && why == RangeUsedUpText(request))
        break;
      error = why;
      return outcome;
    }
    // The text is made when the position is claimed; the thread that
    // reserves ahead has no source to make it with.
    std::string text;
    if (request.TextAt && !TextOf(request, position, text, error))
      return Outcome::Failed;
    insert.Reset();
    insert.Text(1, request.Pool).Int(2, int64_t(position)).Text(3, request.Field).Text(4, text);
    insert.Text(5, state).Int(6, Session);
    if (insert.Step() != SQLITE_DONE) {
      error = FailureOf(db, "Serial values cannot be reserved");
      return Outcome::Failed;
    }
  }
  return Outcome::Claimed;
}

SqliteLedger::Outcome SqliteLedger::ClaimOne(const PoolRequest &request, const Claimant &who,
                                             int64_t claimId, const std::string &now, bool durable,
                                             ClaimedValue &value, std::string &error) {
  const std::string failed = "Serial values cannot be claimed";
  Statement pool(*Cached,
                 "INSERT OR IGNORE INTO serial_pools (pool, field, next) VALUES (?, ?, 0)");
  pool.Text(1, request.Pool).Text(2, request.Field);
  if (pool.Step() != SQLITE_DONE) {
    error = Failure(failed);
    return Outcome::Failed;
  }
  Statement returned(*Cached, "SELECT position FROM serial_values WHERE pool = ? AND "
                              "state = 'returned' ORDER BY position LIMIT 1");
  Statement reserved(*Cached, "SELECT position FROM serial_values WHERE pool = ? AND "
                              "state = 'reserved' AND session = ? ORDER BY position LIMIT 1");
  Statement taken(*Cached, "SELECT 1 FROM serial_values WHERE field = ? AND text = ? AND "
                           "state IN ('claimed', 'passed', 'spent', 'withheld') "
                           "AND NOT (pool = ? AND position = ?) LIMIT 1");
  Statement update(*Cached,
                   "UPDATE serial_values SET state = ?, claim = ?, station = ?, channel = ?, "
                   "claimed_at = ?, settled_at = '', reported = ?, text = ?, session = 0 "
                   "WHERE pool = ? AND position = ?");
  for (;;) {
    // Given back first, then what this program reserved, then reserve more.
    returned.Reset();
    returned.Text(1, request.Pool);
    int rc = returned.Step();
    if (rc == SQLITE_ROW && !durable)
      return Outcome::Durable;
    Statement *found = &returned;
    if (rc == SQLITE_DONE) {
      reserved.Reset();
      reserved.Text(1, request.Pool).Int(2, Session);
      rc = reserved.Step();
      found = &reserved;
      if (rc == SQLITE_DONE) {
        if (!durable)
          return Outcome::Dry;
        Outcome outcome = Reserve(Db, request, "reserved", error);
        if (outcome != Outcome::Claimed)
          return outcome;
        continue;
      }
    }
    if (rc != SQLITE_ROW) {
      error = Failure(failed);
      return Outcome::Failed;
    }
    const uint64_t position = uint64_t(found->ColumnInt(0));
    std::string text;
    if (!TextOf(request, position, text, error))
      return Outcome::Failed;
    taken.Reset();
    taken.Text(1, request.Field).Text(2, text).Text(3, request.Pool).Int(4, int64_t(position));
    rc = taken.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      error = Failure(failed);
      return Outcome::Failed;
    }
    const bool skip = rc == SQLITE_ROW;
    // A skipped position is told to the line; a claimed one once settled.
    update.Reset();
    update.Text(1, skip ? "skipped" : "claimed")
        .Int(2, skip ? 0 : claimId)
        .Text(3, who.Station)
        .Int(4, who.Channel)
        .Text(5, now)
        .Int(6, skip ? 0 : 1)
        .Text(7, text)
        .Text(8, request.Pool)
        .Int(9, int64_t(position));
    if (update.Step() != SQLITE_DONE) {
      error = Failure(failed);
      return Outcome::Failed;
    }
    if (skip)
      continue;
    value = {request.Field, position, text};
    return Outcome::Claimed;
  }
}

bool SqliteLedger::Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) {
  Call call;
  call.IsClaim = false;
  call.Settled = &claim;
  call.End = end;
  Run(call);
  if (!call.SettledOk)
    error = std::move(call.Error);
  return call.SettledOk;
}

bool SqliteLedger::SettleInTransaction(const serial::Claim &claim, ClaimEnd end, std::string &error,
                                       bool &storeFailed) {
  const std::string failed = "The serial values of a unit cannot be settled";
  storeFailed = true;
  const bool back = end == ClaimEnd::Returned;
  Statement s(*Cached, "UPDATE serial_values SET state = ?, settled_at = ?, reported = ?, "
                       "claim = CASE WHEN ? THEN 0 ELSE claim END "
                       "WHERE claim = ? AND state = 'claimed'");
  s.Text(1, StateName(end)).Text(2, Now()).Int(3, back ? 1 : 0).Int(4, back ? 1 : 0);
  s.Int(5, int64_t(claim.Id));
  if (s.Step() != SQLITE_DONE) {
    error = Failure(failed);
    return false;
  }
  const int changed = sqlite3_changes(Db);
  Statement done(*Cached, "DELETE FROM serial_claims WHERE id = ?");
  done.Int(1, int64_t(claim.Id));
  if (done.Step() != SQLITE_DONE) {
    error = Failure(failed);
    return false;
  }
  storeFailed = false;
  if (changed != int(claim.Values.size())) {
    error = failed + ": the ledger holds " + std::to_string(changed) + " of its " +
            std::to_string(claim.Values.size()) + " values as claimed";
    return false;
  }
  return true;
}

std::vector<PoolStatus> SqliteLedger::Status(const std::vector<PoolRequest> &requests) {
  std::lock_guard lock(Mutex);
  std::vector<PoolStatus> out;
  for (const PoolRequest &request : requests) {
    PoolStatus status;
    status.Pool = request.Pool;
    status.Field = request.Field;
    uint64_t returned = 0;
    {
      Statement s(Db, "SELECT state, count(*) FROM serial_values WHERE pool = "
                      "? GROUP BY state");
      s.Text(1, request.Pool);
      while (s.Step() == SQLITE_ROW) {
        const std::string state = s.ColumnText(0);
        const uint64_t n = uint64_t(s.ColumnInt(1));
        if (state == "passed")
          status.Passed = n;
        else if (state == "spent")
          status.Spent = n;
        else if (state == "claimed")
          status.Claimed = n;
        else if (state == "skipped")
          status.Skipped = n;
        else if (state == "returned" || state == "reserved" || state == "reserving")
          returned += n;
        else if (state == "withheld")
          status.WrittenOff = n;
      }
    }
    std::optional<uint64_t> fresh;
    uint64_t freshLeft = 0;
    if (From == Source::Counter) {
      Statement s(Db, "SELECT next FROM serial_pools WHERE pool = ?");
      s.Text(1, request.Pool);
      const uint64_t next = s.Step() == SQLITE_ROW ? uint64_t(s.ColumnInt(0)) : 0;
      if (next < request.Capacity) {
        fresh = next;
        freshLeft = request.Capacity - next;
      }
    } else {
      Statement s(Db, "SELECT lease, first, end, next, released FROM "
                      "serial_leases WHERE pool = ? "
                      "ORDER BY first");
      s.Text(1, request.Pool);
      while (s.Step() == SQLITE_ROW) {
        const uint64_t end = std::min<uint64_t>(uint64_t(s.ColumnInt(2)), request.Capacity);
        const uint64_t next = uint64_t(s.ColumnInt(3));
        const bool released = s.ColumnInt(4) != 0;
        const uint64_t left = !released && next < end ? end - next : 0;
        if (left && !fresh)
          fresh = next;
        freshLeft += left;
        status.Leases.push_back("lease " + std::to_string(s.ColumnInt(0)) +
                                " held here: positions " + std::to_string(s.ColumnInt(1)) + " to " +
                                std::to_string(s.ColumnInt(2) - 1) + ", " + std::to_string(left) +
                                " left" + (released ? " (released)" : ""));
      }
    }
    status.Left = freshLeft + returned;
    if (returned) {
      // Given back first, then reserved by a program.
      Statement s(Db, "SELECT text, position FROM serial_values WHERE pool = ? "
                      "AND state IN "
                      "('returned', 'reserved', 'reserving') ORDER BY state <> "
                      "'returned', position "
                      "LIMIT 1");
      s.Text(1, request.Pool);
      std::string text, ignored;
      if (s.Step() == SQLITE_ROW) {
        text = s.ColumnText(0);
        if (text.empty() && TextOf(request, uint64_t(s.ColumnInt(1)), text, ignored))
          status.NextText = text;
        else if (!text.empty())
          status.NextText = text;
      }
    } else if (fresh) {
      std::string text, ignored;
      if (TextOf(request, *fresh, text, ignored))
        status.NextText = text;
    }
    Statement spent(Db, "SELECT text, station, channel, settled_at FROM serial_values "
                        "WHERE pool = ? AND state = 'spent' ORDER BY position");
    spent.Text(1, request.Pool);
    while (spent.Step() == SQLITE_ROW) {
      status.SpentTexts.push_back(spent.ColumnText(0));
      status.SpentOn.push_back(
          {spent.ColumnText(0), spent.ColumnText(1), int(spent.ColumnInt(2)), spent.ColumnText(3)});
    }
    out.push_back(std::move(status));
  }
  return out;
}

bool SqliteLedger::AddLease(const LocalLease &lease, std::string &why) {
  std::lock_guard lock(Mutex);
  Statement s(Db, "INSERT OR IGNORE INTO serial_leases (pool, lease, first, "
                  "end, next, released) "
                  "VALUES (?, ?, ?, ?, ?, 0)");
  s.Text(1, lease.Pool).Int(2, lease.Lease).Int(3, int64_t(lease.First)).Int(4, int64_t(lease.End));
  s.Int(5, int64_t(lease.First));
  if (s.Step() != SQLITE_DONE) {
    why = Failure("A lease cannot be kept");
    return false;
  }
  return true;
}

bool SqliteLedger::MarkLeaseReleased(const std::string &pool, int64_t lease, std::string &why) {
  std::lock_guard lock(Mutex);
  Transaction t(Db);
  if (!t.Begin(why))
    return false;
  // Its positions not yet claimed here are the line's no longer.
  Statement s(Db, "UPDATE serial_leases SET released = 1 WHERE pool = ? AND lease = ?");
  Statement held(Db, "UPDATE serial_values SET state = 'withheld', session = 0, reported = 0 "
                     "WHERE pool = ?1 AND state IN ('returned', 'reserved', 'reserving') AND "
                     "position >= "
                     "(SELECT first FROM serial_leases WHERE pool = ?1 AND lease = ?2) AND "
                     "position < (SELECT end FROM serial_leases WHERE pool = ?1 AND lease = "
                     "?2)");
  s.Text(1, pool).Int(2, lease);
  held.Text(1, pool).Int(2, lease);
  if (s.Step() != SQLITE_DONE || held.Step() != SQLITE_DONE || !t.Commit(why)) {
    why = Failure("A released lease cannot be marked");
    return false;
  }
  return true;
}

std::vector<LocalLease> SqliteLedger::Leases(const std::string &pool) {
  std::lock_guard lock(Mutex);
  std::vector<LocalLease> out;
  Statement s(Db, "SELECT pool, lease, first, end, next, released FROM serial_leases "
                  "WHERE pool = ? ORDER BY first");
  s.Text(1, pool);
  while (s.Step() == SQLITE_ROW)
    out.push_back({s.ColumnText(0), s.ColumnInt(1), uint64_t(s.ColumnInt(2)),
                   uint64_t(s.ColumnInt(3)), uint64_t(s.ColumnInt(4)), s.ColumnInt(5) != 0});
  return out;
}

uint64_t SqliteLedger::LeaseLeft(const std::string &pool) {
  static const char *const Sql =
      "SELECT (SELECT coalesce(sum(end - next), 0) FROM serial_leases WHERE pool = ?1 "
      "AND released = 0 AND next < end) + (SELECT count(*) FROM serial_values "
      "WHERE pool = ?1 AND state IN ('returned', 'reserved', 'reserving'))";
  if (ReadDb) {
    std::lock_guard lock(ReadMutex);
    Statement s(*ReadCached, Sql);
    s.Text(1, pool);
    return s.Step() == SQLITE_ROW ? uint64_t(s.ColumnInt(0)) : 0;
  }
  std::lock_guard lock(Mutex);
  Statement s(Db, Sql);
  s.Text(1, pool);
  return s.Step() == SQLITE_ROW ? uint64_t(s.ColumnInt(0)) : 0;
}

bool SqliteLedger::Unreported(size_t limit, std::vector<UnreportedValue> &out, std::string &why) {
  // What was committed is enough: a value settled meanwhile is told next
  // time.
  std::unique_lock read(ReadMutex, std::defer_lock);
  std::unique_lock write(Mutex, std::defer_lock);
  sqlite3 *db = ReadDb;
  if (db)
    read.lock();
  else {
    write.lock();
    db = Db;
  }
  out.clear();
  Statement s(db, "SELECT pool, field, position, text, state, station, channel, settled_at "
                  "FROM serial_values WHERE reported = 0 AND "
                  "state IN ('passed', 'spent', 'skipped', 'withheld') LIMIT ?");
  s.Int(1, int64_t(limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW)
    out.push_back({s.ColumnText(0), s.ColumnText(1), uint64_t(s.ColumnInt(2)), s.ColumnText(3),
                   s.ColumnText(4), s.ColumnText(5), int(s.ColumnInt(6)), s.ColumnText(7)});
  if (rc != SQLITE_DONE) {
    why = FailureOf(db, "Settled serial values cannot be read");
    return false;
  }
  return true;
}

bool SqliteLedger::MarkReported(const std::vector<UnreportedValue> &values, std::string &why) {
  // In short transactions, the connection let go between them, so that the
  // channels' batches never wait behind a long one.
  constexpr size_t Chunk = 50;
  for (size_t first = 0; first < values.size(); first += Chunk) {
    std::lock_guard lock(Mutex);
    // A mark lost to a power cut only tells the server once more.
    LightSync light(Db);
    Transaction t(Db);
    if (!t.Begin(why))
      return false;
    // Only as it was read: a value settled again meanwhile is told again.
    Statement s(*Cached, "UPDATE serial_values SET reported = 1 WHERE pool = ? AND position = ? "
                         "AND state = ?");
    for (size_t i = first; i < std::min(values.size(), first + Chunk); ++i) {
      const UnreportedValue &v = values[i];
      s.Reset();
      s.Text(1, v.Pool).Int(2, int64_t(v.Position)).Text(3, v.State);
      if (s.Step() != SQLITE_DONE) {
        why = Failure("Reported serial values cannot be marked");
        return false;
      }
    }
    if (!t.Commit(why))
      return false;
  }
  return true;
}

} // namespace kestrune::serial
