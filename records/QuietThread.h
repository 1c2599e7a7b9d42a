// The recorder's threads take no process signals: a front end that waits
// for SIGINT or SIGTERM on a thread of its own, with the signals blocked
// everywhere else, must get them even when the recorder started first.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace kestrune::records {

// Called first thing on each of the recorder's threads.
inline void BlockProcessSignals() {
#ifndef _WIN32
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
#endif
}

} // namespace kestrune::records
