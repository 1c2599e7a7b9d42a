#include "serial/PgLeaseLedger.h"

#include "records/ServerLink.h"
#include "records/PgRecords.h"
#include "records/QuietThread.h"
#include "records/ServerAddress.h"
#include "serial/PgLeaseServer.h"

#include <algorithm>

namespace kestrune::serial {
namespace {

constexpr std::chrono::milliseconds Interval{500};
// Between two rounds of the thread while units keep coming: settled values
// are told in batches, and the station's database is not kept busy with
// marking them told while the channels write to it.
constexpr std::chrono::milliseconds Pace{50};
constexpr std::chrono::milliseconds LongestRetry{5000};
constexpr std::chrono::milliseconds StopWait{2000};
// At the stop, a server that ends no round within this is not waited for.
constexpr std::chrono::milliseconds SilentAtStop{500};
constexpr size_t ReportBatch = 500;

std::string ServerText(const std::exception &failure) {
  return records::ServerFailureText(failure);
}

std::string SecondsText(std::chrono::milliseconds time) {
  const auto ms = time.count();
  if (ms % 1000 == 0)
    return std::to_string(ms / 1000) + " s";
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

// Why the server was lost: its silence, when that cut the call.
std::string FailureText(const records::ServerLink &link, const std::exception &failure) {
  if (link.Silent())
    return "it did not answer within " + SecondsText(link.Silence);
  return ServerText(failure);
}

} // namespace

std::unique_ptr<PgLeaseLedger> PgLeaseLedger::Open(const LedgerPlace &place, std::string &why) {
  const std::string url = place.ServerUrl.value_or("");
  if (std::string problem = records::ServerAddressProblem(url); !problem.empty()) {
    why = "the line's server address cannot be read: " + problem;
    return nullptr;
  }
  auto local = SqliteLedger::Open(place.StationDatabase, why, SqliteLedger::Source::Leases);
  if (!local)
    return nullptr;
  return std::unique_ptr<PgLeaseLedger>(new PgLeaseLedger(place, std::move(local)));
}

PgLeaseLedger::PgLeaseLedger(const LedgerPlace &place, std::unique_ptr<SqliteLedger> local)
    : Place(place), Url(records::WithClientLimits(place.ServerUrl.value_or(""))),
      Local(std::move(local)) {
  Thread = std::thread([this] { Main(); });
}

PgLeaseLedger::~PgLeaseLedger() {
  // Settled values are told while the server answers; a server known away,
  // or one that ends no round for a while, is left to the next start.
  std::vector<UnreportedValue> untold;
  std::string why;
  if (Local->Unreported(1, untold, why) && untold.empty()) {
    Stop();
    return;
  }
  Wake();
  std::unique_lock lock(Mutex);
  Urgent = true;
  Changed.notify_all();
  const auto until = std::chrono::steady_clock::now() + StopWait;
  while (!Down && !AllReported && !Ended) {
    const uint64_t rounds = Rounds;
    const bool moved = Changed.wait_for(lock, SilentAtStop, [&] {
      return Down || AllReported || Ended || Rounds != rounds;
    });
    if (!moved || std::chrono::steady_clock::now() >= until)
      break;
  }
  lock.unlock();
  Stop();
}

uint64_t PgLeaseLedger::Low() const { return std::max<uint64_t>(1, Place.LeaseSize / 4); }

void PgLeaseLedger::Wake() {
  std::lock_guard lock(Mutex);
  Woken = true;
  AllReported = false;
  Changed.notify_all();
}

void PgLeaseLedger::Stop() {
  {
    std::lock_guard lock(Mutex);
    Stopping = true;
    Changed.notify_all();
    // A call under way ends at once: what it was telling stays marked
    // untold here, and telling it again is harmless.
    if (Current)
      Current->Cut();
  }
  if (Thread.joinable())
    Thread.join();
}

void PgLeaseLedger::ServerLost(const std::string &why) {
  std::lock_guard lock(Mutex);
  LastFailure = why;
  Changed.notify_all();
  if (Down)
    return;
  Down = true;
  if (Place.Notice)
    Place.Notice(records::WithoutPassword(
        "Serial values: the line's server cannot be reached (" + why +
            "); this station goes on with the values its leases hold",
        Url));
}

void PgLeaseLedger::ServerBack() {
  std::lock_guard lock(Mutex);
  if (!Down)
    return;
  Down = false;
  if (Place.Notice)
    Place.Notice("Serial values: the line's server answers again");
}

void PgLeaseLedger::Remember(const std::vector<PoolRequest> &requests) {
  bool low = false;
  for (const PoolRequest &request : requests)
    low = low || Local->LeaseLeft(request.Pool) < Low();
  std::lock_guard lock(Mutex);
  for (const PoolRequest &request : requests) {
    PoolRequest bare = request;
    bare.TextAt = nullptr; // the thread needs no texts, and the source may not outlive the run
    Known[request.Pool] = std::move(bare);
  }
  Woken = true;
  AllReported = false;
  if (low) {
    Urgent = true;
    Changed.notify_all();
  }
}

bool PgLeaseLedger::Claim(const std::vector<PoolRequest> &requests, const Claimant &who,
                          serial::Claim &claim, std::string &error) {
  for (;;) {
    std::string pool;
    SqliteLedger::Outcome outcome = Local->TryClaim(requests, who, claim, error, pool);
    if (outcome == SqliteLedger::Outcome::Claimed) {
      Remember(requests);
      return true;
    }
    if (outcome == SqliteLedger::Outcome::Failed)
      return false;
    auto request = std::find_if(requests.begin(), requests.end(),
                                [&](const PoolRequest &r) { return r.Pool == pool; });
    std::lock_guard lock(LeaseMutex);
    // Another channel may have taken one meanwhile.
    if (Local->LeaseLeft(pool) > 0)
      continue;
    if (!TakeLeaseNow(*request, error))
      return false;
  }
}

bool PgLeaseLedger::TakeLeaseNow(const PoolRequest &request, std::string &error) {
  {
    // Known away: the ledger's thread tries again and says when it is
    // back; a channel is not kept waiting on a connection meanwhile.
    std::lock_guard lock(Mutex);
    if (Down) {
      Woken = true;
      Changed.notify_all();
      error = "Serial values of " + request.Field +
              ": this station's leases hold no value left and the line's server cannot be "
              "reached (it did not answer at the latest try)";
      return false;
    }
  }
  records::ServerLink link;
  try {
    link.Connect(Url, Place.ServerSilence);
    EnsureLeaseTables(*link.Server);
    std::optional<LocalLease> lease =
        TakeLease(*link.Server, request, Place.Station, Place.LeaseSize);
    ServerBack();
    if (!lease) {
      error = RangeUsedUpText(request);
      return false;
    }
    std::string why;
    if (!Local->AddLease(*lease, why)) {
      error = why;
      return false;
    }
    return true;
  } catch (const std::exception &failure) {
    const std::string why = FailureText(link, failure);
    ServerLost(why);
    error = records::WithoutPassword("Serial values of " + request.Field +
                                         ": this station's leases hold no value left and the "
                                         "line's server cannot be reached (" + why + ")",
                                     Url);
    return false;
  }
}

bool PgLeaseLedger::Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) {
  if (!Local->Settle(claim, end, error))
    return false;
  if (end != ClaimEnd::Returned)
    Wake();
  return true;
}

bool PgLeaseLedger::WaitReported(std::chrono::milliseconds wait) {
  Wake();
  std::unique_lock lock(Mutex);
  Urgent = true;
  Changed.notify_all();
  return Changed.wait_for(lock, wait, [this] { return AllReported || Ended; }) && AllReported;
}

void PgLeaseLedger::Cycle(pqxx::connection_base &server) {
  for (const LocalLease &lease : ReleasedLeasesOf(server, Place.Station)) {
    std::string why;
    Local->MarkLeaseReleased(lease.Pool, lease.Lease, why);
  }
  bool reportedAll = false;
  while (!reportedAll) {
    {
      std::lock_guard lock(Mutex);
      if (Stopping)
        return;
    }
    std::vector<UnreportedValue> values;
    std::string why;
    if (!Local->Unreported(ReportBatch, values, why))
      return;
    ReportValues(server, values);
    if (!Local->MarkReported(values, why))
      return;
    reportedAll = values.size() < ReportBatch;
    std::lock_guard lock(Mutex);
    ++Rounds;
    Changed.notify_all();
  }
  std::map<std::string, PoolRequest> known;
  {
    std::lock_guard lock(Mutex);
    known = Known;
  }
  for (const auto &[pool, request] : known) {
    std::lock_guard lock(LeaseMutex);
    if (Local->LeaseLeft(pool) >= Low())
      continue;
    std::optional<LocalLease> lease = TakeLease(server, request, Place.Station, Place.LeaseSize);
    std::string why;
    if (lease)
      Local->AddLease(*lease, why);
  }
  std::set<std::string> watched;
  {
    std::lock_guard lock(Mutex);
    watched = Watched;
  }
  for (const auto &[pool, request] : known)
    watched.insert(pool);
  std::map<std::string, ServerPool> state;
  for (const std::string &pool : watched)
    state[pool] = ServerPoolState(server, pool);
  std::lock_guard lock(Mutex);
  for (auto &[pool, figures] : state)
    LineState[pool] = std::move(figures);
  if (!Woken)
    AllReported = true;
  ++Rounds;
  Changed.notify_all();
}

void PgLeaseLedger::Main() {
  records::BlockProcessSignals();
  std::unique_ptr<records::ServerLink> link;
  auto drop = [&] {
    {
      std::lock_guard lock(Mutex);
      Current = nullptr;
    }
    link.reset();
  };
  auto retry = Interval;
  for (;;) {
    {
      std::unique_lock lock(Mutex);
      Changed.wait_for(lock, retry, [this] { return Woken || Stopping; });
      if (Stopping)
        break;
      Woken = false;
    }
    try {
      if (!link) {
        link = std::make_unique<records::ServerLink>();
        {
          std::lock_guard lock(Mutex);
          Current = &link->Cut;
          // Stopped since the last look: not one more call.
          if (Stopping)
            link->Cut.Cut();
        }
        link->Connect(Url, Place.ServerSilence);
        EnsureLeaseTables(*link->Server);
        ServerBack();
      }
      link->Watch->Heard();
      Cycle(*link->Server);
      link->Watch->Heard();
      retry = Interval;
      std::unique_lock lock(Mutex);
      Changed.wait_for(lock, Pace, [this] { return Urgent || Stopping; });
      Urgent = false;
    } catch (const std::exception &failure) {
      const std::string why = link ? FailureText(*link, failure) : ServerText(failure);
      drop();
      {
        std::lock_guard lock(Mutex);
        if (Stopping)
          break;
      }
      ServerLost(why);
      retry = std::min(retry * 2, LongestRetry);
    }
  }
  drop();
  std::lock_guard lock(Mutex);
  Ended = true;
  Changed.notify_all();
}

bool PgLeaseLedger::LineRead(const std::vector<PoolRequest> &requests) const {
  return std::all_of(requests.begin(), requests.end(),
                     [this](const PoolRequest &r) { return LineState.count(r.Pool) > 0; });
}

std::vector<PoolStatus> PgLeaseLedger::Status(const std::vector<PoolRequest> &requests) {
  std::vector<PoolStatus> out = Local->Status(requests);
  // The line's figures as the ledger's thread last read them. A pool not
  // read yet is read at the thread's next round, which is waited for here
  // no longer than the place allows and never while the server is known
  // to be away: the window asks often, on its own thread, and must not wait.
  std::map<std::string, ServerPool> line;
  bool down = false;
  std::string why;
  {
    std::unique_lock lock(Mutex);
    for (const PoolRequest &request : requests)
      Watched.insert(request.Pool);
    if (!LineRead(requests) && !Down) {
      Woken = true;
      Urgent = true;
      Changed.notify_all();
      Changed.wait_for(lock, Place.StatusWait,
                       [&] { return LineRead(requests) || Down || Ended; });
    }
    down = Down;
    why = down ? LastFailure : "";
    for (const PoolRequest &request : requests) {
      auto known = LineState.find(request.Pool);
      if (known != LineState.end())
        line[request.Pool] = known->second;
    }
  }
  for (size_t i = 0; i < requests.size(); ++i) {
    PoolStatus &status = out[i];
    auto found = line.find(requests[i].Pool);
    if (found == line.end()) {
      status.StationOnly = true;
      status.Leases.push_back(records::WithoutPassword(
          down ? "the line's server cannot be reached" + (why.empty() ? "" : " (" + why + ")") +
                     ": these are this station's leases only"
               : std::string("the line's figures are not read from its server yet: these are "
                             "this station's leases only"),
          Url));
      continue;
    }
    const ServerPool &pool = found->second;
    if (pool.Next < requests[i].Capacity) {
      status.Left += requests[i].Capacity - pool.Next;
      // This station's leases hold nothing: its next value starts the next
      // lease the line hands out.
      if (!status.NextText && requests[i].TextAt) {
        try {
          status.NextText = requests[i].TextAt(pool.Next);
        } catch (const std::exception &) {
          // Said by the claim that meets it, with its reason.
        }
      }
    }
    // The line's figures for all its stations, as far as they reported.
    status.WrittenOff = pool.WrittenOff;
    status.Leases.clear();
    for (const ServerLease &lease : pool.Leases)
      status.Leases.push_back("lease " + std::to_string(lease.Lease) + ": station " +
                              lease.Station + ", positions " + std::to_string(lease.First) +
                              " to " + std::to_string(lease.End - 1) + ", " +
                              std::to_string(lease.Used) + " used" +
                              (lease.Released ? " (released)" : ""));
    if (down)
      status.Leases.push_back("the line's server cannot be reached: its figures are from when "
                              "it last answered");
  }
  return out;
}

} // namespace kestrune::serial
