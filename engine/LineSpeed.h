// The line speeds: one table row per rate, pairing it with the code that
// tells the RAM program to switch to it. A run's speed is one row, chosen
// by the front end when the run starts and kept in its plan.
#pragma once

#include <array>
#include <cstdint>

namespace kestrune {

constexpr uint8_t SpeedRowOpen = 0;   // 9600: the port is first configured here
constexpr uint8_t SpeedRowBoot = 1;   // 28800: boot ROM call and RAM program
constexpr uint8_t SpeedRow115K = 3;
constexpr uint8_t SpeedRow460K = 5;
constexpr uint8_t SpeedRow920K = 6;

constexpr std::array<uint32_t, 7> LineRateTable{9600,   28800,  57600, 115200,
                                                230400, 460800, 921600};
constexpr std::array<uint8_t, 7> SpeedCodeTable{0x60, 0x1F, 0x0F, 0x07, 0x03, 0x01, 0x00};

// One row: the rate switched to and the code sent for it.
struct LineSpeedRow {
  uint8_t Row = SpeedRow920K;
  uint32_t Rate = LineRateTable[SpeedRow920K];
  uint8_t Code = SpeedCodeTable[SpeedRow920K];
};
// The row at index row; rows past the table give the fastest.
LineSpeedRow SpeedRowAt(uint8_t row);

// Which of the window's three speed buttons is selected (at most one).
struct SpeedButtons {
  bool Radio920Button = false;
  bool Radio230Button = false; // "115K"
  bool Radio460Button = false;
};

// The row the buttons select; with none selected, fallback.
uint8_t RowForButtons(const SpeedButtons &buttons, uint8_t fallback = SpeedRow920K);

// "115K" -> row 3, "460K" -> row 5, "920K" -> row 6; anything else -> -1.
int SpeedRowForName(const char *name);
// The buttons that select the given row.
SpeedButtons ButtonsForRow(uint8_t row);

} // namespace kestrune
