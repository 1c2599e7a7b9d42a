#include "records/PgRecords.h"

#include "records/SerialsText.h"

#include <pqxx/pqxx>

#include <algorithm>

namespace kestrune::records {
namespace {

const char *const CreateTable = R"sql(
CREATE TABLE IF NOT EXISTS kestrune_records (
  id uuid PRIMARY KEY,
  started timestamptz NOT NULL,
  ended timestamptz NOT NULL,
  station text NOT NULL,
  channel integer NOT NULL,
  port text NOT NULL,
  port_stable_name text NOT NULL DEFAULT '',
  image_path text NOT NULL DEFAULT '',
  image_size bigint NOT NULL DEFAULT 0,
  image_sha256 text NOT NULL DEFAULT '',
  ram_program_sha256 text NOT NULL DEFAULT '',
  speed integer NOT NULL DEFAULT 0,
  identification text NOT NULL DEFAULT '',
  outcome text NOT NULL,
  final_status text NOT NULL DEFAULT '',
  error_code bigint NOT NULL DEFAULT 0,
  failure_c bigint,
  failure_s bigint,
  blocks_resent integer NOT NULL DEFAULT 0,
  bytes_sent bigint NOT NULL DEFAULT 0,
  seconds double precision NOT NULL DEFAULT 0,
  program_version text NOT NULL DEFAULT '',
  received timestamptz NOT NULL DEFAULT now()
);
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS unit boolean NOT NULL DEFAULT true;
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS chosen_file text NOT NULL DEFAULT '';
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS serials json NOT NULL DEFAULT '{}';
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS sent_sha256 text NOT NULL DEFAULT '';
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS job_name text NOT NULL DEFAULT '';
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS job_version text NOT NULL DEFAULT '';
ALTER TABLE kestrune_records ADD COLUMN IF NOT EXISTS job_sha256 text NOT NULL DEFAULT '';
CREATE INDEX IF NOT EXISTS kestrune_records_started ON kestrune_records (started);
CREATE INDEX IF NOT EXISTS kestrune_records_station ON kestrune_records (station, channel);
)sql";

// Any number, taken by every client that creates the table.
constexpr long long TableLock = 0x4B657374;

const char *const InsertColumns =
    "INSERT INTO kestrune_records (id, started, ended, station, channel, port, "
    "port_stable_name, image_path, image_size, image_sha256, ram_program_sha256, speed, "
    "identification, outcome, final_status, error_code, failure_c, failure_s, blocks_resent, "
    "bytes_sent, seconds, program_version, unit, chosen_file, serials, sent_sha256, job_name, "
    "job_version, job_sha256) VALUES ";

const char *const Select =
    "SELECT id::text, to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "to_char(ended AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), station, channel, "
    "port, port_stable_name, image_path, image_size, image_sha256, ram_program_sha256, speed, "
    "identification, outcome, final_status, error_code, failure_c, failure_s, blocks_resent, "
    "bytes_sent, seconds, program_version, unit, chosen_file, serials::text, sent_sha256, "
    "job_name, job_version, job_sha256 "
    "FROM kestrune_records WHERE true";

// Rows fetched from the cursor at a time: the memory a listing takes.
constexpr int FetchSize = 500;

std::string WithValues(pqxx::transaction_base &work, const RecordFilter &filter) {
  std::string sql = Select;
  if (!filter.Since.empty())
    sql += " AND started >= " + work.quote(filter.Since) + "::timestamptz";
  if (!filter.Station.empty())
    sql += " AND station = " + work.quote(filter.Station);
  if (!filter.Serial.empty())
    sql += " AND EXISTS (SELECT 1 FROM json_each_text(serials) WHERE value = " +
           work.quote(filter.Serial) + ")";
  if (!filter.JobName.empty())
    sql += " AND job_name = " + work.quote(filter.JobName);
  if (!filter.JobVersion.empty())
    sql += " AND job_version = " + work.quote(filter.JobVersion);
  return sql + " ORDER BY started DESC, channel DESC";
}

std::optional<uint32_t> OptionalField(const pqxx::field &f) {
  if (f.is_null())
    return std::nullopt;
  return f.as<uint32_t>();
}

} // namespace

std::string ServerFailureText(const std::exception &failure) {
  std::string what = failure.what();
  std::string reason = what.substr(0, what.find('\n'));
  if (reason.empty())
    reason = "no reason given";
  if (!dynamic_cast<const pqxx::broken_connection *>(&failure))
    return reason;
  // pqxx's text for a connection it finds already closed names only the
  // encoding it could not ask for.
  if (reason.find("client encoding") != std::string::npos)
    reason = "the connection was found closed";
  return "the server went away: " + reason;
}

