#include "platform/FileTimes.h"

namespace kestrune {

void ClampToFatRange(FatTime &time) {
  if (time.Year < 1980)
    time = FatTime{1980, 1, 1, 0, 0, 0, false};
  else if (time.Year > 2107)
    time = FatTime{2107, 12, 31, 23, 59, 29, false};
}

} // namespace kestrune
