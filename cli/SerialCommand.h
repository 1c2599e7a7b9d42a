// The "serial" subcommands: the state of a scheme's pools in the ledger
// (status) and the release of a station's leases on the line's server
// (release-lease). Both take the scheme's fields as pool requests.
#pragma once

#include "serial/OpenLedger.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

// Where the ledger is for --records: the line's server (with the default
// database as the station's own), a database file, or the default file.
// False with why for "none" or a database that cannot be found.
bool SerialLedgerPlace(const std::string &records, const std::string &station,
                       serial::LedgerPlace &place, std::string &why);

// The status text of each pool: next value, what is left, counts, leases
// and the values spent on failed units.
std::string SerialStatusText(const std::vector<serial::PoolStatus> &pools);

// Exit status 0, 1 when the ledger cannot be opened.
int RunSerialStatus(const serial::LedgerPlace &place,
                    const std::vector<serial::PoolRequest> &requests, std::ostream &out,
                    std::ostream &errors);

// Releases the leases station holds in the requests' pools on the server
// at url. Exit status 0, 1 when the server cannot be reached, 2 when url is
// not a server's address.
int RunReleaseLease(const std::string &url, const std::string &station,
                    const std::vector<serial::PoolRequest> &requests, std::ostream &out,
                    std::ostream &errors);

struct SerialCommandOptions {
  std::string Scheme;  // --serial SCHEME.json
  std::string Records; // --records URL|FILE
  std::string Station; // --station NAME
};

// Reads a scheme file into its fields' pool requests; false with why.
using SchemeLoader = std::function<bool(const std::string &path,
                                        std::vector<serial::PoolRequest> &requests,
                                        std::string &why)>;

// Adds "serial status" and "serial release-lease"; the two returned are
// parsed() when chosen.
struct SerialCommands {
  CLI::App *Status = nullptr;
  CLI::App *ReleaseLease = nullptr;
};
SerialCommands AddSerialCommands(CLI::App &app, SerialCommandOptions &options);

// Runs the one chosen. Exit status as above; 2 when the scheme cannot be
// read.
int RunSerialCommand(const SerialCommands &commands, const SerialCommandOptions &options,
                     const SchemeLoader &load, std::ostream &out, std::ostream &errors);

} // namespace kestrune
