// Times for people and machines to read alike: UTC, ISO 8601 with
// milliseconds ("2026-12-08T05:10:00.123Z"), so that text order is time
// order.
#pragma once

#include <chrono>
#include <string>

namespace kestrune {

std::string IsoUtcTime(std::chrono::system_clock::time_point time);

} // namespace kestrune
