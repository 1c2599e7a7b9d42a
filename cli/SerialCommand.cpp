#include "cli/SerialCommand.h"

#include "records/PgRecords.h"
#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"
#include "serial/PgLeaseServer.h"

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
    out += "  next value: " + (p.NextText ? *p.NextText : std::string("none, the range is used up")) +
           "\n";
    out += "  left: " + std::to_string(p.Left) + "\n";
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

} // namespace kestrune
