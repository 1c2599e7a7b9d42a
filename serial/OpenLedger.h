// The ledger a station's runs take their serial values from: the station's
// own database, or, given the line's server, leases from that server kept
// in the station's database.
#pragma once

#include "serial/SerialLedger.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrune::serial {

struct LedgerPlace {
  std::string StationDatabase;          // the station's SQLite file
  std::optional<std::string> ServerUrl; // the line's PostgreSQL server
  std::string Station;                  // this station's name
  uint64_t LeaseSize = 1000;            // values a lease from the server holds
  // How long Status waits for the line's figures of a pool not read from
  // the server yet. The window gives none and shows them once read.
  std::chrono::milliseconds StatusWait{10000};
  // A call to the line's server that hears nothing for this long is cut:
  // its own time limits cannot end it while its processes are stopped.
  std::chrono::milliseconds ServerSilence{30000};
  // Told, from any thread, when the line's server is lost (once) and when
  // it answers again.
  std::function<void(const std::string &)> Notice;
};

// Null with the text to show when the ledger cannot be opened.
std::unique_ptr<SerialLedger> OpenLedger(const LedgerPlace &place, std::string &error);

} // namespace kestrune::serial
