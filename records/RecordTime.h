// Record times are IsoUtcTime texts, so that text order is time order in
// every store; a --since value is brought to the same form.
#pragma once

#include "platform/IsoUtcTime.h"

#include <optional>
#include <string>

namespace kestrune::records {

// A --since value: a date, a date and time (T or a space between), with or
// without seconds, milliseconds and a final Z, all UTC. Returns the prefix
// form that compares with stored times, or nothing when it is not a time.
std::optional<std::string> NormaliseSince(const std::string &text);

} // namespace kestrune::records
