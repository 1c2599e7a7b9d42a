// The handset's end of a pseudo-terminal. The handset keeps the master and
// also a descriptor of the slave of its own: without it every host close
// would leave the master in a hang-up state (reads fail with EIO, poll
// reports POLLHUP at once), and the slave's exclusive-open flag, which
// outlives the host's close on a pseudo-terminal, could not be cleared. With
// the slave held open the master never sees the host go, so the host's
// opens and closes are watched with inotify on the slave's path: the events
// come in order, one per open and one per close, so even a close followed
// at once by a new open is seen.
#pragma once

#include "handset/LineModel.h"

#include <string>
#include <vector>

namespace kestrune::handset {

class PtyLine {
public:
  PtyLine() = default;
  ~PtyLine() { Close(); }
  PtyLine(const PtyLine &) = delete;
  PtyLine &operator=(const PtyLine &) = delete;

  // False with the reason in error.
  bool Create(std::string &error);
  // The cable is pulled: the host's reads and writes fail from now on.
  void Close();

  int Master() const { return MasterFd; }
  int WatchFd() const { return InotifyFd; }
  const std::string &SlavePath() const { return Path; }

  // The host's line settings, read through the master.
  HostLine SampleHost() const;

  // The host's end appearing and going, in the order they happened.
  enum class HostChange { Opened, Closed };
  std::vector<HostChange> ReadHostChanges();
  // After the host has gone: what it left unread is dropped (a line keeps
  // nothing for the next opener) and its exclusive-open flag is cleared.
  void ForgetHost();

private:
  int MasterFd = -1;
  int OwnSlaveFd = -1;
  int InotifyFd = -1;
  int Openers = 0;
  std::string Path;
};

// A real serial device served by the handset: it sets its own line.
class DeviceLine {
public:
  ~DeviceLine() { Close(); }
  bool Open(const std::string &path, uint32_t rate, std::string &error);
  bool SetRate(uint32_t rate, std::string &error);
  void Drain();
  void Close();
  int Fd() const { return DeviceFd; }

private:
  int DeviceFd = -1;
};

} // namespace kestrune::handset
