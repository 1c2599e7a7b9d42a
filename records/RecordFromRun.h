// A record made from a channel's run report and what the station knows
// about the run besides: its name, the image loaded, the program's version.
#pragma once

#include "engine/RunReport.h"
#include "image/ImageDigest.h"
#include "records/Record.h"

#include <string>

namespace kestrune::records {

struct RunContext {
  std::string Station;
  std::string PortStableName; // empty unless known
  ImageDigest Image;
};

Record RecordFromRun(const RunReport &report, const RunContext &context);

// The SHA-256 of the built-in RAM program, worked out once.
const std::string &RamProgramSha256();

// The version of this program.
const char *ProgramVersion();

} // namespace kestrune::records
