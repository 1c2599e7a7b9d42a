#include "cli/SerialCommand.h"

#include "records/PgRecords.h"
#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"
#include "serial/PgLeaseServer.h"
#include "serial/SerialScheme.h"

#include <pqxx/pqxx>

namespace kestrune {

bool SerialLedgerPlace(const std::string &records, const std::string &station,
                       serial::LedgerPlace &place, std::string &why) {
  place = {};
  place.Station = station.empty() ? records::HostStationName() : station;
  if (records == "none") {
    why = "serial values need a ledger: --records none keeps none";
    return false;
  }
  if (!records.empty() && records::IsServerUrl(records)) {
    place.ServerUrl = records;
    place.StationDatabase = records::DefaultRecordsPath();
  } else {
    place.StationDatabase = records.empty() ? records::DefaultRecordsPath() : records;
  }
  if (place.StationDatabase.empty()) {
    why = "the station's database cannot be found: neither XDG_DATA_HOME nor HOME is set; "
          "name a file with --records";
    return false;
  }
  return true;
}

std::string SerialStatusText(const std::vector<serial::PoolStatus> &pools) {
  std::string out;
  for (const serial::PoolStatus &p : pools) {
    out += p.Field + " (pool " + p.Pool + ")\n";
    const std::string none = p.StationOnly ? "none in this station's leases"
                                           : "none, the range is used up";
    out += "  next value: " + (p.NextText ? *p.NextText : none) + "\n";
    out += "  left: " + std::to_string(p.Left) +
           (p.StationOnly ? " in this station's leases (the line's figures are not known)" : "") +
           "\n";
    out += "  passed: " + std::to_string(p.Passed) + ", spent: " + std::to_string(p.Spent) +
           ", claimed: " + std::to_string(p.Claimed) + ", skipped: " + std::to_string(p.Skipped);
    if (p.WrittenOff)
      out += ", written off: " + std::to_string(p.WrittenOff);
    out += "\n";
    if (!p.Leases.empty()) {
      out += "  leases:\n";
      for (const std::string &lease : p.Leases)
        out += "    " + lease + "\n";
    }
    if (!p.SpentOn.empty()) {
      out += "  spent on failed units:\n";
      for (const serial::SpentValue &v : p.SpentOn)
        out += "    " + v.Text + "  station " + v.Station + "  channel " +
               std::to_string(v.Channel) + "  " + v.When + "\n";
    }
  }
  return out;
}

int RunSerialStatus(const serial::LedgerPlace &place,
                    const std::vector<serial::PoolRequest> &requests, std::ostream &out,
                    std::ostream &errors) {
  std::string why;
  std::unique_ptr<serial::SerialLedger> ledger = serial::OpenLedger(place, why);
  if (!ledger) {
    errors << "kestrune-cli: the serial ledger cannot be opened: " << why << "\n";
    return 1;
  }
  out << SerialStatusText(ledger->Status(requests));
  return 0;
}

int RunReleaseLease(const std::string &url, const std::string &station,
                    const std::vector<serial::PoolRequest> &requests, std::ostream &out,
                    std::ostream &errors) {
  if (!records::IsServerUrl(url)) {
    errors << "kestrune-cli: serial release-lease needs the line's server: --records "
              "postgresql://...\n";
    return 2;
  }
  if (station.empty()) {
    errors << "kestrune-cli: serial release-lease needs the station whose leases to release: "
              "--station NAME\n";
    return 2;
  }
  std::vector<std::string> pools;
  for (const serial::PoolRequest &request : requests)
    pools.push_back(request.Pool);
  try {
    pqxx::connection server(records::WithClientLimits(url));
    serial::EnsureLeaseTables(server);
    const int released = serial::ReleaseLeasesOf(server, station, pools);
    out << "Released " << released << (released == 1 ? " lease" : " leases") << " of station "
        << station
        << "; the values they still held are written off, since the station may have used "
           "them while away from the server.\n";
    return 0;
  } catch (const std::exception &failure) {
    errors << "kestrune-cli: "
           << records::WithoutPassword("the line's server cannot be reached: " +
                                           records::ServerFailureText(failure),
                                       url)
           << "\n";
    return 1;
  }
}

bool ReadSchemePools(const std::string &path, std::vector<serial::PoolRequest> &requests,
                     std::string &why) {
  auto scheme = std::make_shared<serial::SerialScheme>();
  if (!serial::ReadScheme(path, *scheme, why))
    return false;
  requests.clear();
  for (const serial::SchemeField &field : scheme->Fields) {
    serial::PoolRequest request;
    request.Pool = field.Pool();
    request.Field = field.Name;
    request.Capacity = field.Source->Capacity();
    // The scheme lives as long as any request that reads it.
    request.TextAt = [scheme, &field](uint64_t position) {
      std::vector<uint8_t> bytes;
      std::string text, error;
      return field.ValueAt(position, bytes, text, error) ? text : std::string();
    };
    requests.push_back(std::move(request));
  }
  return true;
}

SerialCommands AddSerialCommands(CLI::App &app, SerialCommandOptions &options) {
  CLI::App *serial = app.add_subcommand("serial", "Serial values: the ledger's state and leases");
  serial->require_subcommand(1);
  SerialCommands commands;
  commands.Status = serial->add_subcommand(
      "status", "Per field of the scheme: the next value, what is left, the leases and the "
                "values spent on failed units");
  commands.ReleaseLease = serial->add_subcommand(
      "release-lease", "Releases a station's leases on the line's server; what they still held "
                       "is written off");
  for (CLI::App *command : {commands.Status, commands.ReleaseLease}) {
    command->add_option("--serial", options.Scheme, "The serial scheme (JSON)")->required();
    command->add_option("--records", options.Records,
                        "The line's server (postgresql://...) or the station's database file "
                        "(default: the data folder's records.sqlite)");
  }
  commands.Status->add_option("--station", options.Station,
                              "This station's name (default: the host name)");
  commands.ReleaseLease->add_option("--station", options.Station,
                                    "The station whose leases to release")
      ->required();
  commands.ReleaseLease->get_option("--records")->required();
  return commands;
}

int RunSerialCommand(const SerialCommands &commands, const SerialCommandOptions &options,
                     const SchemeLoader &load, std::ostream &out, std::ostream &errors) {
  std::vector<serial::PoolRequest> requests;
  std::string why;
  if (!load(options.Scheme, requests, why)) {
    errors << "kestrune-cli: " << why << "\n";
    return 2;
  }
  if (commands.ReleaseLease && commands.ReleaseLease->parsed())
    return RunReleaseLease(options.Records, options.Station, requests, out, errors);
  serial::LedgerPlace place;
  if (!SerialLedgerPlace(options.Records, options.Station, place, why)) {
    errors << "kestrune-cli: " << why << "\n";
    return 2;
  }
  return RunSerialStatus(place, requests, out, errors);
}

} // namespace kestrune
