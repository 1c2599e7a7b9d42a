// The table the command line prints when every channel has ended: outcome,
// bytes sent, seconds, average KiB/s and last text per channel; a last text
// that ends in an error code has the code's meaning beside it in brackets.
#pragma once

#include "cli/FlashCommand.h"

#include <ostream>
#include <vector>

namespace kestrune {

// counts: also each channel's passed and failed runs (repeat mode).
void PrintResultTable(std::ostream &out, const std::vector<ChannelResult> &results,
                      bool counts = false);

} // namespace kestrune
