#include "line/LineQueries.h"

#include <pqxx/pqxx>

#include <cctype>

namespace kestrune::line {
namespace {

using nlohmann::json;

const char *const IsoTime = "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'";

// The filters as parameters $1 to $5: from, to, station, job, image.
std::string RecordFilterSql(const LineSchema &schema) {
  std::string sql = " AND ($1 = '' OR started >= $1::timestamptz)"
                    " AND ($2 = '' OR started < $2::timestamptz)"
                    " AND ($3 = '' OR station = $3)";
  // Without the jobs' field no record belongs to a job.
  sql += schema.JobName ? " AND ($4 = '' OR job_name = $4)" : " AND $4 = ''";
  sql += " AND ($5 = '' OR image_sha256 = $5 OR sent_sha256 = $5)";
  return sql;
}

pqxx::result Run(pqxx::transaction_base &work, const std::string &sql, const LineFilter &f) {
  return work.exec_params(sql, f.From, f.To, f.Station, f.Job, f.Image);
}

template <typename Extra>
pqxx::result Run(pqxx::transaction_base &work, const std::string &sql, const LineFilter &f,
                 const Extra &extra) {
  return work.exec_params(sql, f.From, f.To, f.Station, f.Job, f.Image, extra);
}

json Ratio(long long part, long long whole) {
  if (whole == 0)
    return nullptr;
  return double(part) / double(whole);
}

} // namespace

bool LooksLikeRecordId(const std::string &text) {
  if (text.size() != 36)
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
      return false;
  }
  return true;
}

json QueryStations(pqxx::connection_base &connection, const LineSchema &schema,
                   const LineFilter &filter, std::chrono::seconds offlineAfter) {
  json out = json::array();
  if (!schema.State)
    return out;
  pqxx::read_transaction work(connection);
  const std::string sql =
      std::string("SELECT station, channel, port, phase, percent, serials, last_outcome, "
                  "last_text, image_sha256, job, to_char(updated AT TIME ZONE 'UTC', ") +
      IsoTime + "), extract(epoch FROM now() - updated)::float8 "
                "FROM kestrune_station_state WHERE ($1 = '' OR station = $1) "
                "AND ($2 = '' OR job = $2) AND ($3 = '' OR image_sha256 = $3) "
                "ORDER BY station, channel";
  pqxx::result rows = work.exec_params(sql, filter.Station, filter.Job, filter.Image);
  for (const auto &row : rows) {
    const std::string station = row[0].as<std::string>();
    const double age = row[11].as<double>();
    if (out.empty() || out.back()["station"] != station)
      out.push_back({{"station", station}, {"online", false},
                     {"seconds_since_update", age}, {"updated", row[10].as<std::string>()},
                     {"channels", json::array()}});
    json &entry = out.back();
    // The station's newest write tells whether it still runs.
    if (age < entry["seconds_since_update"].get<double>()) {
      entry["seconds_since_update"] = age;
      entry["updated"] = row[10].as<std::string>();
    }
    entry["online"] = entry["seconds_since_update"].get<double>() < double(offlineAfter.count());
    entry["channels"].push_back({{"channel", row[1].as<int>()},
                                 {"port", row[2].as<std::string>()},
                                 {"phase", row[3].as<std::string>()},
                                 {"percent", row[4].as<double>()},
                                 {"serials", row[5].as<std::string>()},
                                 {"last_outcome", row[6].as<std::string>()},
                                 {"last_text", row[7].as<std::string>()},
                                 {"image_sha256", row[8].as<std::string>()},
                                 {"job", row[9].as<std::string>()}});
  }
  return out;
}

json QueryYield(pqxx::connection_base &connection, const LineSchema &schema,
                const LineFilter &filter) {
  json out = json::array();
  if (!schema.Records)
    return out;
  pqxx::read_transaction work(connection);
  // Only the units flashed more than once need looking at: of a million
  // records a hash of their values finds them, where sorting every record
  // by its values took seconds. Every other run is its unit's first.
  work.exec("SET LOCAL work_mem = '128MB'");
  const std::string sql =
      "WITH runs AS MATERIALIZED (SELECT station, channel, outcome, started, "
      "serials::text AS unit_values FROM kestrune_records "
      "WHERE unit AND outcome IN ('passed', 'failed')" +
      RecordFilterSql(schema) +
      "), repeated AS (SELECT unit_values, min(started) AS first_started FROM runs "
      "WHERE unit_values <> '{}' GROUP BY unit_values HAVING count(*) > 1), "
      "later AS (SELECT r.station, r.channel, count(*) AS runs, "
      "count(*) FILTER (WHERE r.outcome = 'passed') AS passed FROM runs r "
      "JOIN repeated p ON p.unit_values = r.unit_values AND r.started > p.first_started "
      "GROUP BY r.station, r.channel), "
      "counts AS (SELECT station, channel, count(*) FILTER (WHERE outcome = 'passed') AS passed, "
      "count(*) FILTER (WHERE outcome = 'failed') AS failed FROM runs GROUP BY station, channel) "
      "SELECT c.station, c.channel, c.passed, c.failed, "
      "c.passed + c.failed - coalesce(l.runs, 0), c.passed - coalesce(l.passed, 0) "
      "FROM counts c LEFT JOIN later l USING (station, channel) ORDER BY c.station, c.channel";
  for (const auto &row : Run(work, sql, filter)) {
    const long long firstRuns = row[4].as<long long>();
    const long long firstPassed = row[5].as<long long>();
    out.push_back({{"station", row[0].as<std::string>()},
                   {"channel", row[1].as<int>()},
                   {"passed", row[2].as<long long>()},
                   {"failed", row[3].as<long long>()},
                   {"first_runs", firstRuns},
                   {"first_passed", firstPassed},
                   {"first_pass_yield", Ratio(firstPassed, firstRuns)}});
  }
  return out;
}

