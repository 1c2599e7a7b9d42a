#include "handset/UnitFaults.h"

namespace kestrune::handset {

HandsetOptions UnitFaults::Next(const HandsetOptions &base, std::string &what) {
  HandsetOptions unit = base;
  unit.NakBlock = 0;
  unit.EraseFailSegment = 0;
  unit.ProgramError = false;
  unit.SilentAfter = Phase::None;
  unit.CutAfterBytes = 0;
  what.clear();
  auto pick = [this](uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(Random);
  };
  if (pick(1, 100) > Percent)
    return unit;
  switch (pick(0, 4)) {
  case 0:
    // A bad sum on the wire: the block is refused once and sent again.
    unit.NakBlock = pick(1, 2);
    unit.NakTimes = 1;
    what = "block " + std::to_string(unit.NakBlock) + " arrives damaged once";
    break;
  case 1:
    unit.EraseFailSegment = 1;
    what = "the erase of segment 1 fails";
    break;
  case 2:
    unit.ProgramError = true;
    unit.ProgramErrorAddress = 0;
    unit.ProgramErrorCount = 1;
    what = "its first word program fails";
    break;
  case 3:
    // Not at the erase: the host waits minutes for an erase report, as a
    // real flash's erase takes them, and a soak would spend its time there.
    unit.SilentAfter = Phase(pick(uint32_t(Phase::Boot), uint32_t(Phase::Blocks)));
    what = std::string("it stops answering at phase ") + PhaseName(unit.SilentAfter);
    break;
  default:
    // Within the RAM program, the settings or the first block, for the
    // same reason.
    unit.CutAfterBytes = pick(64, 32 * 1024);
    what = "its line goes dead after " + std::to_string(unit.CutAfterBytes) + " host bytes";
    break;
  }
  return unit;
}

} // namespace kestrune::handset
