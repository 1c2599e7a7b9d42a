#include "serial/PgLeaseServer.h"

#include <algorithm>

namespace kestrune::serial {
namespace {

// Serialises the tables' creation by clients that start together.
constexpr int64_t TablesLock = 0x4b53455231; // "KSER1"

const char *const CreateTables = R"sql(
CREATE TABLE IF NOT EXISTS kestrune_serial_pools (
  pool TEXT PRIMARY KEY,
  field TEXT NOT NULL,
  next BIGINT NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS kestrune_serial_leases (
  id BIGSERIAL PRIMARY KEY,
  pool TEXT NOT NULL REFERENCES kestrune_serial_pools (pool),
  station TEXT NOT NULL,
  first BIGINT NOT NULL,
  "end" BIGINT NOT NULL,
  taken TIMESTAMPTZ NOT NULL DEFAULT now(),
  released TIMESTAMPTZ
);
CREATE INDEX IF NOT EXISTS kestrune_serial_leases_station ON kestrune_serial_leases (station);
CREATE TABLE IF NOT EXISTS kestrune_serial_values (
  pool TEXT NOT NULL,
  position BIGINT NOT NULL,
  field TEXT NOT NULL,
  text TEXT NOT NULL,
  state TEXT NOT NULL,
  station TEXT NOT NULL,
  channel INTEGER NOT NULL,
  settled TEXT NOT NULL,
  PRIMARY KEY (pool, position)
);
)sql";

} // namespace

void EnsureLeaseTables(pqxx::connection_base &server) {
  pqxx::work work(server);
  work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(TablesLock) + ")");
  work.exec(CreateTables);
  work.commit();
}

std::optional<LocalLease> TakeLease(pqxx::connection_base &server, const PoolRequest &request,
                                    const std::string &station, uint64_t size) {
  pqxx::work work(server);
  work.exec_params("INSERT INTO kestrune_serial_pools (pool, field) VALUES ($1, $2) "
                   "ON CONFLICT (pool) DO NOTHING",
                   request.Pool, request.Field);
  // The row's lock makes stations take their leases one after another.
  pqxx::result row =
      work.exec_params("SELECT next FROM kestrune_serial_pools WHERE pool = $1 FOR UPDATE",
                       request.Pool);
  const uint64_t next = row[0][0].as<uint64_t>();
  if (next >= request.Capacity)
    return std::nullopt;
  const uint64_t end = std::min(request.Capacity, next + std::max<uint64_t>(size, 1));
  work.exec_params("UPDATE kestrune_serial_pools SET next = $2 WHERE pool = $1", request.Pool,
                   int64_t(end));
  pqxx::result id = work.exec_params("INSERT INTO kestrune_serial_leases (pool, station, first, "
                                     "\"end\") VALUES ($1, $2, $3, $4) RETURNING id",
                                     request.Pool, station, int64_t(next), int64_t(end));
  LocalLease lease{request.Pool, id[0][0].as<int64_t>(), next, end, next, false};
  work.commit();
  return lease;
}

void ReportValues(pqxx::connection_base &server, std::vector<UnreportedValue> values) {
  if (values.empty())
    return;
  // One key order for every station: no two wait on each other in a circle.
  std::sort(values.begin(), values.end(), [](const auto &a, const auto &b) {
    return std::tie(a.Pool, a.Position) < std::tie(b.Pool, b.Position);
  });
  pqxx::work work(server);
  std::string sql = "INSERT INTO kestrune_serial_values (pool, position, field, text, state, "
                    "station, channel, settled) VALUES ";
  for (size_t i = 0; i < values.size(); ++i) {
    const UnreportedValue &v = values[i];
    sql += (i ? ",(" : "(") + work.quote(v.Pool) + "," + work.quote(int64_t(v.Position)) + "," +
           work.quote(v.Field) + "," + work.quote(v.Text) + "," + work.quote(v.State) + "," +
           work.quote(v.Station) + "," + work.quote(v.Channel) + "," + work.quote(v.When) + ")";
  }
  sql += " ON CONFLICT (pool, position) DO UPDATE SET state = EXCLUDED.state, "
         "station = EXCLUDED.station, channel = EXCLUDED.channel, settled = EXCLUDED.settled";
  work.exec(sql);
  work.commit();
}

std::vector<LocalLease> ReleasedLeasesOf(pqxx::connection_base &server,
                                         const std::string &station) {
  pqxx::read_transaction work(server);
  pqxx::result rows = work.exec_params("SELECT pool, id, first, \"end\" FROM kestrune_serial_leases "
                                       "WHERE station = $1 AND released IS NOT NULL",
                                       station);
  std::vector<LocalLease> out;
  for (const auto &row : rows)
    out.push_back({row[0].as<std::string>(), row[1].as<int64_t>(), row[2].as<uint64_t>(),
                   row[3].as<uint64_t>(), row[3].as<uint64_t>(), true});
  return out;
}

int ReleaseLeasesOf(pqxx::connection_base &server, const std::string &station,
                    const std::vector<std::string> &pools) {
  pqxx::work work(server);
  std::string sql = "UPDATE kestrune_serial_leases SET released = now() WHERE station = " +
                    work.quote(station) + " AND released IS NULL";
  if (!pools.empty()) {
    sql += " AND pool IN (";
    for (size_t i = 0; i < pools.size(); ++i)
      sql += (i ? "," : "") + work.quote(pools[i]);
    sql += ")";
  }
  pqxx::result done = work.exec(sql);
  work.commit();
  return int(done.affected_rows());
}

ServerPool ServerPoolState(pqxx::connection_base &server, const std::string &pool) {
  pqxx::read_transaction work(server);
  ServerPool out;
  pqxx::result next = work.exec_params("SELECT next FROM kestrune_serial_pools WHERE pool = $1", pool);
  if (!next.empty())
    out.Next = next[0][0].as<uint64_t>();
  pqxx::result rows = work.exec_params(
      "SELECT l.id, l.station, l.first, l.\"end\", l.released IS NOT NULL, "
      "(SELECT count(*) FROM kestrune_serial_values v WHERE v.pool = l.pool AND "
      "v.position >= l.first AND v.position < l.\"end\" AND v.state <> 'withheld'), "
      "(SELECT count(*) FROM kestrune_serial_values v WHERE v.pool = l.pool AND "
      "v.position >= l.first AND v.position < l.\"end\" AND v.state = 'withheld') "
      "FROM kestrune_serial_leases l WHERE l.pool = $1 ORDER BY l.first",
      pool);
  for (const auto &row : rows) {
    ServerLease lease{row[0].as<int64_t>(), row[1].as<std::string>(), row[2].as<uint64_t>(),
                      row[3].as<uint64_t>(), row[5].as<uint64_t>(), row[4].as<bool>()};
    const uint64_t size = lease.End - lease.First;
    out.WrittenOff += lease.Released ? size - std::min(size, lease.Used) : row[6].as<uint64_t>();
    out.Leases.push_back(std::move(lease));
  }
  return out;
}

} // namespace kestrune::serial
