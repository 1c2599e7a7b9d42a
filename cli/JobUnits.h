// The command line's hold on a job's count of units: the gate every
// channel asks before a unit starts, over the station's records database
// or, when the job's records go to the line's server, over the server.
#pragma once

#include "cli/RecordsOptions.h"
#include "job/JobFile.h"
#include "jobcount/JobCountGate.h"

#include <memory>
#include <string>

namespace kestrune {

// Null (and problem empty) when the job sets no count; null with the
// operator's text when the count cannot be had.
std::shared_ptr<jobcount::JobCountGate> PrepareJobCount(const job::JobFile &job,
                                                        const RecordsCliOptions &records,
                                                        std::string &problem);

} // namespace kestrune
