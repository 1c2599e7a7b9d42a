// Everything one run sends and every limit it keeps, fixed when the front
// end starts the channel: the image's bytes (shared, never written again),
// the RAM program, the line speed, the watchdog and re-send limits and the
// repeat plan. The worker reads nothing else; a repeating channel keeps its
// plan from unit to unit.
#pragma once

#include "engine/LineSpeed.h"
#include "engine/RamProgramSource.h"
#include "engine/RepeatPlan.h"
#include "engine/UnitGate.h"
#include "engine/UnitValues.h"
#include "engine/Watchdog.h"
#include "image/ImageBytes.h"

#include <memory>
#include <string>

namespace kestrune {

struct RunPlan {
  // Null when no image was made ready: the run fails before its first
  // block, as it did when the image file could not be found.
  std::shared_ptr<const ImageBytes> Image;
  std::shared_ptr<const RamProgramBytes> RamProgram; // never null in a made plan
  std::string RamProgramSha256;
  LineSpeedRow Speed;
  RunLimits Limits;
  RepeatPlan Repeat;
  // The values written into each unit; null: every unit gets the image as
  // it is.
  std::shared_ptr<UnitValues> Values;
  // Asked before each unit starts; null: every unit starts.
  std::shared_ptr<UnitGate> Gate;
  // The production job the run is part of; empty names: none.
  std::string JobName;
  std::string JobVersion;
  std::string JobSha256; // of the job file's bytes
};

// The plan of a run starting now: the given image and speed row with the
// station's RAM program choice and limits.
RunPlan PlanRun(std::shared_ptr<const ImageBytes> image, uint8_t speedRow,
                const RepeatPlan &repeat = {});

} // namespace kestrune
