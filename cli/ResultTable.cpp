#include "cli/ResultTable.h"

#include "platform/ErrorMeaning.h"

#include <algorithm>
#include <cstdio>

namespace kestrune {

void PrintResultTable(std::ostream &out, const std::vector<ChannelResult> &results,
                      bool counts) {
  size_t portWidth = 4;
  for (const ChannelResult &r : results)
    portWidth = std::max(portWidth, r.Port.size());
  char line[256];
  std::snprintf(line, sizeof line, "%-3s %-*s %-8s %10s %8s %8s  %s\n", "ch", int(portWidth),
                "port", "outcome", "bytes", "seconds", "KiB/s", counts ? "passed failed  last text" : "last text");
  out << line;
  for (const ChannelResult &r : results) {
    double rate = r.Seconds > 0 ? double(r.Bytes) / 1024.0 / r.Seconds : 0.0;
    std::snprintf(line, sizeof line, "%-3d %-*s %-8s %10llu %8.1f %8.1f  ", r.Channel,
                  int(portWidth), r.Port.c_str(), RunOutcomeName(r.Run), (unsigned long long)r.Bytes,
                  r.Seconds, rate);
    out << line;
    if (counts) {
      std::snprintf(line, sizeof line, "%6u %6u  ", r.Passed, r.Failed);
      out << line;
    }
    out << WithMeaning(r.LastText) << '\n';
  }
  // Repeat mode: every unit's verdict under the table, channel by channel.
  if (counts) {
    for (const ChannelResult &r : results)
      for (const UnitVerdict &unit : r.Units)
        out << r.Channel << ": " << UnitVerdictText(unit) << '\n';
  }
  out << std::flush;
}

} // namespace kestrune
