#include "platform/IsoUtcTime.h"

#include <cstdio>
#include <ctime>

namespace kestrune {

std::string IsoUtcTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = time_point_cast<milliseconds>(time);
  auto millis = ms.time_since_epoch().count() % 1000;
  std::time_t seconds = system_clock::to_time_t(time_point_cast<system_clock::duration>(
      ms - milliseconds(millis)));
  // Before 1970 the remainder is negative: borrow a second.
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(millis));
  return text;
}

} // namespace kestrune
