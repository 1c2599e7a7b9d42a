// The dashboard's questions to the line's server, each answered as the JSON
// the API sends. Every value from a request reaches the server as a
// statement parameter. Tables not there yet (no station has written) give
// empty answers.
#pragma once

#include "line/LineFilter.h"
#include "line/LineSchema.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace pqxx {
class connection_base;
}

namespace kestrune::line {

// [{station, online, seconds_since_update, updated, channels: [{channel, port,
// phase, percent, serials, last_outcome, last_text, image_sha256, job}]}],
// by station name. Online: the station wrote within offlineAfter.
nlohmann::json QueryStations(pqxx::connection_base &connection, const LineSchema &schema,
                             const LineFilter &filter, std::chrono::seconds offlineAfter);

// [{station, channel, passed, failed, first_runs, first_passed, first_pass_yield}]:
// units' runs judged passed or failed. A unit is known by the serial values
// written into it: of the runs with the same values only the earliest is
// the unit's first run (runs of one unit started in the same millisecond
// all count as first); a run without values is always a first run.
// first_pass_yield is first_passed / first_runs, null without first runs.
nlohmann::json QueryYield(pqxx::connection_base &connection, const LineSchema &schema,
                          const LineFilter &filter);

// [{text, count}]: failed units by their first failure's text, the final
// "(code)" taken off; most frequent first, at most 100 kinds.
nlohmann::json QueryFailures(pqxx::connection_base &connection, const LineSchema &schema,
                             const LineFilter &filter);

// [{hour, passed, failed}] for each of the last hours (the current one
// included), oldest first; hour is its UTC start.
nlohmann::json QueryHourly(pqxx::connection_base &connection, const LineSchema &schema,
                           const LineFilter &filter, int hours);

// Newest first, at most 200 records: the record with this id, or the runs
// that wrote this value in any serial field.
nlohmann::json QuerySearch(pqxx::connection_base &connection, const LineSchema &schema,
                           const LineFilter &filter, const std::string &text);

// A record id's form: 8-4-4-4-12 hex digits.
bool LooksLikeRecordId(const std::string &text);

} // namespace kestrune::line
