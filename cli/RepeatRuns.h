// How the command line takes each ended run into its channel's result, in
// single runs and in repeat mode, where one channel serves many handsets.
#pragma once

#include "cli/FlashCommand.h"
#include "engine/RunReport.h"

#include <string>

namespace kestrune {

// lastText: the channel's latest status text. endedWaiting: the run was
// stopped while waiting for the next handset, before any handset answered.
void TakeRun(ChannelResult &result, const RunReport &report, const std::string &lastText,
             bool endedWaiting, bool repeat);

} // namespace kestrune
