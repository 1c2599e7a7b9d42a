// Record times: UTC, ISO 8601 with milliseconds ("2026-12-08T05:10:00.123Z"),
// so that text order is time order in every store.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace kestrune::records {

std::string IsoUtc(std::chrono::system_clock::time_point time);

// A --since value: a date, a date and time (T or a space between), with or
// without seconds, milliseconds and a final Z, all UTC. Returns the prefix
// form that compares with stored times, or nothing when it is not a time.
std::optional<std::string> NormaliseSince(const std::string &text);

} // namespace kestrune::records
