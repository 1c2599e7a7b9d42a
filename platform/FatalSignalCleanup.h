// Files removed when SIGINT, SIGTERM or SIGHUP ends the process (POSIX
// only; on Windows a dead writer's temporary is left to
// RemoveDeadTemporaries). While any file is armed, each of these signals
// whose action is the default one is taken by a handler that removes the
// armed files and then lets the signal end the process as before. A signal
// the process ignores or handles itself is left alone: that process
// decides when it ends.
#pragma once

#include <string>

namespace kestrune {

// Arms removal of path; returns a ticket for DisarmFatalSignalCleanup, or
// -1 when no slot is free (the file is then left to RemoveDeadTemporaries).
int ArmFatalSignalCleanup(const std::string &path);
void DisarmFatalSignalCleanup(int ticket);

// Removes every armed file now. Safe to call from a signal handler: for a
// front end that takes these signals itself and ends the process.
void RemoveArmedFiles();

} // namespace kestrune
