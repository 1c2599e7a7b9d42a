#include "engine/LineSpeed.h"

#include <cstring>

namespace kestrune {

LineSpeedRow SpeedRowAt(uint8_t row) {
  if (row >= LineRateTable.size())
    row = SpeedRow920K;
  return {row, LineRateTable[row], SpeedCodeTable[row]};
}

uint8_t RowForButtons(const SpeedButtons &buttons, uint8_t fallback) {
  // The order of the classic reading: a later button wins.
  uint8_t row = fallback;
  if (buttons.Radio920Button)
    row = SpeedRow920K;
  if (buttons.Radio230Button)
    row = SpeedRow115K;
  if (buttons.Radio460Button)
    row = SpeedRow460K;
  return row;
}

int SpeedRowForName(const char *name) {
  if (std::strcmp(name, "115K") == 0)
    return SpeedRow115K;
  if (std::strcmp(name, "460K") == 0)
    return SpeedRow460K;
  if (std::strcmp(name, "920K") == 0)
    return SpeedRow920K;
  return -1;
}

SpeedButtons ButtonsForRow(uint8_t row) {
  SpeedButtons b;
  b.Radio920Button = row == SpeedRow920K;
  b.Radio230Button = row == SpeedRow115K;
  b.Radio460Button = row == SpeedRow460K;
  return b;
}

} // namespace kestrune
