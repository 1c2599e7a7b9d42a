// The command line's view on a terminal: one line per channel, redrawn in
// place, with the channel's phase, percent, bytes, throughput, time left and
// latest status text (with its error code's meaning in brackets).
#pragma once

#include "engine/RunProgress.h"

#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

struct LiveChannel {
  int Channel = 0;
  std::string Port;
  ProgressSnapshot Progress;
  std::string LastText;
  std::string Verdict; // the last unit's, while waiting for the next
};

// One channel's line, cut to `width` characters (counted as code points).
std::string LiveLine(const LiveChannel &channel, size_t width);

class LiveLines {
public:
  explicit LiveLines(std::ostream &out, size_t width = 100) : Out(out), Width(width) {}
  // Draws the lines; from the second call on over the previous ones.
  void Draw(const std::vector<LiveChannel> &channels);

private:
  std::ostream &Out;
  size_t Width;
  size_t Drawn = 0;
};

// The terminal's width in columns; 100 when it cannot be told.
size_t TerminalWidth(int fd);

} // namespace kestrune
