// The line speed choice shared by all channels: two tables pairing each line
// rate with the code that tells the RAM program that rate, and the index of
// the row the operator chose.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kestrune {

constexpr uint8_t SpeedRowOpen = 0;   // 9600: the port is first configured here
constexpr uint8_t SpeedRowBoot = 1;   // 28800: boot ROM call and RAM program
constexpr uint8_t SpeedRow115K = 3;
constexpr uint8_t SpeedRow460K = 5;
constexpr uint8_t SpeedRow920K = 6;

extern std::array<uint32_t, 7> LineRateTable;
extern std::array<uint8_t, 7> SpeedCodeTable;
// Written by every worker at the start of its run, read later in its
// handshake: a later start's choice reaches channels still before their switch.
extern std::atomic<uint8_t> SpeedIndex;

// Fills both tables; called once before any channel can start.
void InitSpeedTables();

// Which of the three speed buttons is selected (at most one).
struct SpeedButtons {
  bool Radio920Button = false;
  bool Radio230Button = false; // "115K"
  bool Radio460Button = false;
};

// Sets SpeedIndex from the buttons; with none selected it keeps its value.
void ReadSpeedChoice(const SpeedButtons &buttons);

// "115K" -> row 3, "460K" -> row 5, "920K" -> row 6; anything else -> -1.
int SpeedRowForName(const char *name);
// The buttons that select the given row.
SpeedButtons ButtonsForRow(uint8_t row);

} // namespace kestrune
