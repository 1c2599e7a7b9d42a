// Another program on this machine that runs until it is killed, to stand
// for a station program holding claims: on Linux a forked child, on
// Windows a command interpreter waiting on a pipe nobody writes to.
#pragma once

#include <cstdint>

namespace kestrune::serial::test {

class SleepingProgram {
public:
  // Started and running when this returns; Pid() is 0 when it could not
  // start. On Linux, name (when given) is the program's name in /proc.
  explicit SleepingProgram(const char *name = nullptr);
  ~SleepingProgram() { Kill(); }
  SleepingProgram(const SleepingProgram &) = delete;
  SleepingProgram &operator=(const SleepingProgram &) = delete;

  int64_t Pid() const { return Id; }
  // Kills it and waits until it has ended; its number may then be reused.
  void Kill();

private:
  int64_t Id = 0;
  void *Handle = nullptr; // Windows: the process and the pipe it reads
  void *Feed = nullptr;
  bool Running = false;
};

} // namespace kestrune::serial::test
