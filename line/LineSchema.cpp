#include "line/LineSchema.h"

#include <pqxx/pqxx>

namespace kestrune::line {

LineSchema ReadLineSchema(pqxx::connection_base &connection) {
  pqxx::read_transaction work(connection);
  LineSchema schema;
  pqxx::result rows = work.exec(
      "SELECT table_name, column_name FROM information_schema.columns "
      "WHERE table_schema = current_schema() "
      "AND table_name IN ('kestrune_records', 'kestrune_station_state')");
  for (const auto &row : rows) {
    const std::string table = row[0].as<std::string>();
    const std::string column = row[1].as<std::string>();
    if (table == "kestrune_records") {
      schema.Records = true;
      schema.JobName = schema.JobName || column == "job_name";
    } else {
      schema.State = true;
    }
  }
  schema.SerialIndex =
      work.exec("SELECT 1 FROM pg_proc WHERE proname = 'kestrune_serial_values'").size() > 0;
  return schema;
}

const char *DashboardIndexSql() {
  return R"sql(CREATE OR REPLACE FUNCTION kestrune_serial_values(serials json) RETURNS text[]
  LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT coalesce(array_agg(value), '{}') FROM json_each_text(serials) $$;
CREATE INDEX IF NOT EXISTS kestrune_records_serial_values
  ON kestrune_records USING gin (kestrune_serial_values(serials));
CREATE INDEX IF NOT EXISTS kestrune_records_failed
  ON kestrune_records (started) WHERE outcome = 'failed';
)sql";
}

} // namespace kestrune::line