void EnsurePgTable(pqxx::connection_base &connection) {
  pqxx::work work(connection);
  // Two clients creating the table at once would otherwise collide.
  work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(TableLock) + ")");
  work.exec(CreateTable);
  work.commit();
}

void InsertPg(pqxx::connection_base &connection, std::vector<Record> records) {
  if (records.empty())
    return; // no statement to send: VALUES needs a row
  // One key order for every client: two clients sending overlapping records
  // then never wait for each other in a circle.
  std::sort(records.begin(), records.end(),
            [](const Record &a, const Record &b) { return a.Id < b.Id; });
  // One statement for the batch: one round trip to the server.
  pqxx::work work(connection);
  auto q = [&work](const auto &value) { return work.quote(value); };
  auto optional = [&work](const std::optional<uint32_t> &value) {
    return value ? work.quote(*value) : std::string("NULL");
  };
  std::string sql = InsertColumns;
  for (size_t i = 0; i < records.size(); ++i) {
    const Record &r = records[i];
    sql += (i ? ",(" : "(") + q(r.Id) + "," + q(r.Started) + "," + q(r.Ended) + "," +
           q(r.Station) + "," + q(r.Channel) + "," + q(r.Port) + "," + q(r.PortStableName) +
           "," + q(r.ImagePath) + "," + q(r.ImageSize) + "," + q(r.ImageSha256) + "," +
           q(r.RamProgramSha256) + "," + q(r.Speed) + "," + q(r.Identification) + "," +
           q(r.Outcome) + "," + q(r.FinalStatus) + "," + q(r.ErrorCode) + "," +
           optional(r.FailureC) + "," + optional(r.FailureS) + "," + q(r.BlocksResent) + "," +
           q(r.BytesSent) + "," + q(r.Seconds) + "," + q(r.ProgramVersion) + "," +
           (r.Unit ? "true" : "false") + "," + q(r.ChosenFile) + "," +
           q(SerialsToJson(r.Serials)) + "::json," + q(r.SentSha256) + "," + q(r.JobName) + "," +
           q(r.JobVersion) + "," + q(r.JobSha256) + ")";
  }
  sql += " ON CONFLICT (id) DO NOTHING";
  work.exec(sql);
  work.commit();
}

void ForEachPg(pqxx::connection_base &connection, const RecordFilter &filter,
               const std::function<void(const Record &)> &take) {
  // A cursor on the server: rows come a chunk at a time, however many
  // there are.
  pqxx::read_transaction work(connection);
  work.exec("DECLARE kestrune_listing NO SCROLL CURSOR FOR " + WithValues(work, filter));
  const std::string fetch = "FETCH " + std::to_string(FetchSize) + " FROM kestrune_listing";
  for (;;) {
    pqxx::result rows = work.exec(fetch);
    if (rows.empty())
      break;
    for (const auto &row : rows) {
      Record r;
      r.Id = row[0].as<std::string>();
      r.Started = row[1].as<std::string>();
      r.Ended = row[2].as<std::string>();
      r.Station = row[3].as<std::string>();
      r.Channel = row[4].as<int>();
      r.Port = row[5].as<std::string>();
      r.PortStableName = row[6].as<std::string>();
      r.ImagePath = row[7].as<std::string>();
      r.ImageSize = row[8].as<uint64_t>();
      r.ImageSha256 = row[9].as<std::string>();
      r.RamProgramSha256 = row[10].as<std::string>();
      r.Speed = row[11].as<uint32_t>();
      r.Identification = row[12].as<std::string>();
      r.Outcome = row[13].as<std::string>();
      r.FinalStatus = row[14].as<std::string>();
      r.ErrorCode = row[15].as<uint32_t>();
      r.FailureC = OptionalField(row[16]);
      r.FailureS = OptionalField(row[17]);
      r.BlocksResent = row[18].as<uint32_t>();
      r.BytesSent = row[19].as<uint64_t>();
      r.Seconds = row[20].as<double>();
      r.ProgramVersion = row[21].as<std::string>();
      r.Unit = row[22].as<bool>();
      r.ChosenFile = row[23].as<std::string>();
      r.Serials = SerialsFromJson(row[24].as<std::string>());
      r.SentSha256 = row[25].as<std::string>();
      r.JobName = row[26].as<std::string>();
      r.JobVersion = row[27].as<std::string>();
      r.JobSha256 = row[28].as<std::string>();
      take(r);
    }
  }
}

std::vector<Record> ListPg(pqxx::connection_base &connection, const RecordFilter &filter) {
  std::vector<Record> out;
  ForEachPg(connection, filter, [&out](const Record &r) { out.push_back(r); });
  return out;
}

} // namespace kestrune::records
