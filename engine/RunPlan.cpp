#include "engine/RunPlan.h"

namespace kestrune {

RunPlan PlanRun(std::shared_ptr<const ImageBytes> image, uint8_t speedRow,
                const RepeatPlan &repeat) {
  RunPlan plan;
  plan.Image = std::move(image);
  plan.RamProgram = ChosenRamProgram();
  plan.RamProgramSha256 = RamProgramDigest(*plan.RamProgram);
  plan.Speed = SpeedRowAt(speedRow);
  plan.Limits = StationRunLimits();
  plan.Repeat = repeat;
  return plan;
}

} // namespace kestrune
