#include "cli/JobUnits.h"

#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"

#include <algorithm>

namespace kestrune {
namespace {

jobcount::JobKey KeyOf(const job::JobFile &job, const std::string &station) {
  jobcount::JobKey key;
  key.Name = job.Name;
  key.Version = job.Version;
  key.Units = job.Units.value_or(0);
  key.Station = station.empty() ? records::HostStationName() : station;
  return key;
}

// The store of the job's count at target ("", "none", a file or a server
// URL); null with the reason when it cannot be had.
std::unique_ptr<jobcount::JobUnitStore> OpenStore(const std::string &target,
                                                  const jobcount::JobKey &key, bool findEnded,
                                                  std::string &problem) {
  // Two stations share the count only where both keep it: the server.
  if (records::IsServerUrl(target))
    return jobcount::OpenPgJobUnits(target, key, problem, findEnded);
  // The station keeps the count even when it keeps no records.
  const std::string path =
      target.empty() || target == "none" ? records::DefaultRecordsPath() : target;
  if (path.empty()) {
    problem = "no database for the job's count of units (neither XDG_DATA_HOME nor HOME is set)";
    return nullptr;
  }
  return jobcount::OpenSqliteJobUnits(path, key, problem);
}

std::string Plural(uint64_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::shared_ptr<jobcount::JobCountGate> PrepareJobCount(const job::JobFile &job,
                                                        const RecordsCliOptions &records,
                                                        std::string &problem) {
  problem.clear();
  if (!job.Units)
    return nullptr;
  const jobcount::JobKey key = KeyOf(job, records.Station);
  std::unique_ptr<jobcount::JobUnitStore> store = OpenStore(records.Target, key, true, problem);
  if (!store) {
    problem = "cannot count its units: " + problem;
    return nullptr;
  }
  return std::make_shared<jobcount::JobCountGate>(key, std::move(store));
}

int RunJobPlaces(const job::JobFile &job, const std::string &records, const std::string &station,
                 bool release, std::ostream &out, std::ostream &errors) {
  const std::string title = job::JobTitle(job);
  if (!job.Units) {
    errors << "kestrune-cli: job " << title << " sets no count of units ('units')\n";
    return 1;
  }
  const std::string target = records.empty() ? job.Records : records;
  const std::string given = station.empty() ? job.Station : station;
  const jobcount::JobKey key = KeyOf(job, given);
  // Which programs have ended can be told only on the station's own
  // machine: named as the job or this host names it, it is taken to be
  // this one; another station's places are those it found ended itself.
  const bool here = station.empty() || station == job.Station ||
                    station == records::HostStationName();
  std::string problem;
  std::unique_ptr<jobcount::JobUnitStore> store = OpenStore(target, key, here, problem);
  if (!store) {
    errors << "kestrune-cli: job " << title << ": cannot open its count of units: " << problem
           << '\n';
    return 1;
  }
  if (release) {
    uint64_t released = 0;
    if (!store->ReleaseEnded(here, released, problem)) {
      errors << "kestrune-cli: job " << title << ": cannot release its places: " << problem
             << '\n';
      return 1;
    }
    out << "Released " << Plural(released, "place", "places") << " of job " << title
        << " left by programs of station " << key.Station
        << " that ended; they may be built again.\n";
    return 0;
  }
  jobcount::JobPlaces places;
  if (!store->Count(places, problem)) {
    errors << "kestrune-cli: job " << title << ": cannot count its units: " << problem << '\n';
    return 1;
  }
  const uint64_t taken = places.Built + places.UnderWay + places.Ended;
  out << "Job " << title << ": " << Plural(key.Units, "unit", "units") << '\n'
      << "  built:                   " << places.Built << '\n'
      << "  under way:               " << places.UnderWay << '\n'
      << "  held by ended programs:  " << places.Ended << " (" << places.EndedHere
      << " of station " << key.Station << ")\n"
      << "  left:                    " << (key.Units - std::min(key.Units, taken)) << '\n';
  return 0;
}

} // namespace kestrune
