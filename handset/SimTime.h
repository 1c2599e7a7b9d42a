// The handset's own clock: microseconds since it was started. The protocol
// core is driven by this clock only, so tests and the fuzzer can run it on
// a virtual clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrune::handset {

using SimTime = std::chrono::microseconds;

constexpr SimTime Ms(int64_t ms) { return SimTime(ms * 1000); }

} // namespace kestrune::handset
