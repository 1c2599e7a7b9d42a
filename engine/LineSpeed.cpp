#include "engine/LineSpeed.h"

#include <cstring>

namespace kestrune {

std::array<uint32_t, 7> LineRateTable{};
std::array<uint8_t, 7> SpeedCodeTable{};
std::atomic<uint8_t> SpeedIndex{SpeedRow920K};

void InitSpeedTables() {
  LineRateTable = {9600, 28800, 57600, 115200, 230400, 460800, 921600};
  SpeedCodeTable = {0x60, 0x1F, 0x0F, 0x07, 0x03, 0x01, 0x00};
}

void ReadSpeedChoice(const SpeedButtons &buttons) {
  if (buttons.Radio920Button)
    SpeedIndex = SpeedRow920K;
  if (buttons.Radio230Button)
    SpeedIndex = SpeedRow115K;
  if (buttons.Radio460Button)
    SpeedIndex = SpeedRow460K;
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
