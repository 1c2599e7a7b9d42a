// What the line's server holds, looked at when the dashboard connects: the
// records table may come from a station older than the jobs' field, and
// the dashboard reads whatever is there rather than wait for it.
#pragma once

#include <string>

namespace pqxx {
class connection_base;
}

namespace kestrune::line {

struct LineSchema {
  bool Records = false;      // kestrune_records exists
  bool State = false;        // kestrune_station_state exists
  bool JobName = false;      // kestrune_records has job_name
  bool SerialIndex = false;  // the serial values' search function (and its index) is there
};

LineSchema ReadLineSchema(pqxx::connection_base &connection);

// The statements that give the dashboard's searches an index, for the
// line's server's owner to run once (they are in docs/line-dashboard.md);
// the dashboard itself only reads.
const char *DashboardIndexSql();

} // namespace kestrune::line
