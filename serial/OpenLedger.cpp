#include "serial/OpenLedger.h"

#include "serial/PgLeaseLedger.h"
#include "serial/SqliteLedger.h"

namespace kestrune::serial {

std::unique_ptr<SerialLedger> OpenLedger(const LedgerPlace &place, std::string &error) {
  if (place.ServerUrl && !place.ServerUrl->empty())
    return PgLeaseLedger::Open(place, error);
  return SqliteLedger::Open(place.StationDatabase, error);
}

} // namespace kestrune::serial
