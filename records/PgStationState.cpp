#include "records/PgStationState.h"

#include <pqxx/pqxx>

#include <algorithm>

namespace kestrune::records {
namespace {

const char *const CreateStateTable = R"sql(
CREATE TABLE IF NOT EXISTS kestrune_station_state (
  station text NOT NULL,
  channel integer NOT NULL,
  port text NOT NULL DEFAULT '',
  phase text NOT NULL DEFAULT '',
  percent double precision NOT NULL DEFAULT 0,
  serials text NOT NULL DEFAULT '',
  last_outcome text NOT NULL DEFAULT '',
  last_text text NOT NULL DEFAULT '',
  image_sha256 text NOT NULL DEFAULT '',
  job text NOT NULL DEFAULT '',
  updated timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (station, channel)
);
CREATE INDEX IF NOT EXISTS kestrune_station_state_updated ON kestrune_station_state (updated);
)sql";

// Any number, taken by every station that creates the table; not the
// records table's, so that neither waits for the other.
constexpr long long StateTableLock = 0x4B655374;

} // namespace

void EnsureStateTable(pqxx::connection_base &connection) {
  pqxx::work work(connection);
  work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(StateTableLock) + ")");
  work.exec(CreateStateTable);
  work.commit();
}

void WriteStationState(pqxx::connection_base &connection, const std::string &station,
                       const std::vector<ChannelState> &channels) {
  pqxx::work work(connection);
  auto q = [&work](const auto &value) { return work.quote(value); };
  int highest = 0;
  if (!channels.empty()) {
    // One statement for the station: one round trip.
    std::string sql = "INSERT INTO kestrune_station_state (station, channel, port, phase, "
                      "percent, serials, last_outcome, last_text, image_sha256, job, updated) "
                      "VALUES ";
    for (size_t i = 0; i < channels.size(); ++i) {
      const ChannelState &c = channels[i];
      highest = std::max(highest, c.Channel);
      sql += (i ? ",(" : "(") + q(station) + "," + q(c.Channel) + "," + q(c.Port) + "," +
             q(c.Phase) + "," + q(c.Percent) + "," + q(c.Serials) + "," + q(c.LastOutcome) +
             "," + q(c.LastText) + "," + q(c.ImageSha256) + "," + q(c.Job) + ",now())";
    }
    sql += " ON CONFLICT (station, channel) DO UPDATE SET port = EXCLUDED.port, "
           "phase = EXCLUDED.phase, percent = EXCLUDED.percent, serials = EXCLUDED.serials, "
           "last_outcome = EXCLUDED.last_outcome, last_text = EXCLUDED.last_text, "
           "image_sha256 = EXCLUDED.image_sha256, job = EXCLUDED.job, updated = now()";
    work.exec(sql);
  }
  // A station started again with fewer ports leaves no stale tiles behind.
  work.exec("DELETE FROM kestrune_station_state WHERE station = " + q(station) +
            " AND channel > " + q(highest));
  work.commit();
}

} // namespace kestrune::records
