#include "ui/ChannelLog.h"

#include <cstdio>
#include <ctime>

namespace kestrune {

void ChannelLog::Append(const std::string &text, Clock::time_point at) {
  Lines.push_back({at, text});
  ++AddedCount;
  while (Lines.size() > Capacity)
    Lines.pop_front();
}

std::vector<std::string> ChannelLog::LinesAfter(uint64_t after) const {
  const uint64_t firstKept = AddedCount - Lines.size();
  size_t skip = after > firstKept ? size_t(after - firstKept) : 0;
  std::vector<std::string> out;
  for (size_t i = skip; i < Lines.size(); ++i)
    out.push_back(FormatLine(Lines[i].At, Lines[i].Text));
  return out;
}

std::string ChannelLog::FormatLine(Clock::time_point at, const std::string &text) {
  const std::time_t seconds = Clock::to_time_t(at);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      at.time_since_epoch()) %
                  1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", int(ms.count() < 0 ? ms.count() + 1000 : ms.count()));
  return std::string(stamp) + millis + "  " + text;
}

} // namespace kestrune
