#include "cli/JobUnits.h"

#include "records/RecordsLocation.h"
#include "records/ServerAddress.h"

namespace kestrune {

std::shared_ptr<jobcount::JobCountGate> PrepareJobCount(const job::JobFile &job,
                                                        const RecordsCliOptions &records,
                                                        std::string &problem) {
  problem.clear();
  if (!job.Units)
    return nullptr;
  jobcount::JobKey key;
  key.Name = job.Name;
  key.Version = job.Version;
  key.Units = *job.Units;
  key.Station = records.Station.empty() ? records::HostStationName() : records.Station;
  std::unique_ptr<jobcount::JobUnitStore> store;
  if (records::IsServerUrl(records.Target)) {
    // Two stations share the count only where both keep it: the server.
    store = jobcount::OpenPgJobUnits(records.Target, key, problem);
  } else {
    // The station keeps the count even when it keeps no records.
    const std::string path = records.Target.empty() || records.Target == "none"
                                 ? records::DefaultRecordsPath()
                                 : records.Target;
    if (path.empty()) {
      problem = "no database for the job's count of units (neither XDG_DATA_HOME nor HOME is set)";
      return nullptr;
    }
    store = jobcount::OpenSqliteJobUnits(path, key, problem);
  }
  if (!store) {
    problem = "cannot count its units: " + problem;
    return nullptr;
  }
  return std::make_shared<jobcount::JobCountGate>(key, std::move(store));
}

} // namespace kestrune
