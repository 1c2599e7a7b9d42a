#include "serial/OpenLedger.h"

#include "serial/PgLeaseLedger.h"
#include "serial/SqliteLedger.h"

namespace kestrune::serial {

std::unique_ptr<SerialLedger> OpenLedger(const LedgerPlace &place, std::string &error) {
  // SQLite would take an empty name for a database of its own that goes
  // away at the end: every value would be handed out again next time.
  if (place.StationDatabase.empty()) {
    error = "the station's database for serial values is not known";
    return nullptr;
  }
  if (place.ServerUrl && !place.ServerUrl->empty())
    return PgLeaseLedger::Open(place, error);
  return SqliteLedger::Open(place.StationDatabase, error);
}

} // namespace kestrune::serial
