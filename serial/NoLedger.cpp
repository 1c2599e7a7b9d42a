// A build without the station's database keeps no ledger: a unit's values
// could not be kept from being handed out twice, so no scheme runs.
#include "serial/OpenLedger.h"

namespace kestrune::serial {

std::unique_ptr<SerialLedger> OpenLedger(const LedgerPlace &place, std::string &error) {
  (void)place;
  error = "Serial values need the station's run records, which this build of Kestrune leaves out";
  return nullptr;
}

} // namespace kestrune::serial
