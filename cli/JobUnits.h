// The command line's hold on a job's count of units: the gate every
// channel asks before a unit starts, over the station's records database
// or, when the job's records go to the line's server, over the server.
#pragma once

#include "cli/RecordsOptions.h"
#include "job/JobFile.h"
#include "jobcount/JobCountGate.h"

#include <memory>
#include <ostream>
#include <string>

namespace kestrune {

// Null (and problem empty) when the job sets no count; null with the
// operator's text when the count cannot be had.
std::shared_ptr<jobcount::JobCountGate> PrepareJobCount(const job::JobFile &job,
                                                        const RecordsCliOptions &records,
                                                        std::string &problem);

// job status / job release: the job's places where its count is kept
// (records: a file or a server URL; empty: the job's, else the station's
// database) under the station given (empty: the job's, else the host's).
// Exit status 0, or 1 when the job sets no count or it cannot be asked.
int RunJobPlaces(const job::JobFile &job, const std::string &records, const std::string &station,
                 bool release, std::ostream &out, std::ostream &errors);

} // namespace kestrune
