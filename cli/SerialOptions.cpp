#include "cli/SerialOptions.h"

#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"
#include "serial/JobScheme.h"
#include "serial/OpenLedger.h"
#include "serial/UnitSerials.h"

namespace kestrune {

void AddSerialOptions(CLI::App &app, SerialCliOptions &options) {
  app.add_option("--serial", options.Scheme,
                 "Serial scheme (JSON): the values written into each unit, taken from this "
                 "station's records database or the line's server");
  app.add_option("--serial-lease", options.LeaseSize,
                 "Values a station takes from the line's server at a time (default 1000)")
      ->check(CLI::Range(uint64_t(1), uint64_t(1000000000)));
}

namespace {

std::string PrepareScheme(std::shared_ptr<serial::SerialScheme> scheme,
                          const SerialCliOptions &options, const RecordsCliOptions &records,
                          std::ostream &notes, UnitValuesMaker &maker) {
  serial::LedgerPlace place;
  const bool server = records::IsServerUrl(records.Target);
  // The values are the station's even when it keeps no records.
  place.StationDatabase = server || records.Target.empty() || records.Target == "none"
                              ? records::DefaultRecordsPath()
                              : records.Target;
  if (place.StationDatabase.empty())
    return "no database for the serial values (neither XDG_DATA_HOME nor HOME is set)";
  if (server)
    place.ServerUrl = records.Target;
  place.Station = records.Station.empty() ? records::HostStationName() : records.Station;
  place.LeaseSize = options.LeaseSize;
  std::shared_ptr<const serial::SerialScheme> fixed = scheme;
  maker = [fixed, place, &notes](const ImageBytes &image,
                                 std::string &why) -> std::shared_ptr<UnitValues> {
    std::shared_ptr<serial::SerialLedger> ledger = serial::OpenLedger(place, why);
    if (!ledger)
      return nullptr;
    auto values = serial::UnitSerials::Make(fixed, image.StartAddress, image.DataSize(),
                                            std::move(ledger), place.Station, why);
    if (!values)
      return nullptr;
    for (const serial::PoolStatus &pool : values->Ledger().Status(values->Requests()))
      notes << "kestrune-cli: serial " << pool.Field << ": next "
            << (pool.NextText         ? *pool.NextText
                : pool.StationOnly    ? std::string("none in this station's leases")
                                      : std::string("none (used up)"))
            << ", " << pool.Left << " left" << (pool.StationOnly ? " in this station's leases" : "")
            << "\n";
    notes << std::flush;
    return values;
  };
  return {};
}

} // namespace

std::string PrepareSerials(const SerialCliOptions &options, const RecordsCliOptions &records,
                           std::ostream &notes, UnitValuesMaker &maker) {
  maker = nullptr;
  if (options.Scheme.empty())
    return {};
  auto scheme = std::make_shared<serial::SerialScheme>();
  std::string error;
  if (!serial::ReadScheme(options.Scheme, *scheme, error))
    return error;
  return PrepareScheme(std::move(scheme), options, records, notes, maker);
}

std::string PrepareJobSerials(const job::JobFile &job, const SerialCliOptions &options,
                              const RecordsCliOptions &records, std::ostream &notes,
                              UnitValuesMaker &maker) {
  maker = nullptr;
  if (!job::HasSerialScheme(job))
    return {};
  auto scheme = std::make_shared<serial::SerialScheme>();
  std::string error;
  if (!serial::ReadJobScheme(job, *scheme, error))
    return error;
  return PrepareScheme(std::move(scheme), options, records, notes, maker);
}

} // namespace kestrune