json QueryFailures(pqxx::connection_base &connection, const LineSchema &schema,
                   const LineFilter &filter) {
  json out = json::array();
  if (!schema.Records)
    return out;
  pqxx::read_transaction work(connection);
  const std::string sql =
      "SELECT regexp_replace(final_status, '\\s*\\(\\d+\\)\\s*$', '') AS kind, count(*) AS n "
      "FROM kestrune_records WHERE unit AND outcome = 'failed'" +
      RecordFilterSql(schema) + " GROUP BY kind ORDER BY n DESC, kind LIMIT 100";
  for (const auto &row : Run(work, sql, filter))
    out.push_back({{"text", row[0].as<std::string>()}, {"count", row[1].as<long long>()}});
  return out;
}

json QueryHourly(pqxx::connection_base &connection, const LineSchema &schema,
                 const LineFilter &filter, int hours) {
  json out = json::array();
  pqxx::read_transaction work(connection);
  const std::string first = "date_trunc('hour', now()) - ($6::int - 1) * interval '1 hour'";
  std::string counts =
      "SELECT NULL::timestamptz AS hour, 0::bigint AS passed, 0::bigint AS failed WHERE false";
  if (schema.Records)
    counts = "SELECT date_trunc('hour', started) AS hour, "
             "count(*) FILTER (WHERE outcome = 'passed') AS passed, "
             "count(*) FILTER (WHERE outcome = 'failed') AS failed FROM kestrune_records "
             "WHERE unit AND outcome IN ('passed', 'failed') AND started >= " + first +
             RecordFilterSql(schema) + " GROUP BY 1";
  const std::string sql =
      std::string("SELECT to_char(h AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:00\"Z\"'), "
                  "coalesce(c.passed, 0), coalesce(c.failed, 0) FROM generate_series(") +
      first + ", date_trunc('hour', now()), interval '1 hour') AS h LEFT JOIN (" + counts +
      ") AS c ON c.hour = h ORDER BY h";
  // Without records the hours are there, empty; the filters then have no
  // parameter to go to.
  std::string noRecords = sql;
  for (size_t at = noRecords.find("$6"); at != std::string::npos; at = noRecords.find("$6"))
    noRecords.replace(at, 2, "$1");
  const pqxx::result rows =
      schema.Records ? Run(work, sql, filter, hours) : work.exec_params(noRecords, hours);
  for (const auto &row : rows)
    out.push_back({{"hour", row[0].as<std::string>()},
                   {"passed", row[1].as<long long>()},
                   {"failed", row[2].as<long long>()}});
  return out;
}

json QuerySearch(pqxx::connection_base &connection, const LineSchema &schema,
                 const LineFilter &filter, const std::string &text) {
  json out = json::array();
  if (!schema.Records || text.empty())
    return out;
  pqxx::read_transaction work(connection);
  std::string match;
  if (LooksLikeRecordId(text))
    match = " AND id = $6::uuid";
  else if (schema.SerialIndex)
    match = " AND kestrune_serial_values(serials) @> ARRAY[$6::text]";
  else
    match = " AND EXISTS (SELECT 1 FROM json_each_text(serials) WHERE value = $6)";
  const std::string sql =
      std::string("SELECT id::text, to_char(started AT TIME ZONE 'UTC', ") + IsoTime +
      "), station, channel, port, outcome, final_status, serials::text, image_sha256, " +
      (schema.JobName ? "job_name" : "''") +
      " FROM kestrune_records WHERE true" + RecordFilterSql(schema) + match +
      " ORDER BY started DESC LIMIT 200";
  for (const auto &row : Run(work, sql, filter, text)) {
    json serials = json::parse(row[7].as<std::string>(), nullptr, false);
    out.push_back({{"id", row[0].as<std::string>()},
                   {"started", row[1].as<std::string>()},
                   {"station", row[2].as<std::string>()},
                   {"channel", row[3].as<int>()},
                   {"port", row[4].as<std::string>()},
                   {"outcome", row[5].as<std::string>()},
                   {"final_status", row[6].as<std::string>()},
                   {"serials", serials.is_discarded() ? json::object() : serials},
                   {"image_sha256", row[8].as<std::string>()},
                   {"job", row[9].as<std::string>()}});
  }
  return out;
}

} // namespace kestrune::line
