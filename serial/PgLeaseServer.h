// The line's side of the serial values, on its PostgreSQL server: each
// pool's next position never leased, the leases handed to stations (a
// range each, taken in one transaction, so that two stations never hold
// one position) and the settled values the stations report.
#pragma once

#include "serial/SqliteLedger.h"

#include <pqxx/pqxx>

#include <optional>
#include <string>
#include <vector>

namespace kestrune::serial {

void EnsureLeaseTables(pqxx::connection_base &server);

// The next lease of pool for station: at most size positions, never past
// capacity. Nothing once the pool's range is all leased.
std::optional<LocalLease> TakeLease(pqxx::connection_base &server, const PoolRequest &request,
                                    const std::string &station, uint64_t size);

void ReportValues(pqxx::connection_base &server, std::vector<UnreportedValue> values);

// The leases of station that a command released.
std::vector<LocalLease> ReleasedLeasesOf(pqxx::connection_base &server, const std::string &station);

// Releases every lease station holds in the pools named (all pools when
// none is named); the count released. What they still held is written
// off: the station may have used it while away from the server.
int ReleaseLeasesOf(pqxx::connection_base &server, const std::string &station,
                    const std::vector<std::string> &pools);

struct ServerLease {
  int64_t Lease = 0;
  std::string Station;
  uint64_t First = 0;
  uint64_t End = 0;
  uint64_t Used = 0; // passed, spent or skipped values reported from it
  bool Released = false;
};

struct ServerPool {
  uint64_t Next = 0; // the first position never leased
  std::vector<ServerLease> Leases;
  // Never to be handed out: withheld by stations after a crash, or left
  // unused in a released lease.
  uint64_t WrittenOff = 0;
};

ServerPool ServerPoolState(pqxx::connection_base &server, const std::string &pool);

} // namespace kestrune::serial
