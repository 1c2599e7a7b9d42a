// The stations' live state on the line's server: table
// kestrune_station_state, one row per station and channel, written over
// and over by each running station and read by the line's dashboard.
#pragma once

#include "records/StationState.h"

#include <string>
#include <vector>

namespace pqxx {
class connection_base;
}

namespace kestrune::records {

// Creates the table and its index when missing; safe when several
// stations do it at once.
void EnsureStateTable(pqxx::connection_base &connection);

// Upserts every channel's row with the server's time as its write time, and
// drops the station's rows of channels it no longer runs, in one
// transaction. Throws pqxx's exceptions.
void WriteStationState(pqxx::connection_base &connection, const std::string &station,
                       const std::vector<ChannelState> &channels);

} // namespace kestrune::records
