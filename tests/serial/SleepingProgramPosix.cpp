#include "tests/serial/SleepingProgram.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrune::serial::test {

SleepingProgram::SleepingProgram(const char *name) {
  int ready[2];
  if (pipe(ready) != 0)
    return;
  const pid_t child = fork();
  if (child == 0) {
    if (name)
      prctl(PR_SET_NAME, name);
    (void)!write(ready[1], "1", 1);
    pause();
    _exit(0);
  }
  char c = 0;
  const bool started = child > 0 && read(ready[0], &c, 1) == 1;
  close(ready[0]);
  close(ready[1]);
  if (child > 0) {
    Id = child;
    Running = true;
  }
  if (!started)
    Kill();
}

void SleepingProgram::Kill() {
  if (!Running)
    return;
  kill(pid_t(Id), SIGKILL);
  waitpid(pid_t(Id), nullptr, 0);
  Running = false;
}

} // namespace kestrune::serial::test
