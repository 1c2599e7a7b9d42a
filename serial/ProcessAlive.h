// Whether a program on this machine still runs, to tell a claim left by a
// program that ended from one still in use.
#pragma once

#include <cstdint>

namespace kestrune::serial {

int64_t CurrentProcessId();
// True when it runs, or when that cannot be known.
bool ProcessAlive(int64_t pid);

} // namespace kestrune::serial
