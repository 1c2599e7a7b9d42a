// Rows for a station with more channels than the window's eight: the
// command line drives up to 64 ports. The first eight are the window's own
// rows, unchanged; the others are plain numbered rows.
#pragma once

#include "engine/ChannelRow.h"

#include <cstddef>

namespace kestrune {

constexpr size_t StationChannelLimit = 64;

// Row of channel index + 1; index below StationChannelLimit.
const ChannelRow &StationRow(size_t index);

} // namespace kestrune
