// A record made from a channel's run report (which carries what the run
// used: image, RAM program, speed) and what the station knows besides: its
// name, the port's stable name, the program's version.
#pragma once

#include "engine/RunReport.h"
#include "records/Record.h"

#include <string>

namespace kestrune::records {

struct RunContext {
  std::string Station;
  std::string PortStableName; // empty unless known
};

Record RecordFromRun(const RunReport &report, const RunContext &context);

// The version of this program.
const char *ProgramVersion();

} // namespace kestrune::records
