// Whether a program on this machine still runs, to tell a claim left by a
// program that ended from one still in use. A process number alone may be
// given again to another program once the first ended (after a restart of
// the machine, or once the numbers wrap): the program's start is kept with
// it, and a number now held by a program started at another time is one
// that ended.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune::serial {

int64_t CurrentProcessId();
// What tells this run of the program from another that gets its number
// later: on Linux the machine's boot and the process's start in clock
// ticks since it (/proc/PID/stat), on Windows its creation time. Empty
// when it cannot be read.
std::string ProcessStartMark(int64_t pid);
// True when it runs, or when that cannot be known. With a start mark, a
// process of that number that started at another time is not it.
bool ProcessAlive(int64_t pid, const std::string &startMark = {});

} // namespace kestrune::serial
